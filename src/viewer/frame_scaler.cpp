#include "viewer/frame_scaler.h"

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

constexpr int kOne = 256;  // weights are fractions of 256

// Source coordinate of the centre of target cell i, split into the cell below it, the cell above it
// and the weight of the upper one.
void Sample(int i, int sourceSize, int targetSize, int32_t& lower, int32_t& upper, int32_t& weight) {
    const double position = (i + 0.5) * sourceSize / targetSize - 0.5;
    const double clamped = std::clamp(position, 0.0, static_cast<double>(sourceSize - 1));
    lower = static_cast<int32_t>(std::floor(clamped));
    upper = std::min(lower + 1, sourceSize - 1);
    weight = static_cast<int32_t>(std::lround((clamped - lower) * kOne));
}

}  // namespace

void CFrameScaler::Prepare(int sw, int sh, int width, int height) {
    if (sw == sourceWidth && sh == sourceHeight && width == targetWidth && height == targetHeight) return;
    sourceWidth = sw;
    sourceHeight = sh;
    targetWidth = width;
    targetHeight = height;
    columnLeft.resize(static_cast<size_t>(width));
    columnRight.resize(static_cast<size_t>(width));
    columnWeight.resize(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) {
        int32_t left, right, weight;
        Sample(x, sw, width, left, right, weight);
        columnLeft[static_cast<size_t>(x)] = 3 * left;
        columnRight[static_cast<size_t>(x)] = 3 * right;
        columnWeight[static_cast<size_t>(x)] = weight;
    }
    rowUpper.resize(static_cast<size_t>(height));
    rowLower.resize(static_cast<size_t>(height));
    rowWeight.resize(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        int32_t upper, lower, weight;
        Sample(y, sh, height, upper, lower, weight);
        rowUpper[static_cast<size_t>(y)] = upper;
        rowLower[static_cast<size_t>(y)] = lower;
        rowWeight[static_cast<size_t>(y)] = weight;
    }
}

bool CFrameScaler::Scale(const VideoFrame& frame, int width, int height, QImage& target) {
    if (!frame.IsComplete() || width <= 0 || height <= 0) return false;
    if (target.width() != width || target.height() != height || target.format() != QImage::Format_RGB32) {
        target = QImage(width, height, QImage::Format_RGB32);
        if (target.isNull()) return false;
    }
    Prepare(frame.width, frame.height, width, height);
    const size_t stride = frame.Stride();
    // Row r of the picture (top-down) is row height - 1 - r of the bottom-up frame.
    auto sourceRow = [&](int32_t r) {
        return frame.bits + stride * static_cast<size_t>(frame.height - 1 - r);
    };

    // Two passes per target row: the two source rows blended into one (contiguous, so the compiler
    // vectorises it), then the columns sampled from that row.
    blended.resize(stride);
    for (int y = 0; y < height; ++y) {
        const uint8_t* upper = sourceRow(rowUpper[static_cast<size_t>(y)]);
        const uint8_t* lower = sourceRow(rowLower[static_cast<size_t>(y)]);
        const uint16_t wy = static_cast<uint16_t>(rowWeight[static_cast<size_t>(y)]);
        const uint16_t uy = static_cast<uint16_t>(kOne - wy);
        uint16_t* row = blended.data();
        for (size_t i = 0; i < stride; ++i) row[i] = static_cast<uint16_t>(upper[i] * uy + lower[i] * wy);

        auto* out = reinterpret_cast<uint32_t*>(target.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const uint16_t* left = row + columnLeft[static_cast<size_t>(x)];
            const uint16_t* right = row + columnRight[static_cast<size_t>(x)];
            const uint32_t wx = static_cast<uint32_t>(columnWeight[static_cast<size_t>(x)]);
            const uint32_t ux = kOne - wx;
            // Blue, green, red: the byte order of Format_RGB32 in memory.
            const uint32_t b = (left[0] * ux + right[0] * wx + (1u << 15)) >> 16;
            const uint32_t g = (left[1] * ux + right[1] * wx + (1u << 15)) >> 16;
            const uint32_t r = (left[2] * ux + right[2] * wx + (1u << 15)) >> 16;
            out[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
    return true;
}

}  // namespace orvane
