#include "viewer/main_viewer_dlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

#include "base/alert_sink.h"
#include "base/clock.h"
#include "base/text.h"
#include "capture/wifi_device_proxy.h"
#include "config/setting_param_manage.h"
#include "dispatch/photo_saver.h"
#include "dispatch/sample_grabber_cb.h"
#include "imaging/rotate_sample_imp.h"
#include "localization/localizable_string.h"
#include "media/saving_loaction_manage.h"
#include "media/ui/resource_window.h"
#include "recording/recording_slot.h"
#include "viewer/alert_presenter.h"
#include "viewer/device_selection.h"
#include "viewer/picture_overlay.h"
#include "viewer/preview_window.h"
#include "viewer/qt_translations.h"
#include "viewer/status_prompt.h"
#include "viewer/video_host.h"
#include "viewer/viewer_controls.h"
#include "dialogs/viewer_dialogs.h"
#include "viewer/viewer_events.h"
#include "viewer/viewer_layout.h"

namespace orvane {

namespace {

constexpr int32_t kLargestPreferredWidth = 2048;

template <class T>
T& Or(T* given, T* processWide) {
    return given != nullptr ? *given : *processWide;
}

int ActionButton(CaptureAction action) {
    switch (action) {
        case CaptureAction::TakePhoto:
            return viewer_id::kTakePhoto;
        case CaptureAction::TimedShot:
            return viewer_id::kTimedShot;
        case CaptureAction::Recording:
            break;
    }
    return viewer_id::kRecording;
}

bool IsOwnWindow(const QWidget* viewer, const QObject* watched) {
    if (!watched->isWidgetType()) return false;
    return static_cast<const QWidget*>(watched)->window() == viewer;
}

}  // namespace

CMainViewerDlg::CMainViewerDlg(const ViewerServices& services_, QWidget* parent)
    : QDialog(parent),
      services(services_),
      settings(Or(services_.settings, CSettingParamManage::GetInstance())),
      strings(Or(services_.strings, CLocalizableString::GetInstance())),
      locations(Or(services_.locations, CSavingLoactionManage::GetInstance())),
      rotation(Or(services_.rotation, RotateSampleImp::GetInstance())),
      wifiLink(Or(services_.wifiLink, CWifiDeviceProxy::GetInstance())),
      controller(CaptureControllerServices{&settings, &locations, &strings, &captureSession, &g_previewGrabber},
                 *this),
      calibrations(services_.hive),
      photoSaver(PhotoSaverServices{&settings, &locations, &strings, &scaleOverlay}),
      recordingControl(&settings, this),
      captureSession(CaptureVideoServices{services_.device, &wifiLink, &strings, services_.hive,
                                          &g_previewGrabber, &g_stillGrabber, &recordingControl}) {
    if (services.qtTranslations != nullptr) {
        qtTranslations = services.qtTranslations;
    } else {
        ownQtTranslations = std::make_unique<CQtTranslations>();
        qtTranslations = ownQtTranslations.get();
    }
    if (services.alerts != nullptr) {
        SetAlertSink(services.alerts);
    } else {
        alertPresenter = std::make_unique<CAlertPresenter>();
        alertPresenter->SetOwner(this);
        SetAlertSink(alertPresenter.get());
    }
    captureSession.SetViewer(this);
    connect(&deviceWork, &CDeviceWork::Idle, this, &CMainViewerDlg::OnDeviceWorkIdle);
    // Runs on the capture thread: the viewer handles it in its event loop.
    captureSession.SetStreamLostHandler([this] { PostViewerMessage(kStreamLostMessage); });
    captureSession.SetFramesUnreadableHandler([this] { PostViewerMessage(kFramesUnreadableMessage); });
    for (CSampleGrabberCB* grabber : {&g_previewGrabber, &g_stillGrabber}) {
        grabber->SetServices({&rotation, &settings, &locations, &photoSaver, &scaleOverlay});
        grabber->owner.store(this);
    }
    StartSaverThread();
    SetUp();
}

CMainViewerDlg::~CMainViewerDlg() {
    qApp->removeEventFilter(this);
    prompt->Stop();
    // No frame, shot or movie may reach the windows once they start to go.
    if (controller.State().recordingRunning.exchange(0) == 1) captureSession.StopRecording();
    captureSession.StopPreview();
    if (CPreviewWindow* preview = PreviewWindow()) preview->VideoHost()->Attach(nullptr);
    wifiLink.SetViewer(nullptr);
    photoSaver.Stop();
    resourceWindowHook.store(nullptr);
    for (CSampleGrabberCB* grabber : {&g_previewGrabber, &g_stillGrabber}) {
        grabber->owner.store(nullptr);
        grabber->SetServices({});
    }
    devices.reset();
    SetAlertSink(nullptr);
}

void CMainViewerDlg::StartSaverThread() {
    if (!photoSaver.Start(this)) {
        QMessageBox box(QMessageBox::Warning, QString::fromUtf8(CAlertPresenter::kCaption),
                        QString::fromStdString(Text(keys::kAlertRunFailure)), QMessageBox::Ok);
        box.exec();
        std::exit(0);
    }
}

void CMainViewerDlg::SetUp() {
    setObjectName(QStringLiteral("mainViewer"));
    setModal(true);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    setMouseTracking(true);

    layout = std::make_unique<CViewerLayout>(*this, strings);
    setWindowIcon(layout->AppIcon());
    layout->CreateControls();
    for (int id : {viewer_id::kTakePhoto, viewer_id::kTimedShot, viewer_id::kRecording, viewer_id::kSettings,
                   viewer_id::kAbout, viewer_id::kExit, viewer_id::kFullScreen}) {
        QAbstractButton* button = Button(id);
        connect(button, &QAbstractButton::clicked, this, [this, id] {
            switch (id) {
                case viewer_id::kTakePhoto:
                    OnTakePhoto();
                    break;
                case viewer_id::kTimedShot:
                    OnTimedShot();
                    break;
                case viewer_id::kRecording:
                    OnRecording();
                    break;
                case viewer_id::kSettings:
                    OnSettings();
                    break;
                case viewer_id::kAbout:
                    OnAbout();
                    break;
                case viewer_id::kExit:
                    ConfirmExit();
                    break;
                case viewer_id::kFullScreen:
                    EnterFullScreen();
                    break;
                default:
                    break;
            }
        });
    }
    connect(layout.get(), &CViewerLayout::RotateCommand, this, &CMainViewerDlg::OnRotateCommand);
    connect(layout.get(), &CViewerLayout::ToolsCommand, this, &CMainViewerDlg::OnToolsCommand);
    SetUpShortcuts();
    connect(layout.get(), &CViewerLayout::PointerOverButton, this,
            [this](QPoint position) { UpdatePrompt(position, true); });

    locations.CreateResourceFolders();
    layout->CreatePanes(settings, controller.State());
    if (CPreviewWindow* preview = PreviewWindow()) {
        preview->SetMessageTarget(this);
        preview->VideoHost()->Attach(&captureSession.LiveFrames());
        overlay = new CPictureOverlay(*preview->VideoHost());
        // The live picture holds the focus from the start, not the first button of the toolbar.
        preview->VideoHost()->setFocus(Qt::OtherFocusReason);
    }
    LoadToolChoices();
    if (CResourceWindow* window = ResourceWindow()) resourceWindowHook.store(window);
    prompt = std::make_unique<CStatusPrompt>(*this, *this, *layout->PromptLine(), settings, strings,
                                             controller.State());
    devices = std::make_unique<CDeviceSelection>(*this, settings, services.hive, services.device);

    LoadCaptions();
    EnumDevices();
    devices->RegisterDeviceArrival();
    PostViewerMessage(WM_START_PREVIEW);
    setMinimumSize(layout->MinimumSize());
    setGeometry(layout->InitialGeometry(QMargins()));
    Layout(width(), height());
    prompt->Start();
    wifiLink.SetViewer(&controller.State());
    qApp->installEventFilter(this);
}

// --- Posted messages ----------------------------------------------------------------------------

void CMainViewerDlg::PostViewerMessage(uint32_t message) {
    QCoreApplication::postEvent(this, new QEvent(ViewerEventType(message)));
}

IResourceWindow* CMainViewerDlg::GetResourceWindow() {
    return resourceWindowHook.load(std::memory_order_acquire);
}

bool CMainViewerDlg::event(QEvent* e) {
    const auto type = static_cast<uint32_t>(e->type());
    switch (type) {
        case WM_SHOT_DONE:
        case WM_TIMED_SHOT_END:
        case WM_RECORDING_END:
        case WM_START_PREVIEW:
        case WM_FIT_VIDEO_WINDOW:
        case kStreamLostMessage:
        case kFramesUnreadableMessage:
            // What a message starts may reach the device, whose call under way comes first.
            if (deviceWork.Busy()) {
                heldMessages.push_back(type);
            } else {
                HandleViewerMessage(type);
            }
            return true;
        default:
            return QDialog::event(e);
    }
}

void CMainViewerDlg::OnDeviceWorkIdle() {
    std::vector<uint32_t> held;
    held.swap(heldMessages);
    for (uint32_t message : held) PostViewerMessage(message);
    if (devices) devices->OnDeviceWorkIdle();
    // From the event loop, not from inside the call that just ended.
    if (std::exchange(closeHeld, false)) QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CMainViewerDlg::HandleViewerMessage(uint32_t message) {
    switch (message) {
        case WM_SHOT_DONE:
            controller.OnShotDone();
            break;
        case WM_TIMED_SHOT_END:
            controller.OnTimedShotEnd();
            break;
        case WM_RECORDING_END:
            controller.OnRecordingEnd();
            break;
        case WM_START_PREVIEW:
            devices->OnStartPreview();
            break;
        case WM_FIT_VIDEO_WINDOW:
            if (captureSession.HasVideoWindow()) captureSession.ResizeVideoWindow();
            break;
        case kStreamLostMessage:
            OnStreamLost();
            break;
        case kFramesUnreadableMessage:
            // What holds now, whichever word came last and whatever preview runs since.
            controller.OnFramesUnreadable(captureSession.GetCaptureStats().unreadable);
            break;
        default:
            break;
    }
}

// --- Previews -------------------------------------------------------------------------------------

bool CMainViewerDlg::PreviewDevice(int32_t deviceIndex, CaptureResolution resolution) {
    CPreviewWindow* preview = PreviewWindow();
    if (deviceIndex < 0 || preview == nullptr) return false;
    if (deviceIndex != kWifiDeviceIndex && deviceIndex >= static_cast<int32_t>(deviceList.size()))
        return false;

    preview->FitVideoArea();
    deviceWork.Run([&] { captureSession.StopPreview(); });
    rotation.ClearOperations();
    // The menu's mark shows the last turn of the list; an empty list has none.
    layout->SetRotateCheck(checkedRotateItem, 0);
    checkedRotateItem = 0;
    HRESULT hr = E_FAIL;
    deviceWork.Run([&] { hr = captureSession.StartPreview(deviceIndex, preview->VideoHost(), resolution); });
    if (FAILED(hr)) {
        captureSession.StopPreview();
        ForgetCurrentDevice();
        return false;
    }
    currentIdentity = GetDeviceIdentity(deviceIndex);
    controller.OnFramesUnreadable(false);
    // Messages about a camera that was missing, busy or silent no longer hold.
    for (const StringKey* passed :
         {&keys::kAlertNoCamera, &keys::kAlertNotPreviewDevice, &keys::kAlertCameraStopped,
          &keys::kAlertUsbBandwidth, &keys::kAlertCameraPermission}) {
        CloseAlert(Text(*passed));
    }
    const CaptureResolution stored = settings.GetUsingParam().GetCaptureResolution();
    if (resolution.width != stored.width || resolution.height != stored.height ||
        resolution.subtype != stored.subtype) {
        settings.SetCaptureResolution(resolution);
        preview->FitVideoArea();
        captureSession.ResizeVideoWindow();
    }
    ApplyScale();
    if (settingsDialog != nullptr) {
        QCoreApplication::postEvent(&settingsDialog->Dialog(),
                                    new QEvent(ViewerEventType(WM_PREVIEW_STARTED)));
    }
    return true;
}

bool CMainViewerDlg::ApplyCaptureSize(int32_t width, int32_t height) {
    const CaptureResolution stored = settings.GetUsingParam().GetCaptureResolution();
    if (width == stored.width && height == stored.height) return true;
    return PreviewDevice(FindDeviceIndex(currentIdentity),
                         CaptureResolution{width, height, stored.subtype, false});
}

void CMainViewerDlg::StopEverything() {
    controller.StopActions();
    captureSession.StopPreview();
}

bool CMainViewerDlg::StopEverythingForRemovedCamera() {
    const bool told = controller.EndActionsForRemovedCamera();
    captureSession.StopPreview();
    return told;
}

void CMainViewerDlg::LargestListedResolution(int32_t& width, int32_t& height) const {
    for (const auto& [key, entry] : resolutionList) {
        if (entry.width > kLargestPreferredWidth) continue;
        width = entry.width;
        height = entry.height;
    }
}

bool CMainViewerDlg::LargestListedResolution(CaptureResolution& resolution) {
    int32_t width = 0;
    int32_t height = 0;
    LargestListedResolution(width, height);
    if (width == 0 && height == 0) return false;
    resolution.width = width;
    resolution.height = height;
    return true;
}

void CMainViewerDlg::OnStreamLost() {
    // A preview started since has a stream of its own.
    if (!captureSession.GetCaptureStats().stalled) return;
    // The camera was told already; a recording keeps what it has and is announced, the other
    // actions end, and the silent camera is not opened again for the size before the recording.
    controller.SetResolutionBeforeRecording(settings.GetUsingParam().GetCaptureResolution());
    StopEverything();
    ForgetCurrentDevice();
}

void CMainViewerDlg::ForgetCurrentDevice() {
    currentIdentity.clear();
    resolutionList.clear();
    ApplyScale();
    if (CPreviewWindow* preview = PreviewWindow()) preview->VideoHost()->ClearPicture();
    update();
}

int32_t CMainViewerDlg::EnumDevices() {
    DeviceList listed;
    int32_t count = -1;
    deviceWork.Run([&] { count = captureSession.EnumDevices(listed); });
    deviceList = std::move(listed);
    return count;
}

// --- Guards and messages ------------------------------------------------------------------------

std::string CMainViewerDlg::Text(const StringKey& text) const { return strings.GetString(text); }

bool CMainViewerDlg::CheckStorageFolder() { return controller.CheckStorageFolder(); }

std::string CMainViewerDlg::GetPreviewErrorText() {
    if (!deviceList.empty()) {
        return Text(keys::kAlertNotPreviewDevice);
    }
    return Text(keys::kAlertNoCamera);
}

void CMainViewerDlg::ShowPreviewError() {
    if (deviceList.empty()) {
        ShowNoCameraAlert();
        return;
    }
    ShowAlert(GetPreviewErrorText());
}

void CMainViewerDlg::ShowNoCameraAlert() {
    if (!deviceList.empty() || IsFullScreen()) return;
    ShowAlert(GetPreviewErrorText());
}

// --- Capture actions ------------------------------------------------------------------------------

void CMainViewerDlg::EnableToolbar(bool enable, QAbstractButton* keep) {
    for (int id : {viewer_id::kTakePhoto, viewer_id::kTimedShot, viewer_id::kRecording, viewer_id::kSettings,
                   viewer_id::kAbout}) {
        if (QAbstractButton* button = Button(id)) button->setEnabled(enable);
    }
    if (!enable && keep != nullptr) keep->setEnabled(true);
}

void CMainViewerDlg::EnableActions(bool enable, std::optional<CaptureAction> keep) {
    EnableToolbar(enable, keep ? Button(ActionButton(*keep)) : nullptr);
}

void CMainViewerDlg::SetActionCaption(CaptureAction action, const std::string& caption) {
    if (action != CaptureAction::TakePhoto) layout->SetCaption(ActionButton(action), caption);
}

void CMainViewerDlg::UpdateRecordingCaption() { controller.UpdateCaptions(); }

void CMainViewerDlg::UpdateTimedShotCaption() { controller.UpdateCaptions(); }

void CMainViewerDlg::ShowLeftColumn() { layout->RestoreLeftColumn(); }

void CMainViewerDlg::ShowNotice(const std::string& text) {
    if (prompt != nullptr) prompt->ShowNotice(text);
    // The box stands beside the window and stops nothing; it shows in full screen too.
    ShowAlert(text);
}

void CMainViewerDlg::WithdrawNotice(const std::string& text) {
    if (prompt != nullptr) prompt->WithdrawNotice(text);
    CloseAlert(text);
}

void CMainViewerDlg::OnTakePhoto() { controller.TakePhoto(); }

void CMainViewerDlg::OnTimedShot() { controller.ToggleTimedShots(); }

void CMainViewerDlg::EndTimedShots() { controller.EndTimedShots(); }

void CMainViewerDlg::OnRecording() { controller.ToggleRecording(); }

void CMainViewerDlg::EndRecording() { controller.EndRecording(); }

bool CMainViewerDlg::CaptureResolutionChanged() const {
    if (currentIdentity.empty() || currentIdentity == kWifiDeviceName) return false;
    const CaptureResolution now = settings.GetUsingParam().GetCaptureResolution();
    const CaptureResolution before = settings.GetLastParam().GetCaptureResolution();
    return now.width != before.width || now.height != before.height || now.subtype != before.subtype;
}

void CMainViewerDlg::OnSettings() {
    const ViewerDialogFactories& factories = services.dialogs;
    if (!factories.settings) return;
    std::unique_ptr<IViewerSettingsDialog> dialog = factories.settings(this, *this);
    if (dialog == nullptr) return;
    settingsDialog = dialog.get();
    const int result = dialog->Dialog().exec();
    settingsDialog = nullptr;
    dialog.reset();
    if (result != QDialog::Accepted) return;

    LoadCaptions();
    if (CResourceWindow* window = ResourceWindow()) window->RebuildTree();
    if (CaptureResolutionChanged()) {
        PreviewDevice(FindDeviceIndex(currentIdentity), settings.GetUsingParam().GetCaptureResolution());
    }
    if (HasCurrentDevice()) SavePreviewedDevice();
    ApplyScale();
}

void CMainViewerDlg::OnAbout() {
    const ViewerDialogFactories& factories = services.dialogs;
    if (factories.about) factories.about(this, *this);
}

void CMainViewerDlg::OnRotateCommand(int commandId) {
    RotateOp op;
    switch (commandId) {
        case viewer_id::kRotateRight90:
            op = RotateOp::RotateRight90;
            break;
        case viewer_id::kRotateLeft90:
            op = RotateOp::RotateLeft90;
            break;
        case viewer_id::kRotate180:
            op = RotateOp::Rotate180;
            break;
        case viewer_id::kFlipVertical:
            op = RotateOp::FlipVertical;
            break;
        case viewer_id::kFlipHorizontal:
            op = RotateOp::FlipHorizontal;
            break;
        default:
            return;
    }
    rotation.AddOperation(op);
    layout->SetRotateCheck(checkedRotateItem, commandId);
    checkedRotateItem = commandId;
}

bool CMainViewerDlg::ConfirmExit() {
    const std::string text = controller.ExitQuestion();
    const std::string caption = Text(keys::kExitQuestionCaption);
    bool ok;
    if (services.confirm) {
        ok = services.confirm(text, caption);
    } else {
        QMessageBox box(QMessageBox::Question, QString::fromStdString(caption), QString::fromStdString(text),
                        QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        ok = box.exec() == QMessageBox::Ok;
    }
    if (!ok) return false;
    prompt->Stop();
    StopEverything();
    accept();
    return true;
}

// --- Layout ------------------------------------------------------------------------------------------

void CMainViewerDlg::LoadCaptions() {
    qtTranslations->Apply(settings);
    layout->LoadCaptions();
    controller.UpdateCaptions();
}

void CMainViewerDlg::Layout(int cx, int cy) { layout->Layout(cx, cy); }

void CMainViewerDlg::EnterFullScreen() { layout->EnterFullScreen(); }

void CMainViewerDlg::ExitFullScreen() { layout->ExitFullScreen(); }

bool CMainViewerDlg::IsFullScreen() const { return layout != nullptr && layout->IsFullScreen(); }

CPreviewWindow* CMainViewerDlg::PreviewWindow() const {
    return layout != nullptr ? layout->PreviewWindow() : nullptr;
}

CResourceWindow* CMainViewerDlg::ResourceWindow() const {
    return layout != nullptr ? layout->ResourceWindow() : nullptr;
}

CResourceBrowserView* CMainViewerDlg::BrowserView() const {
    return layout != nullptr ? layout->BrowserView() : nullptr;
}

QAbstractButton* CMainViewerDlg::Button(int controlId) const {
    return layout != nullptr ? layout->Button(controlId) : nullptr;
}

// --- Devices -----------------------------------------------------------------------------------------

std::string CMainViewerDlg::GetDeviceIdentity(int32_t index) const {
    return devices->GetDeviceIdentity(index);
}

int32_t CMainViewerDlg::FindDeviceIndex(const std::string& identity) const {
    return devices->FindDeviceIndex(identity);
}

int32_t CMainViewerDlg::FindDefaultDeviceIndex() const { return devices->FindDefaultDeviceIndex(); }

int32_t CMainViewerDlg::LoadPreviewedIdentity() const { return devices->LoadPreviewedIdentity(); }

void CMainViewerDlg::SavePreviewedIdentity(const std::string& identity) {
    devices->SavePreviewedIdentity(identity);
}

CaptureResolution CMainViewerDlg::LoadPreviewedResolution() const {
    return devices->LoadPreviewedResolution();
}

void CMainViewerDlg::SavePreviewedResolution(const CaptureResolution& resolution) {
    devices->SavePreviewedResolution(resolution);
}

void CMainViewerDlg::SavePreviewedDevice() { devices->SavePreviewedDevice(); }

void CMainViewerDlg::PreviewSavedOrDefaultDevice() { devices->PreviewSavedOrDefaultDevice(); }

void CMainViewerDlg::OnDeviceChanged() { devices->OnDeviceChanged(); }

// --- Status line ---------------------------------------------------------------------------------

void CMainViewerDlg::UpdatePrompt(QPoint point, bool onlyButtons) {
    prompt->UpdatePrompt(point, onlyButtons);
}

void CMainViewerDlg::SetPrompt(const std::string& text) { prompt->SetPrompt(text); }

// --- Window events -------------------------------------------------------------------------------

bool CMainViewerDlg::eventFilter(QObject* watched, QEvent* e) {
    switch (e->type()) {
        case QEvent::KeyPress:
            if (IsOwnWindow(this, watched) && HandleKey(static_cast<QKeyEvent*>(e))) return true;
            break;
        case QEvent::MouseButtonDblClick:
            if (static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton && IsOwnWindow(this, watched)) {
                ExitFullScreen();
            }
            break;
        case QEvent::MouseMove:
            if (watched == this) UpdatePrompt(static_cast<QMouseEvent*>(e)->position().toPoint(), true);
            break;
        default:
            break;
    }
    return false;
}

void CMainViewerDlg::keyPressEvent(QKeyEvent* e) {
    // Enter and Escape reach the focused control but never the dialog's own handling, so neither
    // presses a default button nor closes the viewer.
    switch (e->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            e->accept();
            return;
        default:
            QDialog::keyPressEvent(e);
    }
}

void CMainViewerDlg::reject() {
    // The viewer ends only through the exit question.
}

void CMainViewerDlg::closeEvent(QCloseEvent* e) {
    if (deviceWork.Busy()) {
        // Asked once the camera has answered.
        closeHeld = true;
        e->ignore();
        return;
    }
    if (ConfirmExit()) {
        e->accept();
    } else {
        e->ignore();
    }
}

void CMainViewerDlg::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    Layout(width(), height());
}

void CMainViewerDlg::contextMenuEvent(QContextMenuEvent* e) {
    QMenu menu(this);
    QAction* about = menu.addAction(QString::fromStdString(Text(keys::kViewMenuAbout)));
    about->setObjectName(QStringLiteral("aboutAction"));
    connect(about, &QAction::triggered, this, &CMainViewerDlg::OnAbout);
    menu.exec(e->globalPos());
}

}  // namespace orvane
