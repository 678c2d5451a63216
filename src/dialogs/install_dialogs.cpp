#include "dialogs/install_dialogs.h"

#include <memory>

#include "control/preview_control.h"
#include "dialogs/about_dlg.h"
#include "dialogs/setting_dlg.h"

namespace orvane {

ViewerDialogFactories ViewerDialogs() {
    ViewerDialogFactories factories;
    factories.settings = [](QWidget* parent, IPreviewControl& preview) -> std::unique_ptr<IViewerSettingsDialog> {
        return std::make_unique<CSettingDlg>(&preview, parent);
    };
    factories.about = [](QWidget* parent, IPreviewControl& preview) {
        AboutDlgServices services;
        services.settings = &preview.Settings();
        services.strings = &preview.Strings();
        CAboutDlg about(parent, services);
        about.exec();
    };
    return factories;
}

}  // namespace orvane
