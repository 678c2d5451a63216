#pragma once

#include <cstdint>

#include "base/hresult.h"

namespace orvane {

// Where the capture object hands its frames: the frame dispatcher above it implements this, tests
// record. The capture object calls SetFrameSize on the interface thread before the first frame of a
// stream, and BufferCB on its streaming thread for every frame.
class IFrameSink {
public:
    virtual ~IFrameSink() = default;
    // The size of the frames that follow.
    virtual void SetFrameSize(int32_t width, int32_t height) = 0;
    // One frame: BGR24, rows bottom-up, `length` bytes at `bits`; the sink may turn it in place and
    // must not keep the pointer. Must not block on the interface thread.
    virtual HRESULT BufferCB(double sampleTime, uint8_t* bits, int32_t length) = 0;

    // Streaming thread, before a frame is converted: whether a frame arriving within `withinMs` may be
    // saved (a photo asked for, a timed shot due, a recording running). While none may, the capture
    // object converts frames only at the size the live pane shows them and hands them to
    // TurnViewFrame instead of BufferCB. Must be cheap; the default keeps every frame whole.
    virtual bool NeedsWholeFrames(int64_t withinMs) {
        (void)withinMs;
        return true;
    }
    // Streaming thread: a frame only shown, of its own width x height (BGR24, rows bottom-up), to be
    // turned in place as BufferCB turns the frames it is given.
    virtual void TurnViewFrame(uint8_t* bits, int32_t width, int32_t height) {
        (void)bits;
        (void)width;
        (void)height;
    }
};

}  // namespace orvane
