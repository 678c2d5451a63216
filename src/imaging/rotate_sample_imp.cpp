#include "imaging/rotate_sample_imp.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORVANE_ROTATE_X86 1
#endif

namespace orvane {

namespace {

// Where a pixel of the turned picture comes from: source = matrix x destination, plus the offset
// that keeps the source inside the picture. Every turn and mirror is such a matrix with entries 0
// and +-1, so any list of commands adds up to one of eight, applied in a single pass.
struct Orientation {
    int a = 1, b = 0, c = 0, d = 1;

    bool SwapsAxes() const { return a == 0; }
    bool operator==(const Orientation&) const = default;
};

// The map of "first m, then t" (applying t to the picture that m produced).
Orientation Then(const Orientation& m, const Orientation& t) {
    return {m.a * t.a + m.b * t.c, m.a * t.b + m.b * t.d, m.c * t.a + m.d * t.c, m.c * t.b + m.d * t.d};
}

// Picture coordinates: x to the right, y down from the top.
Orientation OrientationOf(RotateOp op) {
    switch (op) {
        case RotateOp::RotateRight90:
            return {0, 1, -1, 0};
        case RotateOp::RotateLeft90:
            return {0, -1, 1, 0};
        case RotateOp::Rotate180:
            return {-1, 0, 0, -1};
        case RotateOp::FlipVertical:
            return {1, 0, 0, -1};
        case RotateOp::FlipHorizontal:
            return {-1, 0, 0, 1};
    }
    return {};
}

// The same map in memory coordinates, whose rows count from the bottom.
Orientation ToMemory(const Orientation& o) { return {o.a, -o.b, -o.c, o.d}; }

constexpr Orientation kIdentity{1, 0, 0, 1};
constexpr Orientation kMirrorRows{-1, 0, 0, 1};  // pixels reversed within each row
constexpr Orientation kHalfTurn{-1, 0, 0, -1};

std::atomic<int32_t> kernelLimit{static_cast<int32_t>(PixelKernels::Avx2)};

bool Allowed(PixelKernels kernels) {
    return kernelLimit.load(std::memory_order_relaxed) >= static_cast<int32_t>(kernels);
}

bool HasSsse3() {
#ifdef ORVANE_ROTATE_X86
    static const bool hasSsse3 = __builtin_cpu_supports("ssse3");
    return hasSsse3 && Allowed(PixelKernels::Ssse3);
#else
    return false;
#endif
}

bool HasAvx2() {
#ifdef ORVANE_ROTATE_X86
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    return hasAvx2 && Allowed(PixelKernels::Avx2);
#else
    return false;
#endif
}

// Tiles keep both the rows read and the rows written of a turn inside the first-level cache.
constexpr int kTile = 32;

// The turned picture's row and column of a source pixel, for an orientation that exchanges the axes:
// source column x becomes row b * x (+ sw - 1 when b < 0), source row m becomes column c * m.
struct SwapMap {
    int sw, sh;
    bool forwardRows;     // b > 0
    bool forwardColumns;  // c > 0
    int RowOf(int x) const { return forwardRows ? x : sw - 1 - x; }
    int ColumnOf(int m) const { return forwardColumns ? m : sh - 1 - m; }
};

void TransposeRegion(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                     const SwapMap& map, int m0, int m1, int x0, int x1) {
    for (int mt = m0; mt < m1; mt += kTile) {
        for (int xt = x0; xt < x1; xt += kTile) {
            for (int m = mt; m < std::min(m1, mt + kTile); ++m) {
                const uint8_t* from = src + m * srcStride + 3 * xt;
                uint8_t* to = dst + 3 * static_cast<ptrdiff_t>(map.ColumnOf(m));
                for (int x = xt; x < std::min(x1, xt + kTile); ++x, from += 3) {
                    std::memcpy(to + map.RowOf(x) * dstStride, from, 3);
                }
            }
        }
    }
}

#ifdef ORVANE_ROTATE_X86
// Source tiles of 512 rows, walked a column block at a time: the four turned rows of a column block
// are written as runs, while the lines of the tile's source rows stay in the second-level cache for
// the next column block.
constexpr int kBlockTileRows = 512;

// Blocks of 4 x 4 pixels: each source row of the block is widened to four 32-bit lanes, the block is
// transposed as 32-bit values and every column narrowed back to 12 bytes. The 16-byte store of a
// block also covers 4 bytes of the block written next in the same turned row (to its right, or to
// its left when the columns run backwards), so only the last block of a row is stored exactly.
__attribute__((target("ssse3"))) void TransposeBlocksSsse3(const uint8_t* src, ptrdiff_t srcStride,
                                                           uint8_t* dst, ptrdiff_t dstStride,
                                                           const SwapMap& map, int rows, int columns) {
    const __m128i widen = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const bool forward = map.forwardColumns;
    // Forward: the 12 bytes first; backward: the 12 bytes last, stored 4 bytes before the block.
    const __m128i narrow = forward ? _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1)
                                   : _mm_setr_epi8(-1, -1, -1, -1, 12, 13, 14, 8, 9, 10, 4, 5, 6, 0, 1, 2);
    const ptrdiff_t storeShift = forward ? 0 : -4;
    const ptrdiff_t exactShift = forward ? 0 : 4;
    for (int mt = 0; mt < rows; mt += kBlockTileRows) {
        const int mEnd = std::min(rows, mt + kBlockTileRows);
        for (int x = 0; x < columns; x += 4) {
            uint8_t* const out0 = dst + map.RowOf(x) * dstStride;
            uint8_t* const out1 = dst + map.RowOf(x + 1) * dstStride;
            uint8_t* const out2 = dst + map.RowOf(x + 2) * dstStride;
            uint8_t* const out3 = dst + map.RowOf(x + 3) * dstStride;
            for (int m = mt; m < mEnd; m += 4) {
                const uint8_t* p = src + m * srcStride + 3 * x;
                const __m128i r0 =
                    _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), widen);
                const __m128i r1 =
                    _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + srcStride)), widen);
                const __m128i r2 = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * srcStride)), widen);
                const __m128i r3 = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3 * srcStride)), widen);
                const __m128i t0 = _mm_unpacklo_epi32(r0, r1);
                const __m128i t1 = _mm_unpacklo_epi32(r2, r3);
                const __m128i t2 = _mm_unpackhi_epi32(r0, r1);
                const __m128i t3 = _mm_unpackhi_epi32(r2, r3);
                const __m128i c0 = _mm_shuffle_epi8(_mm_unpacklo_epi64(t0, t1), narrow);
                const __m128i c1 = _mm_shuffle_epi8(_mm_unpackhi_epi64(t0, t1), narrow);
                const __m128i c2 = _mm_shuffle_epi8(_mm_unpacklo_epi64(t2, t3), narrow);
                const __m128i c3 = _mm_shuffle_epi8(_mm_unpackhi_epi64(t2, t3), narrow);
                const ptrdiff_t at = 3 * static_cast<ptrdiff_t>(forward ? m : map.sh - 4 - m);
                if (m + 4 < rows) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out0 + at + storeShift), c0);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out1 + at + storeShift), c1);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out2 + at + storeShift), c2);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out3 + at + storeShift), c3);
                } else {
                    uint8_t bytes[4][16];
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes[0]), c0);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes[1]), c1);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes[2]), c2);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes[3]), c3);
                    std::memcpy(out0 + at, bytes[0] + exactShift, 12);
                    std::memcpy(out1 + at, bytes[1] + exactShift, 12);
                    std::memcpy(out2 + at, bytes[2] + exactShift, 12);
                    std::memcpy(out3 + at, bytes[3] + exactShift, 12);
                }
            }
        }
    }
}
#endif

