#pragma once

#include <cstdint>

#include "base/hresult.h"

namespace orvane {

// What the next frames are for, from the least to the most they need.
enum class FrameUse {
    Shown,     // only shown in the live pane
    Recorded,  // also recorded into a movie
    Photo,     // also saved as a photo: exact, at full size
};

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

    // What a frame arriving within `withinMs` may become, asked on the streaming thread before the
    // frame is converted. While it is only shown, the capture object converts frames at the size the
    // live pane shows them and hands them to TurnViewFrame instead of BufferCB; a frame only recorded
    // may be decoded the quicker way. Must be cheap; the default keeps every frame whole and exact.
    virtual FrameUse NextFrameUse(int64_t withinMs) {
        (void)withinMs;
        return FrameUse::Photo;
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
