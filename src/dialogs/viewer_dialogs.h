#pragma once

#include <functional>
#include <memory>

class QDialog;
class QWidget;

namespace orvane {

class IPreviewControl;

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

// The dialogs the main viewer opens, given to it with its services; without them the Settings and
// About commands do nothing.
struct ViewerDialogFactories {
    // Makes the settings dialog over the viewer's preview, with `parent` as its parent window.
    std::function<std::unique_ptr<IViewerSettingsDialog>(QWidget* parent, IPreviewControl& preview)> settings;
    // Shows the about box modally.
    std::function<void(QWidget* parent, IPreviewControl& preview)> about;
};

}  // namespace orvane
