#include "dispatch/sample_grabber_cb.h"

#include <cstring>

#include "base/alert_sink.h"
#include "base/clock.h"
#include "config/setting_param_manage.h"
#include "dispatch/photo_saver.h"
#include "dispatch/scale_overlay.h"
#include "imaging/photo_writer.h"
#include "imaging/rotate_sample_imp.h"
#include "media/saving_loaction_manage.h"
#include "recording/recording_slot.h"

namespace orvane {

CSampleGrabberCB g_previewGrabber(0);
CSampleGrabberCB g_stillGrabber(1);

CSampleGrabberCB::CSampleGrabberCB(int32_t stillPin_) : stillPin(stillPin_) {}

void CSampleGrabberCB::SetServices(const GrabberServices& services) {
    rotation.store(services.rotation);
    settings.store(services.settings);
    locations.store(services.locations);
    saver.store(services.saver);
    scale.store(services.scale);
}

RotateSampleImp& CSampleGrabberCB::Rotation() const {
    RotateSampleImp* r = rotation.load();
    return r != nullptr ? *r : *RotateSampleImp::GetInstance();
}

CSettingParamManage& CSampleGrabberCB::Settings() const {
    CSettingParamManage* s = settings.load();
    return s != nullptr ? *s : *CSettingParamManage::GetInstance();
}

CSavingLoactionManage& CSampleGrabberCB::Locations() const {
    CSavingLoactionManage* l = locations.load();
    return l != nullptr ? *l : *CSavingLoactionManage::GetInstance();
}

void CSampleGrabberCB::ResetTimedSeries(int64_t startMs) {
    timedStartMs.store(startMs, std::memory_order_relaxed);
    lastShotMs.store(0, std::memory_order_relaxed);
    timedShotCount.store(0, std::memory_order_relaxed);
}

HRESULT CSampleGrabberCB::BufferCB(double sampleTime, uint8_t* bits, int32_t length) {
    const int32_t w = width.load(std::memory_order_relaxed);
    const int32_t h = height.load(std::memory_order_relaxed);
    // A frame shorter than its connected size is never read past its end.
    const bool whole = bits != nullptr && w > 0 && h > 0 && int64_t{length} >= int64_t{w} * h * 3;

    RotateSampleImp& rotate = Rotation();
    if (whole && rotate.GetOperationCount() != 0) rotate.RotateFrame(bits, w, h);

    if (stillPin == 1) {
        TakeSinglePhoto(bits, length, false);
        return S_OK;
    }

    IGrabberOwner* viewer = owner.load(std::memory_order_acquire);
    if (viewer == nullptr) return S_OK;
    CaptureState& state = viewer->GetCaptureState();
    const bool shot = state.shotPending.load(std::memory_order_acquire) == 1;
    const bool timed = state.timedShotRunning.load(std::memory_order_acquire) == 1;
    const bool recording = state.recordingRunning.load(std::memory_order_acquire) == 1;
    if (!shot && !timed && !recording) return S_OK;
    if (bits == nullptr) return E_POINTER;

    if (shot) {
        // The saver posts WM_SHOT_DONE once the photo was attempted; a frame it did not take ends the
        // request here.
        const bool handedOver = TakeSinglePhoto(bits, length, true);
        state.shotPending.store(0, std::memory_order_release);
        if (!handedOver) viewer->PostViewerMessage(WM_SHOT_DONE);
    }
    if (timed) TimedShotStep(*viewer, state, bits, length);
    if (recording) RecordingStep(*viewer, bits, length, sampleTime);
    return S_OK;
}

FrameUse CSampleGrabberCB::NextFrameUse(int64_t withinMs) {
    if (stillPin == 1) return FrameUse::Photo;
    IGrabberOwner* viewer = owner.load(std::memory_order_acquire);
    if (viewer == nullptr) return FrameUse::Shown;
    CaptureState& state = viewer->GetCaptureState();
    if (state.shotPending.load(std::memory_order_acquire) == 1) return FrameUse::Photo;
    const FrameUse otherwise =
        state.recordingRunning.load(std::memory_order_acquire) == 1 ? FrameUse::Recorded : FrameUse::Shown;
    if (state.timedShotRunning.load(std::memory_order_acquire) != 1) return otherwise;
    // The timed shot's own tests, asked of the moment `withinMs` ahead.
    const int64_t soon = NowMs() + withinMs;
    return TimedShotDue(state, soon) || TimedSeriesOver(state, soon) ? FrameUse::Photo : otherwise;
}

void CSampleGrabberCB::TurnViewFrame(uint8_t* bits, int32_t frameWidth, int32_t frameHeight) {
    RotateSampleImp& rotate = Rotation();
    if (bits != nullptr && rotate.GetOperationCount() != 0) rotate.RotateFrame(bits, frameWidth, frameHeight);
}

bool CSampleGrabberCB::TakeSinglePhoto(const uint8_t* bits, int32_t length, bool postShotDone) {
    const int32_t w = width.load(std::memory_order_relaxed);
    const int32_t h = height.load(std::memory_order_relaxed);
    CPhotoSaver* photos = saver.load(std::memory_order_acquire);
    if (photos == nullptr || !VideoFrame{const_cast<uint8_t*>(bits), length, w, h}.IsComplete()) return false;
    return photos->EnqueueSinglePhoto(bits, w, h, postShotDone);
}

bool CSampleGrabberCB::TimedShotDue(const CaptureState& state, int64_t now) const {
    const int64_t interval = state.timedShotIntervalMs.load(std::memory_order_relaxed);
    const int64_t last = lastShotMs.load(std::memory_order_relaxed);
    const int64_t start = timedStartMs.load(std::memory_order_relaxed);
    const int64_t count = timedShotCount.load(std::memory_order_relaxed);
    // Due after an interval since the last shot, or whenever the series has fallen behind its
    // schedule (count x interval since the start), and always for the first frame.
    return now - last >= interval || now - start > count * interval || last == 0;
}

bool CSampleGrabberCB::TimedSeriesOver(const CaptureState& state, int64_t now) const {
    const float elapsed = static_cast<float>(static_cast<double>(now - timedStartMs.load(std::memory_order_relaxed)));
    const float limit = state.timedShotHours.load(std::memory_order_relaxed) * 3600.0f * 1000.0f;
    return elapsed > limit;
}

void CSampleGrabberCB::TimedShotStep(IGrabberOwner& viewer, CaptureState& state, const uint8_t* bits,
                                     int32_t length) {
    const int64_t now = NowMs();
    if (TimedShotDue(state, now)) {
        const int32_t w = width.load(std::memory_order_relaxed);
        const int32_t h = height.load(std::memory_order_relaxed);
        CPhotoSaver* photos = saver.load(std::memory_order_acquire);
        if (photos != nullptr && VideoFrame{const_cast<uint8_t*>(bits), length, w, h}.IsComplete()) {
            photos->EnqueueTimedShot(bits, w, h);
        }
        timedShotCount.store(timedShotCount.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        lastShotMs.store(now, std::memory_order_relaxed);
    }
    if (TimedSeriesOver(state, now)) viewer.PostViewerMessage(WM_TIMED_SHOT_END);
}

void CSampleGrabberCB::RecordingStep(IGrabberOwner& viewer, const uint8_t* bits, int32_t length,
                                     double sampleTime) {
    const int32_t w = width.load();
    const int32_t h = height.load();
    // With the scale bar burned in, the recording gets a marked copy (made before the recording's lock
    // is taken): the frame itself goes on to the live picture unmarked.
    const CScaleOverlay* overlay = scale.load(std::memory_order_acquire);
    if (overlay != nullptr && overlay->BurnIn() &&
        VideoFrame{const_cast<uint8_t*>(bits), length, w, h}.IsComplete()) {
        thread_local FrameBuffer marked;
        if (marked.Width() != w || marked.Height() != h) marked = FrameBuffer::Create(w, h);
        if (!marked.Empty()) {
            std::memcpy(marked.Bits(), bits, FrameBytes(w, h));
            DrawScaleBar(marked.Bits(), w, h, ChooseScaleBar(overlay->MetresPerPixel(), w, overlay->Unit()));
            bits = marked.Bits();
        }
    }
    std::unique_lock<std::mutex> guard(g_recordingLock);
    if (g_recordingOutput == nullptr) return;
    const int64_t limit = int64_t{Settings().GetUsingParam().moviesizemax} << 20;
    if (static_cast<int64_t>(g_recordingOutput->GetWrittenBytes()) >= limit) {
        viewer.GetCaptureState().recordingLimitReached.store(1, std::memory_order_release);
        viewer.PostViewerMessage(WM_RECORDING_END);
        return;
    }
    if (g_recordingOutput->WriteFrame(w, h, bits, 24, sampleTime) < 0) {
        // The box is handed to the interface thread without waiting, so holding the lock is safe.
        ShowAlert(g_recordingOutput->GetErrorText());
        viewer.PostViewerMessage(WM_RECORDING_END);
    }
}

bool CSampleGrabberCB::SaveFrame(const std::string& path, const uint8_t* bits, int32_t length) {
    return orvane::SaveFrame(path, bits, length, width.load(std::memory_order_relaxed),
                             height.load(std::memory_order_relaxed), &Settings());
}

}  // namespace orvane
