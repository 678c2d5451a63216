#include "viewer/frame_scaler.h"

#include <libyuv/planar_functions.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORVANE_SCALER_SSSE3 1
#endif

namespace orvane {

namespace {

constexpr int kRowOne = 256;    // row weights are fractions of 256, as libyuv takes them
constexpr int kColumnOne = 64;  // column weights are fractions of 64, so that 64 still fits a signed byte
constexpr size_t kReadAhead = 8;

// Source coordinate of the centre of target cell i, split into the cell below it, the cell above it
// and the weight of the upper one out of `one`.
void Sample(int i, int sourceSize, int targetSize, int one, int32_t& lower, int32_t& upper, int32_t& weight) {
    const double position = (i + 0.5) * sourceSize / targetSize - 0.5;
    const double clamped = std::clamp(position, 0.0, static_cast<double>(sourceSize - 1));
    lower = static_cast<int32_t>(std::floor(clamped));
    upper = std::min(lower + 1, sourceSize - 1);
    weight = static_cast<int32_t>(std::lround((clamped - lower) * one));
}

// One target pixel from the source pixels at `pair` (blue, green, red, then the right neighbour).
inline uint32_t BlendColumn(const uint8_t* pair, uint32_t left, uint32_t right) {
    const uint32_t half = kColumnOne / 2;
    const uint32_t b = (pair[0] * left + pair[3] * right + half) / kColumnOne;
    const uint32_t g = (pair[1] * left + pair[4] * right + half) / kColumnOne;
    const uint32_t r = (pair[2] * left + pair[5] * right + half) / kColumnOne;
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

void PlainColumns(const uint8_t* row, const int32_t* lefts, const uint8_t* weights, int from, int width,
                  uint32_t* out) {
    for (int x = from; x < width; ++x) {
        const uint8_t* w = weights + 8 * x;
        out[x] = BlendColumn(row + lefts[x], w[0], w[1]);
    }
}

#ifdef ORVANE_SCALER_SSSE3
// Four target pixels per step: each column's two source pixels are one 8-byte load, put in pairs of
// blue, green and red, and weighed with one multiply-add. Returns the columns done.
__attribute__((target("ssse3"))) int VectorColumns(const uint8_t* row, const int32_t* lefts,
                                                   const uint8_t* weights, int width, uint32_t* out) {
    const __m128i pairs = _mm_setr_epi8(0, 3, 1, 4, 2, 5, -1, -1, 8, 11, 9, 12, 10, 13, -1, -1);
    const __m128i half = _mm_set1_epi16(kColumnOne / 2);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        const __m128i a = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + lefts[x])),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + lefts[x + 1])));
        const __m128i b = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + lefts[x + 2])),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + lefts[x + 3])));
        const __m128i wa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + 8 * x));
        const __m128i wb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + 8 * x + 16));
        // Blue, green, red and 0 of two pixels each, as 16-bit sums.
        __m128i sa = _mm_maddubs_epi16(_mm_shuffle_epi8(a, pairs), wa);
        __m128i sb = _mm_maddubs_epi16(_mm_shuffle_epi8(b, pairs), wb);
        sa = _mm_srli_epi16(_mm_add_epi16(sa, half), 6);
        sb = _mm_srli_epi16(_mm_add_epi16(sb, half), 6);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_or_si128(_mm_packus_epi16(sa, sb), alpha));
    }
    return x;
}

bool HasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

}  // namespace

void CFrameScaler::Prepare(int sw, int sh, int width, int height) {
    if (sw == sourceWidth && sh == sourceHeight && width == targetWidth && height == targetHeight) return;
    sourceWidth = sw;
    sourceHeight = sh;
    targetWidth = width;
    targetHeight = height;
    columnLeft.resize(static_cast<size_t>(width));
    columnWeights.assign(static_cast<size_t>(width) * 8, 0);
    for (int x = 0; x < width; ++x) {
        int32_t left, right, weight;
        Sample(x, sw, width, kColumnOne, left, right, weight);
        // Two neighbours always, so one load reads both: the last column leans on its left neighbour.
        if (right == left) {
            left = std::max(left - 1, 0);
            weight = right > left ? kColumnOne : 0;
        }
        columnLeft[static_cast<size_t>(x)] = 3 * left;
        uint8_t* w = columnWeights.data() + 8 * static_cast<size_t>(x);
        for (int c = 0; c < 3; ++c) {
            w[2 * c] = static_cast<uint8_t>(kColumnOne - weight);
            w[2 * c + 1] = static_cast<uint8_t>(weight);
        }
    }
    rowUpper.resize(static_cast<size_t>(height));
    rowLower.resize(static_cast<size_t>(height));
    rowWeight.resize(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        int32_t upper, lower, weight;
        Sample(y, sh, height, kRowOne, upper, lower, weight);
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

    // The blended row is always a copy, never the frame itself, so the 8-byte loads of its last pixels
    // stay inside memory of our own.
    blended.resize(stride + kReadAhead);
    const auto rowBytes = static_cast<int>(stride);
#ifdef ORVANE_SCALER_SSSE3
    const bool vector = !plainColumns && HasSsse3();
#endif
    for (int y = 0; y < height; ++y) {
        const uint8_t* upper = sourceRow(rowUpper[static_cast<size_t>(y)]);
        const uint8_t* lower = sourceRow(rowLower[static_cast<size_t>(y)]);
        const int weight = rowWeight[static_cast<size_t>(y)];
        if (weight == 0 || upper == lower) {
            std::memcpy(blended.data(), upper, stride);
        } else if (weight >= kRowOne) {
            std::memcpy(blended.data(), lower, stride);
        } else {
            libyuv::InterpolatePlane(upper, rowBytes, lower, rowBytes, blended.data(), rowBytes, rowBytes, 1,
                                     weight);
        }
        auto* out = reinterpret_cast<uint32_t*>(target.scanLine(y));
        int done = 0;
#ifdef ORVANE_SCALER_SSSE3
        if (vector) done = VectorColumns(blended.data(), columnLeft.data(), columnWeights.data(), width, out);
#endif
        PlainColumns(blended.data(), columnLeft.data(), columnWeights.data(), done, width, out);
    }
    return true;
}

}  // namespace orvane