#ifdef ORVANE_ROTATE_X86
// Pixels p to p + 3 in the low half, p + 4 to p + 7 in the high half (16 bytes read for each).
__attribute__((target("avx2"))) inline __m256i LoadTwoBlockRows(const uint8_t* p) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
}

// The same with two blocks side by side in the two halves of a 32-byte register: columns x to x + 3
// in the low half, x + 4 to x + 7 in the high half.
__attribute__((target("avx2"))) void TransposeBlocksAvx2(const uint8_t* src, ptrdiff_t srcStride,
                                                         uint8_t* dst, ptrdiff_t dstStride,
                                                         const SwapMap& map, int rows, int columns) {
    const __m256i widen = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                           0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const bool forward = map.forwardColumns;
    const __m256i narrow = forward
                               ? _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                                  0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1)
                               : _mm256_setr_epi8(-1, -1, -1, -1, 12, 13, 14, 8, 9, 10, 4, 5, 6, 0, 1, 2,  //
                                                  -1, -1, -1, -1, 12, 13, 14, 8, 9, 10, 4, 5, 6, 0, 1, 2);
    const ptrdiff_t storeShift = forward ? 0 : -4;
    const ptrdiff_t exactShift = forward ? 0 : 4;
    for (int mt = 0; mt < rows; mt += kBlockTileRows) {
        const int mEnd = std::min(rows, mt + kBlockTileRows);
        for (int x = 0; x < columns; x += 8) {
            uint8_t* out[8];
            for (int j = 0; j < 8; ++j) out[j] = dst + map.RowOf(x + j) * dstStride;
            for (int m = mt; m < mEnd; m += 4) {
                const uint8_t* p = src + m * srcStride + 3 * x;
                const __m256i r0 = _mm256_shuffle_epi8(LoadTwoBlockRows(p), widen);
                const __m256i r1 = _mm256_shuffle_epi8(LoadTwoBlockRows(p + srcStride), widen);
                const __m256i r2 = _mm256_shuffle_epi8(LoadTwoBlockRows(p + 2 * srcStride), widen);
                const __m256i r3 = _mm256_shuffle_epi8(LoadTwoBlockRows(p + 3 * srcStride), widen);
                const __m256i t0 = _mm256_unpacklo_epi32(r0, r1);
                const __m256i t1 = _mm256_unpacklo_epi32(r2, r3);
                const __m256i t2 = _mm256_unpackhi_epi32(r0, r1);
                const __m256i t3 = _mm256_unpackhi_epi32(r2, r3);
                const __m256i c[4] = {_mm256_shuffle_epi8(_mm256_unpacklo_epi64(t0, t1), narrow),
                                      _mm256_shuffle_epi8(_mm256_unpackhi_epi64(t0, t1), narrow),
                                      _mm256_shuffle_epi8(_mm256_unpacklo_epi64(t2, t3), narrow),
                                      _mm256_shuffle_epi8(_mm256_unpackhi_epi64(t2, t3), narrow)};
                const ptrdiff_t at = 3 * static_cast<ptrdiff_t>(forward ? m : map.sh - 4 - m);
                if (m + 4 < rows) {
                    for (int j = 0; j < 4; ++j) {
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(out[j] + at + storeShift),
                                         _mm256_castsi256_si128(c[j]));
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(out[j + 4] + at + storeShift),
                                         _mm256_extracti128_si256(c[j], 1));
                    }
                } else {
                    for (int j = 0; j < 4; ++j) {
                        uint8_t bytes[32];
                        _mm256_storeu_si256(reinterpret_cast<__m256i*>(bytes), c[j]);
                        std::memcpy(out[j] + at, bytes + exactShift, 12);
                        std::memcpy(out[j + 4] + at, bytes + 16 + exactShift, 12);
                    }
                }
            }
        }
    }
}
#endif

