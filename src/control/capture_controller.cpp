#include "control/capture_controller.h"

#include <filesystem>
#include <mutex>

#include "base/alert_sink.h"
#include "base/clock.h"
#include "base/text.h"
#include "capture/capture_video.h"
#include "config/setting_param_manage.h"
#include "dispatch/sample_grabber_cb.h"
#include "localization/localizable_string.h"
#include "media/saving_loaction_manage.h"
#include "recording/recording_slot.h"

namespace orvane {

namespace {

constexpr int32_t kMillisecondsPerDay = 86'400'000;

bool IsSet(const std::atomic<int32_t>& flag) { return flag.load(std::memory_order_acquire) == 1; }

}  // namespace

CCaptureController::CCaptureController(const CaptureControllerServices& services_, ICaptureView& view_)
    : services(services_), view(view_) {}

bool CCaptureController::IsPhotoPending() const { return IsSet(state.shotPending); }
bool CCaptureController::IsTimedShotRunning() const { return IsSet(state.timedShotRunning); }
bool CCaptureController::IsRecording() const { return IsSet(state.recordingRunning); }

std::string CCaptureController::Text(const StringKey& key) const { return services.strings->GetString(key); }

bool CCaptureController::CheckStorageFolder() {
    const CSettingParam param = services.settings->GetUsingParam();
    std::error_code error;
    if (std::filesystem::is_directory(param.GetResourcesPath(), error)) {
        services.locations->CreateResourceFolders();
        return true;
    }
    ShowAlert(Format(Text(keys::kAlertNotExistResourceLocation), param.GetMoviesFolder()));
    return false;
}

void CCaptureController::UpdateCaptions() {
    view.SetActionCaption(CaptureAction::TimedShot, IsTimedShotRunning() ? Text(keys::kViewBtnStopTimedShot)
                                                                         : Text(keys::kViewBtnTakeTimedShot));
    view.SetActionCaption(CaptureAction::Recording, IsRecording() ? Text(keys::kViewBtnStopRecording)
                                                                  : Text(keys::kViewBtnTakeRecording));
}

void CCaptureController::TakePhoto() {
    if (!CheckStorageFolder()) return;
    if (!view.HasCurrentDevice()) {
        view.ShowPreviewError();
        return;
    }
    view.EnableActions(false, std::nullopt);
    view.ShowLeftColumn();
    state.shotPending.store(1, std::memory_order_release);
}

void CCaptureController::OnShotDone() {
    state.shotPending.store(0, std::memory_order_release);
    view.EnableActions(true, std::nullopt);
}

void CCaptureController::ToggleTimedShots() {
    if (IsTimedShotRunning()) {
        EndTimedShots();
        return;
    }
    if (!CheckStorageFolder()) return;
    const CSettingParam param = services.settings->GetUsingParam();
    const int32_t shotsPerDay = param.GetShotsPerDay();
    if (!param.IsTimedShotValid() || shotsPerDay <= 0) {
        ShowAlert(Text(keys::kAlertTimedShotSetting));
        return;
    }
    if (!view.HasCurrentDevice()) {
        view.ShowPreviewError();
        return;
    }
    if (!services.locations->BeginTimedShots(param.GetTimedShotsFolder())) return;

    state.timedShotIntervalMs.store(kMillisecondsPerDay / shotsPerDay, std::memory_order_relaxed);
    state.timedShotHours.store(static_cast<float>(param.GetTimedShotMinutes() / 60.0),
                               std::memory_order_relaxed);
    view.EnableActions(false, CaptureAction::TimedShot);
    view.ShowLeftColumn();
    services.grabber->ResetTimedSeries(NowMs());
    // Last, so that the dispatcher never sees a running series with the parameters of an old one.
    state.timedShotRunning.store(1, std::memory_order_release);
    UpdateCaptions();
}

void CCaptureController::OnTimedShotEnd() {
    // The dispatcher repeats the message on every frame until the flag is clear; a late one must
    // not re-enable the buttons of an action started since.
    if (IsTimedShotRunning()) EndTimedShots();
}

void CCaptureController::EndTimedShots() {
    state.timedShotRunning.store(0, std::memory_order_release);
    UpdateCaptions();
    view.EnableActions(true, std::nullopt);
}

void CCaptureController::ToggleRecording() {
    if (IsRecording()) {
        EndRecording();
        return;
    }
    if (!CheckStorageFolder()) return;
    const CSettingParam param = services.settings->GetUsingParam();
    std::string path;
    if (!services.locations->GetMoviePath(param.GetMoviesFolder(), path)) return;
    if (!view.HasCurrentDevice()) {
        view.ShowPreviewError();
        return;
    }
    const CaptureResolution movie = param.GetMovieResolution();
    resolutionBeforeRecording = param.GetCaptureResolution();
    if (!view.ApplyCaptureSize(movie.width, movie.height)) return;
    view.ShowLeftColumn();
    services.session->StartRecording(path);
    if (!RecordingOutputRunning()) {
        // No output could be made (an unknown movie format): nothing records, so nothing may say so.
        view.ApplyCaptureSize(resolutionBeforeRecording.width, resolutionBeforeRecording.height);
        return;
    }
    state.recordingLimitReached.store(0, std::memory_order_relaxed);
    state.recordingRunning.store(1, std::memory_order_release);
    UpdateCaptions();
    view.EnableActions(false, CaptureAction::Recording);
}

void CCaptureController::OnRecordingEnd() {
    if (!IsRecording()) return;
    const bool limit = state.recordingLimitReached.exchange(0, std::memory_order_acq_rel) == 1;
    EndRecording();
    if (limit) view.ShowNotice(Text(keys::kAlertRecordingReachedMaximumSize));
}

void CCaptureController::EndRecording() {
    state.recordingRunning.store(0, std::memory_order_release);
    services.session->StopRecording();
    UpdateCaptions();
    view.ApplyCaptureSize(resolutionBeforeRecording.width, resolutionBeforeRecording.height);
    view.EnableActions(true, std::nullopt);
}

void CCaptureController::StopActions() {
    if (IsPhotoPending()) OnShotDone();
    if (IsTimedShotRunning()) EndTimedShots();
    if (IsRecording()) EndRecording();
}

bool CCaptureController::EndActionsForRemovedCamera() {
    const bool running = IsTimedShotRunning() || IsRecording();
    StopActions();
    if (running) view.ShowNotice(Text(keys::kAlertCaptureEndedCameraRemoved));
    return running;
}

void CCaptureController::OnFramesUnreadable(bool unreadable) {
    if (unreadable == unreadableNoticeShown) return;
    unreadableNoticeShown = unreadable;
    if (unreadable) {
        view.ShowNotice(Text(keys::kNoticeFramesUnreadable));
    } else {
        view.WithdrawNotice(Text(keys::kNoticeFramesUnreadable));
    }
}

std::string CCaptureController::ExitQuestion() const {
    if (IsTimedShotRunning()) return Text(keys::kAlertExitSystemDoingTimedshot);
    if (IsRecording()) return Text(keys::kAlertExitSystemDoingRecording);
    return Text(keys::kAlertExitSystem);
}

bool CCaptureController::RecordingOutputRunning() {
    std::lock_guard<std::mutex> guard(g_recordingLock);
    return g_recordingOutput != nullptr;
}

}  // namespace orvane
