#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "base/video_frame.h"

namespace orvane {

// The one-slot hand-over of the live picture from the capture thread to the window code. The newest
// frame wins: a frame that was not taken before the next one arrives is dropped. The capture thread
// copies (if at all) outside the lock and holds it only to exchange two buffers, so a slow screen never
// holds up the camera.
class CFrameMailbox {
public:
    // Called on the capture thread whenever a frame lands in an empty slot; the window code answers
    // with a (queued) Take. It must not block and must not call back into Publish.
    using Notify = std::function<void()>;

    CFrameMailbox() = default;
    CFrameMailbox(const CFrameMailbox&) = delete;
    CFrameMailbox& operator=(const CFrameMailbox&) = delete;

    // Any thread; nullptr stops the notifications. Waits for a notification that is running.
    void SetNotify(Notify notify);

    // Capture thread. Copies the width x height BGR24 frame at `bits` (3 x width x height bytes) into
    // the slot. Drops the frame when a side is not positive or memory is short.
    void Publish(const uint8_t* bits, int32_t width, int32_t height);

    // Capture thread. Puts `frame` itself into the slot, without a copy, and hands back in `frame` a
    // buffer nobody reads any more: a frame that was not taken, or one the window code gave back with
    // Take. Its size may differ and it may be empty. Nothing happens for an empty `frame`.
    void Publish(FrameBuffer& frame);

    // Any thread. Moves the newest frame into `frame`, giving the buffer `frame` held to the mailbox
    // for reuse. False, leaving `frame` untouched, when no frame arrived since the last Take.
    bool Take(FrameBuffer& frame);

    // Any thread. Empties the slot (the next Publish notifies again).
    void Clear();

    // The size in pixels the frames are shown at, which the window code states (0 x 0: not known, or
    // frames are wanted whole). The capture thread may publish smaller frames that still cover it.
    void SetViewSize(int32_t width, int32_t height) {
        viewSize.store(Pack(width, height), std::memory_order_relaxed);
    }
    void ViewSize(int32_t& width, int32_t& height) const {
        const uint64_t packed = viewSize.load(std::memory_order_relaxed);
        width = static_cast<int32_t>(packed >> 32);
        height = static_cast<int32_t>(packed & 0xFFFFFFFFu);
    }

private:
    void Deliver(FrameBuffer& frame);

    static uint64_t Pack(int32_t width, int32_t height) {
        if (width <= 0 || height <= 0) return 0;
        return (uint64_t{static_cast<uint32_t>(width)} << 32) | static_cast<uint32_t>(height);
    }

    std::atomic<uint64_t> viewSize{0};
    FrameBuffer spare;  // capture thread only

    std::mutex slotLock;  // guards slot and full
    FrameBuffer slot;
    bool full = false;

    std::mutex notifyLock;  // guards notify
    Notify notify;
};

}  // namespace orvane