// dst (sh x sw pixels) := src (sw x sh pixels) mapped by a memory orientation that exchanges the axes.
void TransformCopy(const uint8_t* src, int sw, int sh, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                   const Orientation& o) {
    const SwapMap map{sw, sh, o.b > 0, o.c > 0};
    int rows = 0;
    int columns = 0;
#ifdef ORVANE_ROTATE_X86
    // The 16-byte loads of a block's rows must stay within the source row.
    if (HasAvx2()) {
        rows = sh & ~3;
        columns = std::max(0, (sw - 2) & ~7);
        TransposeBlocksAvx2(src, srcStride, dst, dstStride, map, rows, columns);
    } else if (HasSsse3()) {
        rows = sh & ~3;
        columns = std::max(0, (sw - 2) & ~3);
        TransposeBlocksSsse3(src, srcStride, dst, dstStride, map, rows, columns);
    }
#endif
    TransposeRegion(src, srcStride, dst, dstStride, map, 0, rows, columns, sw);
    TransposeRegion(src, srcStride, dst, dstStride, map, rows, sh, 0, sw);
}

// Reverses the order of the n pixels of a row in place.
void ReverseRowPortable(uint8_t* row, int n, int first) {
    for (int i = first, j = n - 1 - first; i < j; ++i, --j) {
        uint8_t pixel[3];
        std::memcpy(pixel, row + 3 * i, 3);
        std::memcpy(row + 3 * i, row + 3 * j, 3);
        std::memcpy(row + 3 * j, pixel, 3);
    }
}

