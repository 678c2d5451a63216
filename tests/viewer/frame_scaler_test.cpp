#include "viewer/frame_scaler.h"

#include <gtest/gtest.h>

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
