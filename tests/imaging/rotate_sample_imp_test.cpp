#include "imaging/rotate_sample_imp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane {
namespace {

// A picture addressed as seen on screen (x to the right, y down from the top), stored like a frame:
// BGR24, rows bottom-up, 3 x width bytes per row.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bits;

    Picture(int w, int h) : width(w), height(h), bits(3 * size_t(w) * h, 0) {}

    uint8_t* At(int x, int y) { return &bits[3 * (size_t(height - 1 - y) * width + x)]; }
    const uint8_t* At(int x, int y) const { return &bits[3 * (size_t(height - 1 - y) * width + x)]; }
};

Picture Noise(int w, int h, uint32_t seed = 12345) {
    Picture p(w, h);
    for (uint8_t& byte : p.bits) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(seed >> 24);
    }
    return p;
}

// One command applied the plain way, pixel by pixel.
Picture Apply(const Picture& p, RotateOp op) {
    const bool quarter = op == RotateOp::RotateRight90 || op == RotateOp::RotateLeft90;
    Picture q(quarter ? p.height : p.width, quarter ? p.width : p.height);
    for (int y = 0; y < q.height; ++y) {
        for (int x = 0; x < q.width; ++x) {
            int sx = x, sy = y;
            switch (op) {
                case RotateOp::RotateRight90:
                    sx = y;
                    sy = p.height - 1 - x;
                    break;
                case RotateOp::RotateLeft90:
                    sx = p.width - 1 - y;
                    sy = x;
                    break;
                case RotateOp::Rotate180:
                    sx = p.width - 1 - x;
                    sy = p.height - 1 - y;
                    break;
                case RotateOp::FlipVertical:
                    sy = p.height - 1 - y;
                    break;
                case RotateOp::FlipHorizontal:
                    sx = p.width - 1 - x;
                    break;
            }
            std::copy_n(p.At(sx, sy), 3, q.At(x, y));
        }
    }
    return q;
}

// What the frame must become: every command in turn, then the turned picture drawn into a black
// frame-sized canvas with floating-point bilinear scaling.
Picture Expected(const Picture& frame, const std::vector<RotateOp>& ops) {
    Picture p = frame;
    for (RotateOp op : ops) p = Apply(p, op);
    if (p.width == frame.width && p.height == frame.height) return p;
    Picture canvas(frame.width, frame.height);
    const int left = std::max(0, (frame.width - p.width) / 2);
    const int top = std::max(0, (frame.height - p.height) / 2);
    const int rw = std::min(frame.width, p.width);
    const int rh = std::min(frame.height, p.height);
    for (int y = 0; y < rh; ++y) {
        for (int x = 0; x < rw; ++x) {
            const double u = std::clamp((x + 0.5) * p.width / rw - 0.5, 0.0, p.width - 1.0);
            const double v = std::clamp((y + 0.5) * p.height / rh - 0.5, 0.0, p.height - 1.0);
            const int u0 = int(u), v0 = int(v);
            const int u1 = std::min(u0 + 1, p.width - 1), v1 = std::min(v0 + 1, p.height - 1);
            const double fu = u - u0, fv = v - v0;
            for (int c = 0; c < 3; ++c) {
                const double value = (p.At(u0, v0)[c] * (1 - fu) + p.At(u1, v0)[c] * fu) * (1 - fv) +
                                     (p.At(u0, v1)[c] * (1 - fu) + p.At(u1, v1)[c] * fu) * fv;
                canvas.At(left + x, top + y)[c] = static_cast<uint8_t>(std::lround(value));
            }
        }
    }
    return canvas;
}

// The largest difference of one byte between the two pictures.
int MaxDifference(const Picture& a, const Picture& b) {
    int worst = 0;
    for (size_t i = 0; i < a.bits.size(); ++i)
        worst = std::max(worst, std::abs(int(a.bits[i]) - int(b.bits[i])));
    return worst;
}