#ifdef ORVANE_ROTATE_X86
// Shuffle masks that reverse the order of 16 pixels held in three 16-byte registers: byte b of output
// register `out` takes byte mask[b] of input register `in`, or nothing for -1.
struct ReverseMask {
    int8_t bytes[16];
};

constexpr ReverseMask MakeReverseMask(int out, int in) {
    ReverseMask mask{};
    for (int b = 0; b < 16; ++b) {
        const int q = 16 * out + b;
        const int source = 3 * (15 - q / 3) + q % 3;
        mask.bytes[b] = static_cast<int8_t>(source / 16 == in ? source % 16 : -1);
    }
    return mask;
}

// Output register 0 draws on inputs 1 and 2, register 1 on all three, register 2 on inputs 0 and 1.
constexpr ReverseMask kReverse01 = MakeReverseMask(0, 1), kReverse02 = MakeReverseMask(0, 2);
constexpr ReverseMask kReverse10 = MakeReverseMask(1, 0), kReverse11 = MakeReverseMask(1, 1),
                      kReverse12 = MakeReverseMask(1, 2);
constexpr ReverseMask kReverse20 = MakeReverseMask(2, 0), kReverse21 = MakeReverseMask(2, 1);

struct Pixels16 {
    __m128i v0, v1, v2;
};

struct ReverseMasks {
    __m128i m01, m02, m10, m11, m12, m20, m21;
};

inline Pixels16 Load16(const uint8_t* p) {
    return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32))};
}

__attribute__((target("ssse3"))) inline void StoreReversed16(uint8_t* p, const Pixels16& g,
                                                             const ReverseMasks& m) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                     _mm_or_si128(_mm_shuffle_epi8(g.v1, m.m01), _mm_shuffle_epi8(g.v2, m.m02)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16),
                     _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(g.v0, m.m10), _mm_shuffle_epi8(g.v1, m.m11)),
                                  _mm_shuffle_epi8(g.v2, m.m12)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 32),
                     _mm_or_si128(_mm_shuffle_epi8(g.v0, m.m20), _mm_shuffle_epi8(g.v1, m.m21)));
}

inline __m128i MaskRegister(const ReverseMask& mask) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask.bytes));
}

// Sixteen pixels from each end per step, each end as three 16-byte accesses within its own group,
// so that no access overlaps another one (and, for rows starting on 16 bytes, none straddles a
// cache line).
__attribute__((target("ssse3"))) void ReverseRowSsse3(uint8_t* row, int n) {
    const ReverseMasks masks{MaskRegister(kReverse01), MaskRegister(kReverse02), MaskRegister(kReverse10),
                             MaskRegister(kReverse11), MaskRegister(kReverse12), MaskRegister(kReverse20),
                             MaskRegister(kReverse21)};
    int i = 0;
    for (; 2 * (i + 16) <= n; i += 16) {
        uint8_t* left = row + 3 * i;
        uint8_t* right = row + 3 * (n - 16 - i);
        const Pixels16 l = Load16(left);
        const Pixels16 r = Load16(right);
        StoreReversed16(left, r, masks);
        StoreReversed16(right, l, masks);
    }
    ReverseRowPortable(row, n, i);
}
#endif

void ReverseRow(uint8_t* row, int n) {
#ifdef ORVANE_ROTATE_X86
    if (HasSsse3()) {
        ReverseRowSsse3(row, n);
        return;
    }
#endif
    ReverseRowPortable(row, n, 0);
}

// One sample of a linear resampling from `size` samples to `count`, on pixel centres: the two
// neighbours and the weight of the second in 1/256.
struct Tap {
    ptrdiff_t first;
    ptrdiff_t second;
    unsigned weight;
};

Tap LinearTap(int index, int count, int size) {
    const int64_t twiceCount = 2 * int64_t{count};
    const int64_t position = (2 * int64_t{index} + 1) * size - count;  // in 1 / twiceCount
    if (position <= 0) return {0, 0, 0};
    int64_t first = position / twiceCount;
    unsigned weight = static_cast<unsigned>(((position % twiceCount) * 256 + count) / twiceCount);
    if (weight == 256) {
        ++first;
        weight = 0;
    }
    if (first >= size - 1) return {size - 1, size - 1, 0};
    return {static_cast<ptrdiff_t>(first), static_cast<ptrdiff_t>(first + 1), weight};
}

