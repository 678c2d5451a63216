#pragma once

#include <QDialog>
#include <cstdint>
#include <map>
#include <vector>

#include "capture/camera_controls.h"

class QLabel;
class QWidget;

namespace orvane {

class CCaptureVideo;
class CLocalizableString;

// The controls of the previewed camera, generated from the list the camera reports: a slider with a
// number box for each integer, a check box for each switch, a list for each menu and a push button
// for each action. A change is written to the camera at once (and remembered for the camera by the
// capture object); controls that the camera marks as depending on others are read again after each
// change, so greyed-out controls follow their automatic modes. A camera without a snapshot button is
// said to have none, in a plain line below the controls. Caption "zentrova".
// Interface thread only; the capture object must outlive the dialog.
class CCameraControlsDlg final : public QDialog {
    Q_OBJECT

public:
    // strings: where the button texts come from (null: the process-wide table).
    CCameraControlsDlg(CCaptureVideo& session, QWidget* parent = nullptr,
                       CLocalizableString* strings = nullptr);

    // The editing widget of a control; null for a control that is not shown.
    QWidget* Editor(uint32_t id) const;
    // The controls as last read from the camera.
    const std::vector<CameraControl>& Controls() const { return controls; }

    // Writes `value` to control `id` and brings the widgets in line with the camera again. False when
    // the camera refused the value (the widget then shows the camera's value).
    bool ApplyValue(uint32_t id, int32_t value);
    // Every control that keeps a value back to the camera's default: the manual values, then the
    // automatic modes that govern them.
    void RestoreDefaults();
    // Reads every control again and updates values and enabled states without writing anything.
    void Refresh();

    static constexpr const char* kCaption = "zentrova";

private:
    QWidget* MakeEditor(const CameraControl& control);
    void ShowValue(const CameraControl& control);
    const CameraControl* Find(uint32_t id) const;

    CCaptureVideo& session;
    CLocalizableString& strings;
    std::vector<CameraControl> controls;
    std::map<uint32_t, QWidget*> editors;  // by control id
    std::map<uint32_t, QLabel*> labels;    // by control id
};

}  // namespace orvane