bool ColumnsAreBlack(const Picture& p, int first, int last) {
    for (int y = 0; y < p.height; ++y)
        for (int x = first; x <= last; ++x)
            if (p.At(x, y)[0] || p.At(x, y)[1] || p.At(x, y)[2]) return false;
    return true;
}

bool RowsAreBlack(const Picture& p, int first, int last) {
    for (int y = first; y <= last; ++y)
        for (int x = 0; x < p.width; ++x)
            if (p.At(x, y)[0] || p.At(x, y)[1] || p.At(x, y)[2]) return false;
    return true;
}

Picture Rotated(const Picture& frame, const std::vector<RotateOp>& ops) {
    RotateSampleImp rotation;
    for (RotateOp op : ops) rotation.AddOperation(op);
    Picture result = frame;
    EXPECT_TRUE(rotation.RotateFrame(result.bits.data(), result.width, result.height));
    return result;
}

using enum RotateOp;

// The pixel work exists in variants for processor extensions; each of these cases runs on every one
// this processor has.
class RotateFrameTest : public ::testing::TestWithParam<PixelKernels> {
protected:
    void SetUp() override { SetPixelKernelLimit(GetParam()); }
    void TearDown() override { SetPixelKernelLimit(PixelKernels::Avx2); }
};

INSTANTIATE_TEST_SUITE_P(Kernels, RotateFrameTest,
                         ::testing::Values(PixelKernels::Portable, PixelKernels::Ssse3, PixelKernels::Avx2),
                         [](const auto& info) {
                             switch (info.param) {
                                 case PixelKernels::Portable:
                                     return std::string("Portable");
                                 case PixelKernels::Ssse3:
                                     return std::string("Ssse3");
                                 case PixelKernels::Avx2:
                                     return std::string("Avx2");
                             }
                             return std::string("Unknown");
                         });

TEST(RotateSampleImp, OperationCountFollowsAddAndClear) {
    RotateSampleImp rotation;
    EXPECT_EQ(rotation.GetOperationCount(), 0);
    rotation.AddOperation(RotateRight90);
    rotation.AddOperation(RotateRight90);
    rotation.AddOperation(static_cast<RotateOp>(42));
    EXPECT_EQ(rotation.GetOperationCount(), 3);
    rotation.ClearOperations();
    EXPECT_EQ(rotation.GetOperationCount(), 0);
}

TEST_P(RotateFrameTest, NoNetChangeLeavesFrameByteForByte) {
    const Picture frame = Noise(640, 480);
    EXPECT_EQ(Rotated(frame, {}).bits, frame.bits);
    EXPECT_EQ(Rotated(frame, {static_cast<RotateOp>(0), static_cast<RotateOp>(9)}).bits, frame.bits);
    // All turns are applied before the fitting is decided, on the final size.
    EXPECT_EQ(Rotated(frame, {RotateRight90, RotateRight90, RotateRight90, RotateRight90}).bits, frame.bits);
    EXPECT_EQ(Rotated(frame, {RotateLeft90, RotateRight90}).bits, frame.bits);
    EXPECT_EQ(Rotated(frame, {FlipHorizontal, FlipVertical, Rotate180}).bits, frame.bits);
}

TEST_P(RotateFrameTest, FlipsMoveRowsAndPixelsInMemory) {
    // Odd widths give rows that are not a multiple of 4 bytes, and exercise every tail of the
    // row reversal.
    for (int width : {1, 2, 5, 6, 7, 11, 16, 31, 32, 33, 47, 48, 641}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const Picture frame = Noise(width, 5, width);
        const size_t stride = 3 * size_t(width);

        const Picture vertical = Rotated(frame, {FlipVertical});
        for (int row = 0; row < 5; ++row) {
            EXPECT_TRUE(std::equal(&vertical.bits[row * stride], &vertical.bits[row * stride] + stride,
                                   &frame.bits[(4 - row) * stride]));
        }

        const Picture horizontal = Rotated(frame, {FlipHorizontal});
        for (int row = 0; row < 5; ++row) {
            for (int x = 0; x < width; ++x) {
                EXPECT_TRUE(std::equal(&horizontal.bits[row * stride + 3 * x],
                                       &horizontal.bits[row * stride + 3 * x] + 3,
                                       &frame.bits[row * stride + 3 * (width - 1 - x)]));
            }
        }

        EXPECT_EQ(Rotated(frame, {Rotate180}).bits, Rotated(frame, {FlipVertical, FlipHorizontal}).bits);
    }
}

