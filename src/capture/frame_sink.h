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
};

}  // namespace orvane
