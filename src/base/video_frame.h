#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>

#include "base/hresult.h"

namespace orvane {

// Bytes of a width x height frame (3 per pixel, rows of exactly 3 x width bytes, no padding); 0 when a
// side is not positive.
inline constexpr size_t FrameBytes(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return 0;
    return size_t{3} * static_cast<size_t>(width) * static_cast<size_t>(height);
}

// One frame as every consumer sees it: BGR24 (bytes blue, green, red), rows bottom-up (the first row
// in memory is the bottom of the picture), row stride exactly 3 x width. Does not own its pixels.
struct VideoFrame {
    uint8_t* bits = nullptr;
    int32_t length = 0;  // bytes at bits
    int32_t width = 0;
    int32_t height = 0;

    size_t Stride() const { return size_t{3} * static_cast<size_t>(width > 0 ? width : 0); }
    // Whether bits holds a whole width x height picture; a short buffer must not be read as one.
    bool IsComplete() const {
        const size_t needed = FrameBytes(width, height);
        return bits != nullptr && needed != 0 && length > 0 && static_cast<size_t>(length) >= needed;
    }
};

// An owned picture in the frame layout above.
class FrameBuffer {
public:
    FrameBuffer() = default;

    // A width x height picture with unspecified content. Empty when a side is not positive, the picture
    // would not fit a frame's 32-bit length, or memory is short.
    static FrameBuffer Create(int32_t width, int32_t height) {
        FrameBuffer buffer;
        const size_t bytes = FrameBytes(width, height);
        if (bytes == 0 || bytes > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return buffer;
        buffer.pixels.reset(new (std::nothrow) uint8_t[bytes]);
        if (buffer.pixels) {
            buffer.width = width;
            buffer.height = height;
        }
        return buffer;
    }

    bool Empty() const { return !pixels; }
    int32_t Width() const { return width; }
    int32_t Height() const { return height; }
    uint8_t* Bits() { return pixels.get(); }
    const uint8_t* Bits() const { return pixels.get(); }
    int32_t Length() const { return static_cast<int32_t>(FrameBytes(width, height)); }
    // A view of the picture; valid while this buffer lives and is not moved from.
    VideoFrame Frame() { return VideoFrame{pixels.get(), Length(), width, height}; }

private:
    std::unique_ptr<uint8_t[]> pixels;
    int32_t width = 0;
    int32_t height = 0;
};

}  // namespace orvane