TEST_P(RotateFrameTest, QuarterTurnOfSquareFrameIsExact) {
    const Picture frame = Noise(480, 480);
    EXPECT_EQ(Rotated(frame, {RotateRight90}).bits, Apply(frame, RotateRight90).bits);
    EXPECT_EQ(Rotated(frame, {RotateLeft90}).bits, Apply(frame, RotateLeft90).bits);
    EXPECT_EQ(Rotated(frame, {RotateRight90, FlipVertical}).bits,
              Apply(Apply(frame, RotateRight90), FlipVertical).bits);
}

TEST_P(RotateFrameTest, QuarterTurnOfLandscapeFrameIsSqueezedBetweenBlackColumns) {
    const Picture frame = Noise(640, 480);
    const Picture turned = Rotated(frame, {RotateRight90});
    EXPECT_TRUE(ColumnsAreBlack(turned, 0, 79));
    EXPECT_TRUE(ColumnsAreBlack(turned, 560, 639));
    EXPECT_LE(MaxDifference(turned, Expected(frame, {RotateRight90})), 1);
    // The top left of the square comes from the bottom left of the frame: the first turned row lies
    // at 0.5 x 640 / 480 - 0.5 = 1/6 between the frame's first two columns.
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(turned.At(80, 0)[c], frame.At(0, 479)[c] * 5.0 / 6 + frame.At(1, 479)[c] / 6.0, 1);
    }
}

TEST_P(RotateFrameTest, QuarterTurnOfPortraitFrameIsSqueezedBetweenBlackRows) {
    const Picture frame = Noise(480, 640);
    const Picture turned = Rotated(frame, {RotateLeft90});
    EXPECT_TRUE(RowsAreBlack(turned, 0, 79));
    EXPECT_TRUE(RowsAreBlack(turned, 560, 639));
    EXPECT_LE(MaxDifference(turned, Expected(frame, {RotateLeft90})), 1);
}

TEST_P(RotateFrameTest, OddSizesKeepRowsOfThreeTimesWidthAndTruncateTheBands) {
    Picture frame = Noise(641, 480);
    frame.bits.resize(frame.bits.size() + 64, 0xAB);  // guard bytes after the frame
    RotateSampleImp rotation;
    rotation.AddOperation(RotateRight90);
    ASSERT_TRUE(rotation.RotateFrame(frame.bits.data(), 641, 480));
    EXPECT_TRUE(std::all_of(frame.bits.end() - 64, frame.bits.end(), [](uint8_t b) { return b == 0xAB; }));
    frame.bits.resize(frame.bits.size() - 64);
    EXPECT_TRUE(ColumnsAreBlack(frame, 0, 79));  // (641 - 480) / 2 = 80 on the left
    EXPECT_TRUE(ColumnsAreBlack(frame, 560, 640));
    EXPECT_FALSE(ColumnsAreBlack(frame, 80, 80));
    EXPECT_FALSE(ColumnsAreBlack(frame, 559, 559));

    const Picture portrait = Noise(7, 12);
    const Picture turned = Rotated(portrait, {RotateRight90});
    EXPECT_TRUE(RowsAreBlack(turned, 0, 1));  // (12 - 7) / 2 = 2 above, 3 below
    EXPECT_TRUE(RowsAreBlack(turned, 9, 11));
    EXPECT_LE(MaxDifference(turned, Expected(portrait, {RotateRight90})), 1);
}

