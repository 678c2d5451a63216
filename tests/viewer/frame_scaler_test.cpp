#include "viewer/frame_scaler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace orvane {
namespace {

// A bottom-up BGR24 frame whose pixel (x, row from the top) is the colour f(x, row).
template <class F>
std::vector<uint8_t> MakeFrame(int width, int height, F f) {
    std::vector<uint8_t> bits(size_t{3} * width * height);
    for (int row = 0; row < height; ++row) {
        uint8_t* line = bits.data() + size_t{3} * width * (height - 1 - row);
        for (int x = 0; x < width; ++x) {
            const QColor c = f(x, row);
            line[3 * x] = static_cast<uint8_t>(c.blue());
            line[3 * x + 1] = static_cast<uint8_t>(c.green());
            line[3 * x + 2] = static_cast<uint8_t>(c.red());
        }
    }
    return bits;
}

TEST(FrameScalerTest, SameSizeGivesTheFrameUpright) {
    auto colour = [](int x, int row) { return QColor(x * 40, row * 50, 200 - x * 10); };
    std::vector<uint8_t> bits = MakeFrame(5, 4, colour);
    CFrameScaler scaler;
    QImage out;
    ASSERT_TRUE(scaler.Scale(VideoFrame{bits.data(), static_cast<int32_t>(bits.size()), 5, 4}, 5, 4, out));
    ASSERT_EQ(out.format(), QImage::Format_RGB32);
    for (int row = 0; row < 4; ++row) {
        for (int x = 0; x < 5; ++x) EXPECT_EQ(out.pixelColor(x, row), colour(x, row)) << x << "," << row;
    }
}

TEST(FrameScalerTest, ScalingKeepsRegionsWhereTheyWere) {
    // Top half red, bottom half blue, a white left quarter.
    auto colour = [](int x, int row) {
        if (x < 160) return QColor(255, 255, 255);
        return row < 120 ? QColor(220, 0, 0) : QColor(0, 0, 220);
    };
    std::vector<uint8_t> bits = MakeFrame(640, 240, colour);
    const VideoFrame frame{bits.data(), static_cast<int32_t>(bits.size()), 640, 240};
    CFrameScaler scaler;
    QImage out;
    for (QSize size : {QSize(333, 97), QSize(1280, 480)}) {
        ASSERT_TRUE(scaler.Scale(frame, size.width(), size.height(), out));
        EXPECT_EQ(out.size(), size);
        EXPECT_EQ(out.pixelColor(size.width() / 10, size.height() / 2), QColor(255, 255, 255));
        EXPECT_EQ(out.pixelColor(size.width() * 3 / 4, size.height() / 5), QColor(220, 0, 0));
        EXPECT_EQ(out.pixelColor(size.width() * 3 / 4, size.height() * 4 / 5), QColor(0, 0, 220));
        EXPECT_EQ(out.pixelColor(size.width() - 1, size.height() - 1), QColor(0, 0, 220));
    }
}

// Bilinear sampling at the centre of each target pixel, worked out in doubles.
QColor Reference(const std::vector<uint8_t>& bits, int width, int height, int tw, int th, int x, int y) {
    auto axis = [](int i, int source, int target, int& low, int& high, double& weight) {
        const double position = std::clamp((i + 0.5) * source / target - 0.5, 0.0, source - 1.0);
        low = static_cast<int>(position);
        high = std::min(low + 1, source - 1);
        weight = position - low;
    };
    int x0, x1, y0, y1;
    double wx, wy;
    axis(x, width, tw, x0, x1, wx);
    axis(y, height, th, y0, y1, wy);
    auto at = [&](int px, int row, int c) {
        return static_cast<double>(bits[size_t{3} * (size_t(width) * (height - 1 - row) + px) + c]);
    };
    int channel[3];
    for (int c = 0; c < 3; ++c) {
        const double top = at(x0, y0, c) * (1 - wx) + at(x1, y0, c) * wx;
        const double bottom = at(x0, y1, c) * (1 - wx) + at(x1, y1, c) * wx;
        channel[c] = static_cast<int>(std::lround(top * (1 - wy) + bottom * wy));
    }
    return QColor(channel[2], channel[1], channel[0]);
}

TEST(FrameScalerTest, EveryPixelIsTheBilinearSampleAndBothColumnWaysAgree) {
    std::mt19937 random(7);
    auto noise = [&](int, int) { return QColor::fromRgb(random() & 0xFFFFFF); };
    struct Case {
        int width, height, tw, th;
    };
    // Shrinking, growing, odd sizes that leave columns after the last group of four, one column.
    for (const Case c : {Case{1920, 1080, 1280, 720}, Case{37, 23, 13, 7}, Case{37, 23, 50, 41},
                         Case{2, 2, 5, 3}, Case{1, 5, 3, 2}, Case{640, 480, 1, 1}}) {
        std::vector<uint8_t> bits = MakeFrame(c.width, c.height, noise);
        const VideoFrame frame{bits.data(), static_cast<int32_t>(bits.size()), c.width, c.height};
        CFrameScaler vector;
        CFrameScaler plain;
        plain.UsePlainColumns(true);
        QImage fast, slow;
        ASSERT_TRUE(vector.Scale(frame, c.tw, c.th, fast));
        ASSERT_TRUE(plain.Scale(frame, c.tw, c.th, slow));
        ASSERT_EQ(fast, slow) << c.width << "x" << c.height << " to " << c.tw << "x" << c.th;
        int worst = 0;
        for (int y = 0; y < c.th; ++y) {
            for (int x = 0; x < c.tw; ++x) {
                const QColor want = Reference(bits, c.width, c.height, c.tw, c.th, x, y);
                const QColor got = fast.pixelColor(x, y);
                ASSERT_EQ(got.alpha(), 255);
                worst = std::max({worst, std::abs(got.red() - want.red()), std::abs(got.green() - want.green()),
                                  std::abs(got.blue() - want.blue())});
            }
        }
        // Weights of 1/64 of a pixel across and 1/256 down, each step rounded.
        EXPECT_LE(worst, 3) << c.width << "x" << c.height << " to " << c.tw << "x" << c.th;
    }
}

TEST(FrameScalerTest, IncompleteFramesAreRefused) {
    std::vector<uint8_t> bits(100);
    CFrameScaler scaler;
    QImage out(3, 3, QImage::Format_RGB32);
    out.fill(Qt::green);
    EXPECT_FALSE(scaler.Scale(VideoFrame{bits.data(), 100, 640, 480}, 10, 10, out));
    EXPECT_FALSE(scaler.Scale(VideoFrame{bits.data(), 100, 4, 4}, 0, 10, out));
    EXPECT_EQ(out.size(), QSize(3, 3));
}

}  // namespace
}  // namespace orvane
