#include "simulation/simulated_pattern.h"

#include <linux/videodev2.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <vector>

namespace orvane {

namespace {

struct TurboJpegCompressor {
    void operator()(void* handle) const { tjDestroy(handle); }
};

struct Yuv {
    uint8_t y, u, v;
};

Yuv ToYuv(SimulatedCamera::Colour c) {
    const double r = c.red, g = c.green, b = c.blue;
    auto clamp = [](double value) { return static_cast<uint8_t>(std::clamp(value + 0.5, 0.0, 255.0)); };
    return {clamp(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255),
            clamp(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255),
            clamp(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255)};
}

int BarWidth(int width) { return std::max(2, (width / 16) & ~1); }

int BarLeft(int width, int phase) {
    const int start = (width / 4 + 1) & ~1;
    const int span = std::max(0, width - start - BarWidth(width));
    return (start + span * phase / (kSimulatedBarPhases - 1)) & ~1;
}

// The three kinds of row: through the marker, the rest of the top half, the bottom half.
enum RowKind { kMarkerRow, kTopRow, kBottomRow };

RowKind KindOfRow(int height, int y) {
    if (y < height / 8) return kMarkerRow;
    return y < height / 2 ? kTopRow : kBottomRow;
}

SimulatedCamera::Colour PatternAt(int width, int height, int phase, RowKind kind, int x) {
    if (kind == kMarkerRow && x < height / 8) return SimulatedCamera::kMarkerColour;
    const int left = BarLeft(width, phase);
    if (x >= left && x < left + BarWidth(width)) return SimulatedCamera::kBarColour;
    return kind == kBottomRow ? SimulatedCamera::kBottomColour : SimulatedCamera::kTopColour;
}

// Packed 4:2:2 (YUYV or UYVY), lines of bytesPerLine.
void RenderPacked422(uint8_t* target, int width, int height, uint32_t bytesPerLine, int phase, bool uyvy) {
    std::vector<uint8_t> rows[3];
    for (int kind = 0; kind < 3; ++kind) {
        rows[kind].assign(bytesPerLine, 0);
        for (int x = 0; x + 1 < width; x += 2) {
            const Yuv a = ToYuv(PatternAt(width, height, phase, RowKind(kind), x));
            const Yuv b = ToYuv(PatternAt(width, height, phase, RowKind(kind), x + 1));
            const auto u = static_cast<uint8_t>((a.u + b.u + 1) / 2);
            const auto v = static_cast<uint8_t>((a.v + b.v + 1) / 2);
            uint8_t* p = rows[kind].data() + static_cast<size_t>(x) * 2;
            if (uyvy) {
                p[0] = u, p[1] = a.y, p[2] = v, p[3] = b.y;
            } else {
                p[0] = a.y, p[1] = u, p[2] = b.y, p[3] = v;
            }
        }
    }
    for (int y = 0; y < height; ++y) {
        std::memcpy(target + static_cast<size_t>(y) * bytesPerLine, rows[KindOfRow(height, y)].data(),
                    bytesPerLine);
    }
}

std::vector<uint8_t> EncodeJpeg(int width, int height, int phase) {
    const size_t line = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> rows[3];
    for (int kind = 0; kind < 3; ++kind) {
        rows[kind].resize(line);
        for (int x = 0; x < width; ++x) {
            const SimulatedCamera::Colour c = PatternAt(width, height, phase, RowKind(kind), x);
            rows[kind][x * 3] = c.red, rows[kind][x * 3 + 1] = c.green, rows[kind][x * 3 + 2] = c.blue;
        }
    }
    std::vector<uint8_t> rgb(line * height);
    for (int y = 0; y < height; ++y) std::memcpy(&rgb[y * line], rows[KindOfRow(height, y)].data(), line);

    std::unique_ptr<void, TurboJpegCompressor> compressor(tjInitCompress());
    if (!compressor) return {};
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(compressor.get(), rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_422, 85,
                    0) != 0) {
        tjFree(jpeg);
        return {};
    }
    std::vector<uint8_t> result(jpeg, jpeg + size);
    tjFree(jpeg);
    return result;
}

// Encoding a large JPEG takes longer than a frame interval, so every size and bar position is
// encoded once per process and reused by every camera.
const std::vector<uint8_t>& CachedJpeg(int width, int height, int phase) {
    static std::mutex lock;  // guards frames
    static std::map<std::tuple<int, int, int>, std::vector<uint8_t>> frames;
    std::lock_guard guard(lock);
    auto [entry, added] = frames.try_emplace({width, height, phase});
    if (added) entry->second = EncodeJpeg(width, height, phase);
    return entry->second;
}

}  // namespace

uint32_t RenderTestPattern(const SimulatedStreamFormat& f, int phase, std::optional<CorruptFrame> damage,
                           uint8_t* target) {
    switch (f.pixelFormat) {
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_UYVY:
            RenderPacked422(target, f.width, f.height, f.bytesPerLine, phase,
                            f.pixelFormat == V4L2_PIX_FMT_UYVY);
            return f.bytesPerLine * f.height;
        case V4L2_PIX_FMT_MJPEG: {
            const std::vector<uint8_t>& jpeg = CachedJpeg(f.width, f.height, phase);
            size_t size = std::min<size_t>(jpeg.size(), f.sizeImage);
            std::memcpy(target, jpeg.data(), size);
            if (damage == CorruptFrame::Truncated) {
                size = size * 3 / 5;
            } else if (damage == CorruptFrame::Garbage) {
                uint32_t noise = 0x2545F491u + static_cast<uint32_t>(phase);
                for (size_t i = 2; i < size; ++i) {
                    noise = noise * 1664525u + 1013904223u;
                    target[i] = static_cast<uint8_t>(noise >> 24);
                }
            }
            return static_cast<uint32_t>(size);
        }
        default:
            std::memset(target, 0x80, f.sizeImage);
            return f.sizeImage;
    }
}

}  // namespace orvane