TEST_P(RotateFrameTest, CommandListsMatchStepByStepApplication) {
    const RotateOp all[] = {RotateRight90, RotateLeft90, Rotate180, FlipVertical, FlipHorizontal};
    std::vector<std::vector<RotateOp>> lists;
    for (RotateOp a : all) {
        lists.push_back({a});
        for (RotateOp b : all) {
            lists.push_back({a, b});
            for (RotateOp c : all) lists.push_back({a, b, c});
        }
    }
    for (auto [w, h] : {std::pair{12, 8}, std::pair{13, 7}, std::pair{7, 13}, std::pair{9, 9}}) {
        const Picture frame = Noise(w, h, w * 100 + h);
        for (const auto& list : lists) {
            std::string name;
            for (RotateOp op : list) name += std::to_string(int(op));
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " ops " + name);
            EXPECT_LE(MaxDifference(Rotated(frame, list), Expected(frame, list)), 1);
        }
    }
    // Sizes that fill the wide kernels' blocks, leave remainders on both sides, and reach past the
    // first tile of source rows.
    for (auto [w, h] : {std::pair{37, 21}, std::pair{21, 37}, std::pair{600, 520}, std::pair{520, 600}}) {
        const Picture frame = Noise(w, h, w + h);
        for (const auto& list : std::vector<std::vector<RotateOp>>{{RotateRight90},
                                                                   {RotateLeft90},
                                                                   {RotateRight90, FlipHorizontal},
                                                                   {FlipHorizontal, RotateRight90},
                                                                   {Rotate180}}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " first op " +
                         std::to_string(int(list[0])));
            EXPECT_LE(MaxDifference(Rotated(frame, list), Expected(frame, list)), 1);
        }
    }
}

TEST(RotateSampleImp, EveryKernelGivesTheSameBytes) {
    const std::vector<std::vector<RotateOp>> lists = {
        {RotateRight90}, {RotateLeft90}, {FlipHorizontal}, {Rotate180}, {RotateRight90, FlipVertical}};
    for (auto [w, h] : {std::pair{643, 480}, std::pair{480, 643}, std::pair{517, 517}}) {
        const Picture frame = Noise(w, h, 99);
        for (const auto& list : lists) {
            SetPixelKernelLimit(PixelKernels::Portable);
            const Picture portable = Rotated(frame, list);
            for (PixelKernels kernels : {PixelKernels::Ssse3, PixelKernels::Avx2}) {
                SetPixelKernelLimit(kernels);
                EXPECT_EQ(Rotated(frame, list).bits, portable.bits)
                    << w << "x" << h << " kernels " << int(kernels) << " first op " << int(list[0]);
            }
        }
    }
    SetPixelKernelLimit(PixelKernels::Avx2);
}

TEST(RotateSampleImp, RefusesFramesItCannotTurnSafely) {
    RotateSampleImp rotation;
    rotation.AddOperation(RotateRight90);
    Picture frame = Noise(64, 48);
    const std::vector<uint8_t> before = frame.bits;
    EXPECT_FALSE(rotation.RotateFrame(nullptr, 64, 48));
    EXPECT_FALSE(rotation.RotateFrame(frame.bits.data(), 0, 48));
    EXPECT_FALSE(rotation.RotateFrame(frame.bits.data(), 64, -1));
    // A sample shorter than its size says is not read as a whole frame.
    EXPECT_FALSE(rotation.RotateFrame(VideoFrame{frame.bits.data(), int32_t(frame.bits.size()) - 1, 64, 48}));
    EXPECT_EQ(frame.bits, before);
    EXPECT_TRUE(rotation.RotateFrame(VideoFrame{frame.bits.data(), int32_t(frame.bits.size()), 64, 48}));
    EXPECT_NE(frame.bits, before);
}

}  // namespace
}  // namespace orvane
