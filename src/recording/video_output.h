#pragma once

#include <cstdint>
#include <string>

#include "base/frame_rate.h"

namespace orvane {

// A running movie recording. The streaming thread hands frames to WriteFrame, which only queues them
// (converted to what the encoder takes); the output encodes and writes them on a worker of its own.
//
// Start, Close and destruction run on the interface thread; WriteFrame, GetWrittenBytes and
// GetErrorText run on the streaming thread. The caller keeps WriteFrame and Close apart (the recording
// lock); GetWrittenBytes may be read at any time.
class IVideoOutput {
public:
    virtual ~IVideoOutput() = default;

    // Remembers the file name (`path` plus the output's extension) and the frame rate and starts the
    // worker. The file is created by the first frame, which brings the frame size.
    virtual void Start(const std::string& path, FrameRate rate) = 0;
    // Encodes every frame still waiting, finishes the file and ends the worker. Blocks until done.
    // 0, or a negative value when the file could not be written whole (a full disk during the
    // recording or at its end: the final packets, the container's index); GetCloseErrorText() then
    // says why. Whatever reached the disk stays there.
    virtual int32_t Close() = 0;
    // `bits`: width x height pixels of BGR24, bottom row first, rows of 3 x width bytes. 0 when the
    // frame was taken or dropped; negative when the file cannot be opened or written, with the reason
    // in GetErrorText(). After a failed open the next frame tries again. `sampleTime` is when the camera
    // made the frame, in seconds of the driver's clock (0: not known, the frame's arrival counts).
    virtual int32_t WriteFrame(int32_t width, int32_t height, const uint8_t* bits, int32_t bitsPerPixel,
                               double sampleTime = 0.0) = 0;
    // The full file name with its extension.
    virtual std::string GetFileName() const = 0;
    // Bytes of encoded video handed to the file so far.
    virtual uint64_t GetWrittenBytes() const = 0;
    // Why the last WriteFrame failed; empty after a successful open.
    virtual std::string GetErrorText() const = 0;
    // Why the last Close reported a failure, in the system's words ("No space left on device"); empty
    // when it did not.
    virtual std::string GetCloseErrorText() const { return {}; }
};

}  // namespace orvane
