#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/hresult.h"
#include "capture/frame_sink.h"
#include "dispatch/grabber_owner.h"

namespace orvane {

struct CaptureState;
class CPhotoSaver;
class RotateSampleImp;
class CSettingParamManage;
class CSavingLoactionManage;
class CScaleOverlay;

// The services the dispatcher works with; a null member means the process-wide instance.
struct GrabberServices {
    RotateSampleImp* rotation = nullptr;
    CSettingParamManage* settings = nullptr;
    CSavingLoactionManage* locations = nullptr;
    // Where photos are handed for writing; while null no photo is taken (a request still ends).
    CPhotoSaver* saver = nullptr;
    // The calibration burned into recorded frames; null: none.
    CScaleOverlay* scale = nullptr;
};

// Every frame of a running capture passes through BufferCB: turned by the queued rotation
// operations, handed to the photo saver as a single photo or a due timed shot, and handed to the
// recording. Nothing slow happens here: the saver encodes and writes on its own thread.
// Two instances exist for the program's life: g_previewGrabber (the full dispatch) and
// g_stillGrabber (each frame of the camera's snapshot button becomes a photo).
class CSampleGrabberCB final : public IFrameSink {
public:
    explicit CSampleGrabberCB(int32_t stillPin);

    CSampleGrabberCB(const CSampleGrabberCB&) = delete;
    CSampleGrabberCB& operator=(const CSampleGrabberCB&) = delete;

    // Runs on the streaming thread of the pin this instance serves. `bits` holds one BGR24 frame of
    // width x height, rows bottom-up; it may be turned in place. Returns S_OK, or E_POINTER for a
    // null frame when the preview instance has work to do.
    HRESULT BufferCB(double sampleTime, uint8_t* bits, int32_t length) override;
    void SetFrameSize(int32_t newWidth, int32_t newHeight) override {
        width.store(newWidth);
        height.store(newHeight);
    }

    // What a frame arriving within `withinMs` may become: always a photo for the snapshot button's
    // instance; for the preview's a photo while one is asked for or a timed shot (or the series'
    // end) falls due, else a movie frame while a recording runs, else only shown.
    FrameUse NextFrameUse(int64_t withinMs) override;
    // Turns a frame only shown by the queued rotation operations.
    void TurnViewFrame(uint8_t* bits, int32_t frameWidth, int32_t frameHeight) override;

    // Writes the frame as a photo at the stored capture resolution; true when the file was written.
    bool SaveFrame(const std::string& path, const uint8_t* bits, int32_t length);

    // Interface thread: the reset of the grabber's series fields that precedes timedShotRunning = 1.
    void ResetTimedSeries(int64_t startMs);

    void SetServices(const GrabberServices& services);
    RotateSampleImp& Rotation() const;
    CSettingParamManage& Settings() const;
    CSavingLoactionManage& Locations() const;

    // Set when a capture starts (the size of the connected format).
    std::atomic<int32_t> width{0};
    std::atomic<int32_t> height{0};
    std::atomic<IGrabberOwner*> owner{nullptr};
    std::atomic<int64_t> lastShotMs{0};
    std::atomic<int64_t> timedStartMs{0};
    std::atomic<int32_t> timedShotCount{0};
    const int32_t stillPin;

private:
    // Hands the frame to the saver; false when it was not taken (no saver, a short frame).
    bool TakeSinglePhoto(const uint8_t* bits, int32_t length, bool postShotDone);
    // Whether a timed shot is due at `now`, and whether the series has run its time by then.
    bool TimedShotDue(const CaptureState& state, int64_t now) const;
    bool TimedSeriesOver(const CaptureState& state, int64_t now) const;
    void TimedShotStep(IGrabberOwner& viewer, CaptureState& state, const uint8_t* bits, int32_t length);
    void RecordingStep(IGrabberOwner& viewer, const uint8_t* bits, int32_t length, double sampleTime);

    std::atomic<RotateSampleImp*> rotation{nullptr};
    std::atomic<CSettingParamManage*> settings{nullptr};
    std::atomic<CSavingLoactionManage*> locations{nullptr};
    std::atomic<CPhotoSaver*> saver{nullptr};
    std::atomic<CScaleOverlay*> scale{nullptr};
};

extern CSampleGrabberCB g_previewGrabber;
extern CSampleGrabberCB g_stillGrabber;

}  // namespace orvane
