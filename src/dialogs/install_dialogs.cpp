#include "dialogs/install_dialogs.h"

#include <memory>

#include "dialogs/about_dlg.h"
#include "dialogs/setting_dlg.h"
#include "viewer/main_viewer_dlg.h"
#include "viewer/viewer_dialogs.h"

namespace orvane {

void InstallDialogs() {
    ViewerDialogFactories factories;
    factories.settings = [](CMainViewerDlg& viewer) -> std::unique_ptr<IViewerSettingsDialog> {
        return std::make_unique<CSettingDlg>(&viewer, &viewer);
    };
    factories.about = [](CMainViewerDlg& viewer) {
        AboutDlgServices services;
        services.settings = &viewer.Settings();
        services.strings = &viewer.Strings();
        CAboutDlg about(&viewer, services);
        about.exec();
    };
    SetViewerDialogFactories(std::move(factories));
}

}  // namespace orvane