// dst := the rows r0 and r1 mixed with the weight of r1 in 1/256, rounded.
void BlendRowsPortable(uint8_t* dst, const uint8_t* r0, const uint8_t* r1, size_t first, size_t bytes,
                       unsigned weight) {
    const unsigned w0 = 256 - weight;
    for (size_t i = first; i < bytes; ++i)
        dst[i] = static_cast<uint8_t>((r0[i] * w0 + r1[i] * weight + 128) >> 8);
}

#ifdef ORVANE_ROTATE_X86
// Pairs of bytes multiplied and added in one step. The pixels are biased to signed bytes, which with
// weights adding up to 256 keeps every sum within 16 bits; the bias comes back with the rounding.
__attribute__((target("ssse3"))) void BlendRowsSsse3(uint8_t* dst, const uint8_t* r0, const uint8_t* r1,
                                                     size_t bytes, unsigned weight) {
    const __m128i weights = _mm_set1_epi16(static_cast<int16_t>(weight << 8 | (256 - weight)));
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    const __m128i unbiasAndRound = _mm_set1_epi16(static_cast<int16_t>(0x8080));
    size_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        const __m128i a = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + i)), bias);
        const __m128i b = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + i)), bias);
        const __m128i low = _mm_srli_epi16(
            _mm_add_epi16(_mm_maddubs_epi16(weights, _mm_unpacklo_epi8(a, b)), unbiasAndRound), 8);
        const __m128i high = _mm_srli_epi16(
            _mm_add_epi16(_mm_maddubs_epi16(weights, _mm_unpackhi_epi8(a, b)), unbiasAndRound), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(low, high));
    }
    BlendRowsPortable(dst, r0, r1, i, bytes, weight);
}
#endif

#ifdef ORVANE_ROTATE_X86
__attribute__((target("avx2"))) void BlendRowsAvx2(uint8_t* dst, const uint8_t* r0, const uint8_t* r1,
                                                   size_t bytes, unsigned weight) {
    const __m256i weights = _mm256_set1_epi16(static_cast<int16_t>(weight << 8 | (256 - weight)));
    const __m256i bias = _mm256_set1_epi8(static_cast<char>(0x80));
    const __m256i unbiasAndRound = _mm256_set1_epi16(static_cast<int16_t>(0x8080));
    size_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
        const __m256i a =
            _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r0 + i)), bias);
        const __m256i b =
            _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r1 + i)), bias);
        const __m256i low = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_maddubs_epi16(weights, _mm256_unpacklo_epi8(a, b)), unbiasAndRound), 8);
        const __m256i high = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_maddubs_epi16(weights, _mm256_unpackhi_epi8(a, b)), unbiasAndRound), 8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_packus_epi16(low, high));
    }
    BlendRowsPortable(dst, r0, r1, i, bytes, weight);
}
#endif

void BlendRows(uint8_t* dst, const uint8_t* r0, const uint8_t* r1, size_t bytes, unsigned weight) {
    if (weight == 0) {
        std::memcpy(dst, r0, bytes);
        return;
    }
#ifdef ORVANE_ROTATE_X86
    if (HasAvx2()) {
        BlendRowsAvx2(dst, r0, r1, bytes, weight);
        return;
    }
    if (HasSsse3()) {
        BlendRowsSsse3(dst, r0, r1, bytes, weight);
        return;
    }
#endif
    BlendRowsPortable(dst, r0, r1, 0, bytes, weight);
}

// Work space of the calling thread, kept between frames so that a stream of frames of one size
// allocates only once; null when memory is short. In huge pages where the system grants them: a
// quarter turn walks the buffer across many rows at once.
uint8_t* WorkBuffer(size_t bytes) {
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    thread_local std::unique_ptr<uint8_t, Free> buffer;
    thread_local size_t capacity = 0;
    if (capacity < bytes) {
        constexpr size_t kHugePage = size_t{2} << 20;
        const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        buffer.reset(static_cast<uint8_t*>(std::aligned_alloc(kHugePage, rounded)));
        capacity = buffer ? rounded : 0;
        if (buffer) ::madvise(buffer.get(), rounded, MADV_HUGEPAGE);
    }
    return buffer.get();
}

