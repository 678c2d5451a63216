#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "base/video_frame.h"
#include "imaging/photo_writer.h"

namespace orvane {

class CLocalizableString;
class CSavingLoactionManage;
class CSettingParamManage;
class CScaleOverlay;
class IGrabberOwner;

// The services the saver works with; a null member means the process-wide instance.
struct PhotoSaverServices {
    CSettingParamManage* settings = nullptr;
    CSavingLoactionManage* locations = nullptr;
    CLocalizableString* strings = nullptr;
    // The calibration written into each photo (resolution fields, and the bar when burned in); null:
    // none.
    CScaleOverlay* scale = nullptr;
};

// The one worker that names, encodes and writes every photo: single photos, the snapshot button's
// photos and the shots of a timed series. The streaming threads only hand over a copy of the turned
// frame and go on; the saver writes one photo at a time, in the order they were handed over, so no
// two photos are ever given the same name, and a photo never replaces a file that is already there
// (another program's file under the same name moves it on to the next free number).
//
// A single photo is announced to the resource window once written; when it was the viewer's
// take-a-photo request, WM_SHOT_DONE follows the attempt, written or not. A timed shot that cannot be
// named or written ends the series (WM_TIMED_SHOT_END) and drops the timed shots still waiting.
class CPhotoSaver {
public:
    explicit CPhotoSaver(const PhotoSaverServices& services = {});
    // Stop().
    ~CPhotoSaver();

    CPhotoSaver(const CPhotoSaver&) = delete;
    CPhotoSaver& operator=(const CPhotoSaver&) = delete;

    // Interface thread. Starts the worker ("orv-saver"), which reports to `owner`. False when no
    // thread could be made.
    bool Start(IGrabberOwner* owner);
    // Interface thread. Writes what waits, then ends the worker and waits for it. Harmless when it
    // does not run.
    void Stop();
    bool IsRunning() const { return worker.joinable(); }

    // Any thread. Copies the width x height frame at bits (3 x width x height bytes); false when it
    // could not be taken (no worker, memory short), and then nothing was written.
    bool EnqueueSinglePhoto(const uint8_t* bits, int32_t width, int32_t height, bool postShotDone);
    bool EnqueueTimedShot(const uint8_t* bits, int32_t width, int32_t height);
    // Any thread. Drops the timed shots that wait; single photos stay.
    void ClearTimedShotQueue();

    // Photos waiting, not counting the one being written. Any thread.
    size_t Pending() const;
    size_t PendingTimedShots() const;
    // Waits until nothing waits and nothing is being written. Any thread but the worker.
    void WaitIdle() const;

private:
    enum class Kind { Single, Timed };
    struct Request {
        Kind kind = Kind::Single;
        FrameBuffer frame;
        bool postShotDone = false;
        PhotoScale scale;  // as it was when the frame was handed over
    };

    bool Enqueue(Kind kind, const uint8_t* bits, int32_t width, int32_t height, bool postShotDone);
    void Run(std::stop_token stop);
    // Names, encodes and writes one photo; the written path, or "" when nothing was written.
    std::string Save(const Request& request);

    CSettingParamManage& Settings() const;
    CSavingLoactionManage& Locations() const;

    const PhotoSaverServices services;
    IGrabberOwner* owner = nullptr;  // set before the worker starts
    mutable std::mutex queueLock;    // guards queue and busy
    mutable std::condition_variable_any changed;
    std::deque<Request> queue;
    bool busy = false;  // the worker holds a request
    std::jthread worker;
};

}  // namespace orvane
