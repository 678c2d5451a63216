// The main viewer's Tools menu (overlays, burn-in, calibration) and its keyboard shortcuts; the rest of
// the window is in main_viewer_dlg.cpp.
#include "viewer/main_viewer_dlg.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTextEdit>
#include <optional>

#include "base/alert_sink.h"
#include "config/registry.h"
#include "config/setting_param_manage.h"
#include "imaging/scale_calibration.h"
#include "viewer/calibration_dlg.h"
#include "viewer/picture_overlay.h"
#include "viewer/preview_window.h"
#include "viewer/video_host.h"
#include "viewer/viewer_controls.h"
#include "viewer/viewer_layout.h"

namespace orvane {

namespace {

// The Tools menu's lasting choices, beside the remembered device.
constexpr const char* kToolsKey = "Software\\zentrova\\Tools";
constexpr const char* kScaleBarValue = "scalebar";
constexpr const char* kBurnInValue = "scalebarburnin";

// A control that takes typed letters and spaces itself.
bool TakesText(const QWidget* widget) {
    if (widget == nullptr) return false;
    if (qobject_cast<const QLineEdit*>(widget) != nullptr || qobject_cast<const QTextEdit*>(widget) != nullptr ||
        qobject_cast<const QPlainTextEdit*>(widget) != nullptr ||
        qobject_cast<const QAbstractSpinBox*>(widget) != nullptr)
        return true;
    const auto* combo = qobject_cast<const QComboBox*>(widget);
    return combo != nullptr && combo->isEditable();
}

}  // namespace

// Keys with a modifier are shortcuts of the window; Space, R and T are taken in eventFilter so that a
// focused button or text field keeps them.
void CMainViewerDlg::SetUpShortcuts() {
    const std::pair<QKeySequence, int> shortcuts[] = {
        {QKeySequence(Qt::Key_F11), viewer_id::kFullScreen},
        {QKeySequence(Qt::CTRL | Qt::Key_Comma), viewer_id::kSettings},
        {QKeySequence(Qt::CTRL | Qt::Key_Q), viewer_id::kExit},
    };
    for (const auto& [keys, id] : shortcuts) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        shortcut->setAutoRepeat(false);
        connect(shortcut, &QShortcut::activated, this, [this, id = id] { PressShortcut(id); });
    }
}

void CMainViewerDlg::OnToolsCommand(int commandId) {
    if (commandId == viewer_id::kToolsCalibrate) {
        OnCalibrate();
        return;
    }
    const bool checked = !layout->IsToolsChecked(commandId);
    switch (commandId) {
        case viewer_id::kToolsScaleBar:
            if (overlay != nullptr) overlay->ShowScaleBar(checked);
            break;
        case viewer_id::kToolsCrosshair:
            if (overlay != nullptr) overlay->ShowCrosshair(checked);
            break;
        case viewer_id::kToolsGrid:
            if (overlay != nullptr) overlay->ShowGrid(checked);
            break;
        case viewer_id::kToolsMeasure:
            if (overlay != nullptr) overlay->SetMeasuring(checked);
            break;
        case viewer_id::kToolsBurnIn:
            break;
        default:
            return;
    }
    layout->SetToolsCheck(commandId, checked);
    if (commandId == viewer_id::kToolsScaleBar || commandId == viewer_id::kToolsBurnIn) SaveToolChoices();
    if (commandId == viewer_id::kToolsBurnIn) ApplyScale();
}

void CMainViewerDlg::LoadToolChoices() {
    CRegistry key(services.hive);
    if (!key.Open(kToolsKey)) return;
    uint32_t scaleBar = 0;
    uint32_t burnIn = 0;
    key.ReadDword(kScaleBarValue, scaleBar);
    key.ReadDword(kBurnInValue, burnIn);
    layout->SetToolsCheck(viewer_id::kToolsScaleBar, scaleBar != 0);
    layout->SetToolsCheck(viewer_id::kToolsBurnIn, burnIn != 0);
    if (overlay != nullptr) overlay->ShowScaleBar(scaleBar != 0);
}

