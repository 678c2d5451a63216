#pragma once

#include <functional>
#include <memory>

class QDialog;

namespace orvane {

class CMainViewerDlg;

// The settings dialog as the main viewer drives it: run modally, told when the camera list changed,
// and sent WM_PREVIEW_STARTED after every successful preview start while it is open.
class IViewerSettingsDialog {
public:
    virtual ~IViewerSettingsDialog() = default;
    // The dialog window; the viewer runs it with exec() and posts WM_PREVIEW_STARTED to it.
    virtual QDialog& Dialog() = 0;
    // The viewer's camera list changed.
    virtual void FillDeviceList() = 0;
};

// Where the dialogs plug into the viewer. The programs install the dialogs before the viewer runs;
// without them the Settings and About commands do nothing.
struct ViewerDialogFactories {
    // Makes the settings dialog with the viewer as its parent.
    std::function<std::unique_ptr<IViewerSettingsDialog>(CMainViewerDlg& viewer)> settings;
    // Shows the about box modally.
    std::function<void(CMainViewerDlg& viewer)> about;
};

// Interface thread.
void SetViewerDialogFactories(ViewerDialogFactories factories);
const ViewerDialogFactories& GetViewerDialogFactories();

}  // namespace orvane
