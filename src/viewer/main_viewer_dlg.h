#pragma once

#include <QDialog>
#include <QPoint>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "capture/capture_state.h"
#include "capture/capture_video.h"
#include "capture/capture_viewer.h"
#include "capture/resolution_list.h"
#include "config/calibration_store.h"
#include "config/setting.h"
#include "control/capture_controller.h"
#include "control/preview_control.h"
#include "dispatch/grabber_owner.h"
#include "dispatch/photo_saver.h"
#include "dispatch/recording_control.h"
#include "dispatch/scale_overlay.h"
#include "localization/string_keys.h"
#include "viewer/device_selection.h"
#include "viewer/device_work.h"
#include "viewer/status_prompt.h"
#include "viewer/viewer_services.h"

class QAbstractButton;
class QKeyEvent;
class QLabel;

namespace orvane {

class CAlertPresenter;
class CCalibrationDlg;
class CPictureOverlay;
class CDeviceSelection;
class CLocalizableString;
class CPreviewWindow;
class CQtTranslations;
class CResourceBrowserView;
class CResourceWindow;
class CSavingLoactionManage;
class CSettingParamManage;
class CStatusPrompt;
class CViewerLayout;
class CWifiDeviceProxy;
class IViewerSettingsDialog;
class RotateSampleImp;

// The program's main window: the live picture of one camera with the capture actions (single photo,
// timed shots, movie recording), rotation and flipping, full screen, the settings and about dialogs
// and exit. It is the only party that starts and stops previews, timed shots and recordings; the
// frame dispatcher and the saver thread answer it only by posting messages.
//
// Every operation runs on the interface thread unless it says otherwise.
class CMainViewerDlg final : public QDialog, public IGrabberOwner, public ICaptureViewer, public ICaptureView,
                             public IDeviceHost, public IPreviewControl, public IStatusPromptHost {
    Q_OBJECT

public:
    // Builds the window and starts the timed-shot saver thread; the first preview starts from the
    // event loop (WM_START_PREVIEW) once set-up has finished.
    explicit CMainViewerDlg(const ViewerServices& services = {}, QWidget* parent = nullptr);
    // Stops every capture action and the preview, then ends and joins the saver thread.
    ~CMainViewerDlg() override;

    CMainViewerDlg(const CMainViewerDlg&) = delete;
    CMainViewerDlg& operator=(const CMainViewerDlg&) = delete;

    // --- Previews and capture actions -----------------------------------------------------------

    // The only way a preview is started or restarted. False, with nothing changed, for an index that
    // names no device (kWifiDeviceIndex names the wireless camera) or while there is no live pane;
    // false after a failed start, which leaves no device previewed.
    bool PreviewDevice(int32_t deviceIndex, CaptureResolution resolution) override;
    // Restarts the preview of the current device at width x height unless that is the capture size
    // already. False when the restart failed or nothing is previewed.
    bool ApplyCaptureSize(int32_t width, int32_t height) override;
    // Leaves every capture state and stops the preview.
    void StopEverything() override;
    bool StopEverythingForRemovedCamera() override;
    // The last listed format, in key order, whose width is at most 2048; the outputs stay untouched
    // when there is none.
    void LargestListedResolution(int32_t& width, int32_t& height) const;

    // Creates the storage folders and returns true when the user folder exists; otherwise warns.
    bool CheckStorageFolder();
    bool HasCurrentDevice() const override { return !currentIdentity.empty(); }
    // The cannot-preview text while devices are listed, else the no-camera text.
    std::string GetPreviewErrorText() override;
    void ShowPreviewError() override;
    // The no-camera warning, only while no device is listed and the viewer is not in full screen.
    void ShowNoCameraAlert() override;

    // Sets the five action buttons to `enable`; when disabling, `keep` is enabled again.
    void EnableToolbar(bool enable, QAbstractButton* keep = nullptr);
    void EnableActions(bool enable, std::optional<CaptureAction> keep) override;
    void SetActionCaption(CaptureAction action, const std::string& caption) override;
    void UpdateRecordingCaption();
    void UpdateTimedShotCaption();
    void EndTimedShots();
    void EndRecording();
    // Asks whether to exit; on OK stops everything and ends the dialog. True when the user chose OK.
    bool ConfirmExit();

    // Commands of the toolbar and the rotate menu.
    void OnTakePhoto();
    void OnTimedShot();
    void OnRecording();
    void OnSettings();
    void OnAbout();
    // A Tools menu command: switches an overlay or the burn-in, or opens the calibration dialog.
    void OnToolsCommand(int commandId);
    // Removes the measured lines; false when there were none.
    bool ClearMeasuredLines();
    // Opens the calibration dialog over a still of the live picture (the no-picture alert without one).
    void OnCalibrate();
    // Gives the active calibration of the previewed camera at the capture size to the overlay on
    // screen and to the frame path, with the burn-in choice.
    void ApplyScale();
    // What the key of a button's shortcut does: the same as clicking the button.
    void PressShortcut(int controlId);
    // One of the five rotate/flip command ids: adds the operation and moves the check mark.
    void OnRotateCommand(int commandId);

    // --- Layout and full screen -------------------------------------------------------------------

    // Every localized text of the viewer, Qt's own texts (message boxes, file dialogs) included.
    void LoadCaptions();
    void Layout(int cx, int cy);
    void EnterFullScreen();
    void ExitFullScreen();
    bool IsFullScreen() const;

    // --- Devices ------------------------------------------------------------------------------------

    std::string GetDeviceIdentity(int32_t index) const;
    int32_t FindDeviceIndex(const std::string& identity) const override;
    int32_t FindDefaultDeviceIndex() const;
    int32_t LoadPreviewedIdentity() const override;
    void SavePreviewedIdentity(const std::string& identity);
    CaptureResolution LoadPreviewedResolution() const override;
    void SavePreviewedResolution(const CaptureResolution& resolution);
    void SavePreviewedDevice();
    void PreviewSavedOrDefaultDevice();
    // Re-reads the camera list after an arrival or removal and previews what should be previewed.
    void OnDeviceChanged();
    // Lists the cameras into the device list; the number listed, or -1. The nodes are questioned on
    // the device thread; the list changes only when the answer is complete.
    int32_t EnumDevices() override;
    void RunDeviceWork(const std::function<void()>& work) override { deviceWork.Run(work); }
    bool DeviceWorkBusy() const override { return deviceWork.Busy(); }
    // Forgets the previewed device and its formats and clears the picture.
    void ForgetCurrentDevice() override;
    // The previewed camera stopped delivering frames and a restart did not help (its message was
    // shown): ends every capture action (a recording is closed and announced) and forgets the device.
    void OnStreamLost();

    // --- Status line ----------------------------------------------------------------------------

    void UpdatePrompt(QPoint point, bool onlyButtons);
    void SetPrompt(const std::string& text);

    // --- What the engine sees (any thread where stated) ---------------------------------------------

    // Any thread.
    CaptureState& GetCaptureState() override { return controller.State(); }
    // Any thread; never blocks. Handled in the event loop.
    void PostViewerMessage(uint32_t message) override;
    // Any thread.
    IResourceWindow* GetResourceWindow() override;
    void SetResolutionList(const ResolutionList& list) override { resolutionList = list; }
    bool LargestListedResolution(CaptureResolution& resolution) override;

    // --- Parts for the dialogs and the tests ------------------------------------------------------

    CCaptureVideo& CaptureSession() override { return captureSession; }
    CPhotoSaver& PhotoSaver() { return photoSaver; }
    const DeviceList& GetDeviceList() const override { return deviceList; }
    const std::string& CurrentIdentity() const override { return currentIdentity; }
    const ResolutionList& GetResolutionList() const override { return resolutionList; }
    const CaptureResolution& ResolutionBeforeRecording() const { return controller.ResolutionBeforeRecording(); }
    CCaptureController& Controller() { return controller; }
    CPictureOverlay* PictureOverlay() const { return overlay; }
    CScaleOverlay& ScaleOverlay() { return scaleOverlay; }
    CCalibrationStore& Calibrations() { return calibrations; }
    // The open calibration dialog, or null.
    CCalibrationDlg* CalibrationDialog() const;
    int CheckedRotateItem() const { return checkedRotateItem; }
    // The open settings dialog, or null.
    IViewerSettingsDialog* SettingsDialog() const override { return settingsDialog; }
    CViewerLayout& ViewerLayout() const { return *layout; }
    CStatusPrompt& Prompt() const { return *prompt; }
    CDeviceSelection& DeviceSelection() const { return *devices; }
    CPreviewWindow* PreviewWindow() const;
    CResourceWindow* ResourceWindow() const;
    CResourceBrowserView* BrowserView() const;
    QAbstractButton* Button(int controlId) const override;
    CSettingParamManage& Settings() const override { return settings; }
    CLocalizableString& Strings() const override { return strings; }
    // GetString of the viewer's string table.
    std::string Text(const StringKey& text) const;

public Q_SLOTS:
    void reject() override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void SetUp();
    // The scale bar and burn-in choices of the Tools menu, kept in the hive across runs.
    void LoadToolChoices();
    void SaveToolChoices();
    // F11, Ctrl+, and Ctrl+Q as shortcuts of the window.
    void SetUpShortcuts();
    // Space, R, T and Escape pressed in the viewer's own window; true when the key was used.
    bool HandleKey(QKeyEvent* key);
    void StartSaverThread();
    void HandleViewerMessage(uint32_t message);
    // Messages and a close that came while a device call was under way, handled once it is over.
    void OnDeviceWorkIdle();
    void ShowLeftColumn() override;
    void ShowNotice(const std::string& text) override;
    void WithdrawNotice(const std::string& text) override;
    bool CaptureResolutionChanged() const;

    ViewerServices services;
    CSettingParamManage& settings;
    CLocalizableString& strings;
    CSavingLoactionManage& locations;
    RotateSampleImp& rotation;
    CWifiDeviceProxy& wifiLink;

    // Its capture state is read by the streaming threads on every frame, so it outlives them.
    CCaptureController controller;
    // The calibration the saver and the grabbers read; outlives both.
    CScaleOverlay scaleOverlay;
    CCalibrationStore calibrations;
    CPhotoSaver photoSaver;
    CRecordingControl recordingControl;
    CCaptureVideo captureSession;
    CDeviceWork deviceWork;
    std::vector<uint32_t> heldMessages;
    bool closeHeld = false;
    DeviceList deviceList;
    std::string currentIdentity;  // empty = nothing previewed
    ResolutionList resolutionList;
    int checkedRotateItem = 0;
    IViewerSettingsDialog* settingsDialog = nullptr;
    CPictureOverlay* overlay = nullptr;  // a child of the video host
    QPointer<CCalibrationDlg> calibrationDialog;
    std::atomic<IResourceWindow*> resourceWindowHook{nullptr};

    std::unique_ptr<CAlertPresenter> alertPresenter;     // when no sink was given
    std::unique_ptr<CQtTranslations> ownQtTranslations;  // when none was given
    CQtTranslations* qtTranslations = nullptr;
    std::unique_ptr<CViewerLayout> layout;
    std::unique_ptr<CStatusPrompt> prompt;
    std::unique_ptr<CDeviceSelection> devices;
};

}  // namespace orvane