void CMainViewerDlg::SaveToolChoices() {
    CRegistry key(services.hive);
    if (!key.Create(kToolsKey)) return;
    key.WriteDword(kScaleBarValue, layout->IsToolsChecked(viewer_id::kToolsScaleBar) ? 1u : 0u);
    key.WriteDword(kBurnInValue, layout->IsToolsChecked(viewer_id::kToolsBurnIn) ? 1u : 0u);
}

bool CMainViewerDlg::ClearMeasuredLines() { return overlay != nullptr && overlay->ClearLines(); }

void CMainViewerDlg::ApplyScale() {
    const CaptureResolution capture = settings.GetUsingParam().GetCaptureResolution();
    if (overlay != nullptr) overlay->SetPictureSize(QSize(capture.width, capture.height));
    std::optional<Calibration> active;
    if (HasCurrentDevice()) active = calibrations.Active(currentIdentity);
    const double metresPerPixel = active ? PixelSizeAt(*active, capture.width) : 0;
    if (metresPerPixel > 0) {
        const bool burnIn = layout != nullptr && layout->IsToolsChecked(viewer_id::kToolsBurnIn);
        scaleOverlay.Set(metresPerPixel, active->unit, burnIn);
        if (overlay != nullptr) overlay->SetCalibration(metresPerPixel, active->unit);
    } else {
        scaleOverlay.Clear();
        if (overlay != nullptr) overlay->SetCalibration(0, LengthUnit::Micrometre);
    }
}

CCalibrationDlg* CMainViewerDlg::CalibrationDialog() const { return calibrationDialog.data(); }

void CMainViewerDlg::OnCalibrate() {
    if (calibrationDialog != nullptr) {
        calibrationDialog->raise();
        calibrationDialog->activateWindow();
        return;
    }
    CPreviewWindow* preview = PreviewWindow();
    const QImage still = preview != nullptr ? preview->VideoHost()->CurrentPicture() : QImage();
    if (!HasCurrentDevice() || still.isNull()) {
        ShowAlert(Text(keys::kCalibrateNoPicture));
        return;
    }
    // The still is copied: the dialog keeps it however the live picture goes on. A picture only shown
    // may have been converted smaller than the capture: the dialog measures in capture pixels.
    const CaptureResolution capture = settings.GetUsingParam().GetCaptureResolution();
    const bool smaller = capture.width > still.width() && capture.height > still.height();
    const QImage picture = smaller ? still.scaled(capture.width, capture.height, Qt::IgnoreAspectRatio,
                                                  Qt::SmoothTransformation)
                                   : still.copy();
    auto* dialog = new CCalibrationDlg(picture, currentIdentity, calibrations, strings, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &CCalibrationDlg::CalibrationsChanged, this, &CMainViewerDlg::ApplyScale);
    connect(dialog, &QDialog::finished, this, &CMainViewerDlg::ApplyScale);
    calibrationDialog = dialog;
    dialog->open();
}

void CMainViewerDlg::PressShortcut(int controlId) {
    if (controlId == viewer_id::kFullScreen && IsFullScreen()) {
        ExitFullScreen();
        return;
    }
    // As a click: nothing while the button is disabled. The settings dialog and the exit question
    // run their own loops, so the click comes from the event loop rather than from the key's handling.
    QAbstractButton* button = Button(controlId);
    if (button == nullptr || !button->isEnabled()) return;
    QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
}

bool CMainViewerDlg::HandleKey(QKeyEvent* key) {
    if (key->key() == Qt::Key_Escape) {
        // Full screen is left first; out of full screen the measured lines go.
        if (IsFullScreen()) {
            ExitFullScreen();
            return true;
        }
        return ClearMeasuredLines();
    }
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    QWidget* focus = QApplication::focusWidget();
    if (TakesText(focus)) return false;
    int id = 0;
    switch (key->key()) {
        case Qt::Key_Space:
            // A focused button is pressed by Space itself; the key then takes no photo as well.
            if (qobject_cast<QAbstractButton*>(focus) != nullptr) return false;
            id = viewer_id::kTakePhoto;
            break;
        case Qt::Key_R:
            id = viewer_id::kRecording;
            break;
        case Qt::Key_T:
            id = viewer_id::kTimedShot;
            break;
        default:
            return false;
    }
    if (!key->isAutoRepeat()) PressShortcut(id);
    return true;
}

}  // namespace orvane