void MirrorFrame(uint8_t* bits, int width, int height, const Orientation& mem, uint8_t* row) {
    const size_t stride = 3 * static_cast<size_t>(width);
    if (mem == kMirrorRows) {
        for (int y = 0; y < height; ++y) ReverseRow(bits + y * stride, width);
        return;
    }
    for (int y = 0, z = height - 1; y <= z; ++y, --z) {
        uint8_t* low = bits + y * stride;
        uint8_t* high = bits + z * stride;
        if (y != z) {
            std::memcpy(row, low, stride);
            std::memcpy(low, high, stride);
            std::memcpy(high, row, stride);
        }
        if (mem == kHalfTurn) {
            ReverseRow(low, width);
            if (y != z) ReverseRow(high, width);
        }
    }
}

// Applies the memory orientation to the frame in place; false, with the frame untouched, when the
// work buffer cannot be had. The fitting of a quarter turn is decided here, once, on the final size.
bool TurnFrame(uint8_t* bits, int w, int h, const Orientation& mem) {
    if (mem == kIdentity) return true;
    const size_t stride = 3 * static_cast<size_t>(w);
    if (!mem.SwapsAxes()) {
        uint8_t* row = WorkBuffer(stride);
        if (row == nullptr) return false;
        MirrorFrame(bits, w, h, mem, row);
        return true;
    }
    uint8_t* work = WorkBuffer(stride * static_cast<size_t>(h));
    if (work == nullptr) return false;
    if (w == h) {
        std::memcpy(work, bits, stride * static_cast<size_t>(h));
        TransformCopy(work, w, h, stride, bits, stride, mem);
        return true;
    }
    if (w > h) {
        // The turned picture is h wide and w tall; its w rows are squeezed into h, and it stands in
        // the middle of the frame with black columns on both sides.
        const size_t turnedStride = 3 * static_cast<size_t>(h);
        TransformCopy(bits, w, h, stride, work, turnedStride, mem);
        const size_t left = 3 * static_cast<size_t>((w - h) / 2);
        const size_t right = stride - left - turnedStride;
        for (int y = 0; y < h; ++y) {
            const Tap tap = LinearTap(y, h, w);
            uint8_t* line = bits + y * stride;
            std::memset(line, 0, left);
            BlendRows(line + left, work + tap.first * turnedStride, work + tap.second * turnedStride,
                      turnedStride, tap.weight);
            std::memset(line + left + turnedStride, 0, right);
        }
        return true;
    }
    // Portrait: the turned picture is h wide and w tall, squeezed to w x w. Its columns are the
    // frame's rows, so the squeeze is done on the rows first and the square turned afterwards; black
    // rows fill above and below.
    for (int y = 0; y < w; ++y) {
        const Tap tap = LinearTap(y, w, h);
        BlendRows(work + y * stride, bits + tap.first * stride, bits + tap.second * stride, stride,
                  tap.weight);
    }
    const int top = (h - w) / 2;     // picture rows above the square
    const int bottom = h - top - w;  // memory rows below it
    TransformCopy(work, w, w, stride, bits + bottom * stride, stride, mem);
    std::memset(bits, 0, bottom * stride);
    std::memset(bits + (bottom + w) * stride, 0, top * stride);
    return true;
}

}  // namespace

void SetPixelKernelLimit(PixelKernels limit) {
    kernelLimit.store(static_cast<int32_t>(limit), std::memory_order_relaxed);
}

void RotateSampleImp::AddOperation(RotateOp op) {
    std::lock_guard<std::mutex> guard(operationsLock);
    operations.push_back(op);
}

void RotateSampleImp::ClearOperations() {
    std::lock_guard<std::mutex> guard(operationsLock);
    operations.clear();
}

int32_t RotateSampleImp::GetOperationCount() const {
    std::lock_guard<std::mutex> guard(operationsLock);
    return static_cast<int32_t>(std::min<size_t>(operations.size(), std::numeric_limits<int32_t>::max()));
}

bool RotateSampleImp::RotateFrame(const VideoFrame& frame) {
    if (!frame.IsComplete()) return false;
    return RotateFrame(frame.bits, frame.width, frame.height);
}

bool RotateSampleImp::RotateFrame(uint8_t* bits, int32_t width, int32_t height) {
    const size_t frameBytes = FrameBytes(width, height);
    if (bits == nullptr || frameBytes == 0 ||
        frameBytes > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        return false;
    }
    Orientation net = kIdentity;
    try {
        thread_local std::vector<RotateOp> list;
        {
            std::lock_guard<std::mutex> guard(operationsLock);
            list.assign(operations.begin(), operations.end());
        }
        for (RotateOp op : list) net = Then(net, OrientationOf(op));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return TurnFrame(bits, width, height, ToMemory(net));
}

}  // namespace orvane
