#include "capture/frame_converter.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <sys/mman.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace orvane {
namespace {

// A sample file of tests/data, byte for byte.
std::vector<uint8_t> Sample(const std::string& name) {
    std::ifstream in(std::string(ORVANE_TEST_DATA) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Rgb {
    int r, g, b;
};

// BT.601 limited range, as cameras send it.
constexpr uint8_t kRedY = 81, kRedU = 90, kRedV = 240;
constexpr uint8_t kBlueY = 41, kBlueU = 240, kBlueV = 110;
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};

constexpr int kWidth = 32;
constexpr int kHeight = 16;

// The colour at picture coordinates (first row = top) of a bottom-up BGR24 frame.
Rgb At(const uint8_t* bgr, int width, int height, int x, int y) {
    const uint8_t* p = &bgr[(static_cast<size_t>(height - 1 - y) * width + x) * 3];
    return {p[2], p[1], p[0]};
}

// Every pixel of the top half red, of the bottom half blue, but for the two rows at the border,
// where chroma shared by both rows may be interpolated.
// `margin` more rows either side of the border are left out where the picture was scaled.
void ExpectRedOverBlue(const uint8_t* bgr, int tolerance, int width = kWidth, int height = kHeight,
                       int margin = 0) {
    for (int y = 0; y < height; ++y) {
        if (y >= height / 2 - 1 - margin && y <= height / 2 + margin) continue;
        for (int x = 0; x < width; ++x) {
            const Rgb want = y < height / 2 ? kRed : kBlue;
            const Rgb got = At(bgr, width, height, x, y);
            ASSERT_LE(std::abs(got.r - want.r), tolerance) << "x " << x << " y " << y;
            ASSERT_LE(std::abs(got.g - want.g), tolerance) << "x " << x << " y " << y;
            ASSERT_LE(std::abs(got.b - want.b), tolerance) << "x " << x << " y " << y;
        }
    }
}

std::vector<uint8_t> EncodeRedOverBlue(int width, int height);

// The planar and semi-planar YUV formats, tightly packed: the luma plane, then the chroma.
std::vector<uint8_t> PlanarRedOverBlue(uint32_t format, int width, int height) {
    const size_t w = static_cast<size_t>(width);
    const size_t h = static_cast<size_t>(height);
    const bool halvedRows = format == V4L2_PIX_FMT_YUV420 || format == V4L2_PIX_FMT_YVU420 ||
                            format == V4L2_PIX_FMT_NV12 || format == V4L2_PIX_FMT_NV21;
    const bool planar =
        format == V4L2_PIX_FMT_YUV420 || format == V4L2_PIX_FMT_YVU420 || format == V4L2_PIX_FMT_YUV422P;
    const bool full = format == V4L2_PIX_FMT_NV24 || format == V4L2_PIX_FMT_NV42;  // 4:4:4
    const bool vFirst = format == V4L2_PIX_FMT_YVU420 || format == V4L2_PIX_FMT_NV21 ||
                        format == V4L2_PIX_FMT_NV61 || format == V4L2_PIX_FMT_NV42;
    const size_t chromaRows = halvedRows ? h / 2 : h;
    const size_t chromaColumns = full ? w : w / 2;
    std::vector<uint8_t> frame(w * h + 2 * chromaColumns * chromaRows);
    for (size_t y = 0; y < h; ++y) std::memset(&frame[y * w], y < h / 2 ? kRedY : kBlueY, w);
    uint8_t* chroma = &frame[w * h];
    for (size_t y = 0; y < chromaRows; ++y) {
        const bool top = (halvedRows ? y * 2 : y) < h / 2;
        const uint8_t U = top ? kRedU : kBlueU, V = top ? kRedV : kBlueV;
        for (size_t x = 0; x < chromaColumns; ++x) {
            if (planar) {
                const size_t plane = chromaColumns * chromaRows;
                chroma[(vFirst ? plane : 0) + y * chromaColumns + x] = U;
                chroma[(vFirst ? 0 : plane) + y * chromaColumns + x] = V;
            } else {
                chroma[y * chromaColumns * 2 + x * 2] = vFirst ? V : U;
                chroma[y * chromaColumns * 2 + x * 2 + 1] = vFirst ? U : V;
            }
        }
    }
    return frame;
}

// One pixel of a packed RGB layout: its bytes in memory for pure red and for pure blue.
struct RgbLayout {
    uint32_t format;
    std::vector<uint8_t> red;
    std::vector<uint8_t> blue;
};

std::vector<uint8_t> Le16(uint16_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
}
std::vector<uint8_t> Be16(uint16_t value) {
    return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

// The other RGB layouts cameras and vivid send, as the kernel documents their bytes; the unused and
// alpha bits are zero, so that an alpha of 0 must not make the picture transparent.
const std::vector<RgbLayout>& RgbLayouts() {
    static const std::vector<RgbLayout> layouts = {
        {V4L2_PIX_FMT_XBGR32, {0, 0, 255, 0}, {255, 0, 0, 0}},  // B G R X
        {V4L2_PIX_FMT_ABGR32, {0, 0, 255, 0}, {255, 0, 0, 0}},  // B G R A
        {V4L2_PIX_FMT_BGR32, {0, 0, 255, 0}, {255, 0, 0, 0}},   // B G R X
        {V4L2_PIX_FMT_XRGB32, {0, 255, 0, 0}, {0, 0, 0, 255}},  // X R G B
        {V4L2_PIX_FMT_ARGB32, {0, 255, 0, 0}, {0, 0, 0, 255}},  // A R G B
        {V4L2_PIX_FMT_RGB32, {0, 255, 0, 0}, {0, 0, 0, 255}},   // X R G B
        {V4L2_PIX_FMT_RGBX32, {255, 0, 0, 0}, {0, 0, 255, 0}},  // R G B X
        {V4L2_PIX_FMT_RGBA32, {255, 0, 0, 0}, {0, 0, 255, 0}},  // R G B A
        {V4L2_PIX_FMT_BGRX32, {0, 0, 0, 255}, {0, 255, 0, 0}},  // X B G R
        {V4L2_PIX_FMT_BGRA32, {0, 0, 0, 255}, {0, 255, 0, 0}},  // A B G R
        {V4L2_PIX_FMT_RGB565, Le16(0xF800), Le16(0x001F)},      // rrrrrggg gggbbbbb, little-endian
        {V4L2_PIX_FMT_RGB565X, Be16(0xF800), Be16(0x001F)},
        {V4L2_PIX_FMT_RGB555, Le16(0x7C00), Le16(0x001F)},  // xrrrrrgg gggbbbbb
        {V4L2_PIX_FMT_XRGB555, Le16(0x7C00), Le16(0x001F)},
        {V4L2_PIX_FMT_ARGB555, Le16(0x7C00), Le16(0x001F)},
        {V4L2_PIX_FMT_RGB555X, Be16(0x7C00), Be16(0x001F)},
        {V4L2_PIX_FMT_XRGB555X, Be16(0x7C00), Be16(0x001F)},
        {V4L2_PIX_FMT_ARGB555X, Be16(0x7C00), Be16(0x001F)},
        {V4L2_PIX_FMT_XBGR555, Le16(0x001F), Le16(0x7C00)},  // xbbbbbgg gggrrrrr
        {V4L2_PIX_FMT_ABGR555, Le16(0x001F), Le16(0x7C00)},
        {V4L2_PIX_FMT_RGB444, Le16(0x0F00), Le16(0x000F)},  // xxxxrrrr ggggbbbb
        {V4L2_PIX_FMT_XRGB444, Le16(0x0F00), Le16(0x000F)},
        {V4L2_PIX_FMT_ARGB444, Le16(0x0F00), Le16(0x000F)},
        {V4L2_PIX_FMT_XBGR444, Le16(0x000F), Le16(0x0F00)},  // xxxxbbbb ggggrrrr
        {V4L2_PIX_FMT_ABGR444, Le16(0x000F), Le16(0x0F00)},
        {V4L2_PIX_FMT_RGB332, {0xE0}, {0x03}},  // rrrgggbb
    };
    return layouts;
}

// Bayer mosaics: each site holds the sample of its own colour, `max` for red (top) or blue (bottom).
std::optional<std::vector<uint8_t>> BayerRedOverBlue(uint32_t format, int width, int height) {
    const char* pattern = nullptr;  // the colours of the 2 x 2 cell, row by row
    int bytes = 1;
    switch (format) {
        case V4L2_PIX_FMT_SBGGR16:
            bytes = 2;
            [[fallthrough]];
        case V4L2_PIX_FMT_SBGGR8:
            pattern = "BGGR";
            break;
        case V4L2_PIX_FMT_SGBRG16:
            bytes = 2;
            [[fallthrough]];
        case V4L2_PIX_FMT_SGBRG8:
            pattern = "GBRG";
            break;
        case V4L2_PIX_FMT_SGRBG16:
            bytes = 2;
            [[fallthrough]];
        case V4L2_PIX_FMT_SGRBG8:
            pattern = "GRBG";
            break;
        case V4L2_PIX_FMT_SRGGB16:
            bytes = 2;
            [[fallthrough]];
        case V4L2_PIX_FMT_SRGGB8:
            pattern = "RGGB";
            break;
        default:
            return std::nullopt;
    }
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * bytes, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const char site = pattern[(y % 2) * 2 + x % 2];
            if (site != (y < height / 2 ? 'R' : 'B')) continue;
            for (int b = 0; b < bytes; ++b) frame[(static_cast<size_t>(y) * width + x) * bytes + b] = 0xFF;
        }
    }
    return frame;
}

std::optional<std::vector<uint8_t>> RgbLayoutRedOverBlue(uint32_t format, int width, int height) {
    if (std::optional<std::vector<uint8_t>> bayer = BayerRedOverBlue(format, width, height)) return bayer;
    for (const RgbLayout& layout : RgbLayouts()) {
        if (layout.format != format) continue;
        std::vector<uint8_t> frame;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::vector<uint8_t>& pixel = y < height / 2 ? layout.red : layout.blue;
                frame.insert(frame.end(), pixel.begin(), pixel.end());
            }
        }
        return frame;
    }
    return std::nullopt;
}

// A camera frame of the format whose top half is red and bottom half blue; lines of `line` bytes
// (0 = tightly packed) for the single-plane formats.
std::vector<uint8_t> RedOverBlue(uint32_t format, int width = kWidth, int height = kHeight, size_t line = 0) {
    if (format == V4L2_PIX_FMT_MJPEG) return EncodeRedOverBlue(width, height);
    auto top = [&](int y) { return y < height / 2; };
    const size_t w = static_cast<size_t>(width);
    switch (format) {
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_YVYU:
        case V4L2_PIX_FMT_UYVY: {
            line = line == 0 ? w * 2 : line;
            std::vector<uint8_t> frame(line * height, 0xEE);
            for (int y = 0; y < height; ++y) {
                for (size_t x = 0; x < w; x += 2) {
                    uint8_t* p = &frame[y * line + x * 2];
                    const uint8_t Y = top(y) ? kRedY : kBlueY, U = top(y) ? kRedU : kBlueU,
                                  V = top(y) ? kRedV : kBlueV;
                    if (format == V4L2_PIX_FMT_UYVY) {
                        p[0] = U, p[1] = Y, p[2] = V, p[3] = Y;
                    } else if (format == V4L2_PIX_FMT_YVYU) {
                        p[0] = Y, p[1] = V, p[2] = Y, p[3] = U;
                    } else {
                        p[0] = Y, p[1] = U, p[2] = Y, p[3] = V;
                    }
                }
            }
            return frame;
        }
        case V4L2_PIX_FMT_BGR24:
        case V4L2_PIX_FMT_RGB24: {
            std::vector<uint8_t> frame(w * height * 3);
            for (int y = 0; y < height; ++y) {
                for (size_t x = 0; x < w; ++x) {
                    uint8_t* p = &frame[(y * w + x) * 3];
                    const bool redFirst = (format == V4L2_PIX_FMT_RGB24) == top(y);
                    p[0] = redFirst ? 255 : 0, p[1] = 0, p[2] = redFirst ? 0 : 255;
                }
            }
            return frame;
        }
        default:
            if (const std::optional<std::vector<uint8_t>> rgb = RgbLayoutRedOverBlue(format, width, height))
                return *rgb;
            return PlanarRedOverBlue(format, width, height);
    }
}

std::vector<uint8_t> EncodeRedOverBlue(int width, int height) {
    std::vector<uint8_t> rgb = RedOverBlue(V4L2_PIX_FMT_RGB24, width, height);
    // RGB24 as built above holds red in the top rows when read as R, G, B.
    tjhandle compressor = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(
        tjCompress2(compressor, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_422, 95, 0), 0);
    std::vector<uint8_t> result(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(compressor);
    return result;
}

// `size` bytes that end where an inaccessible page begins: a read or write past them faults.
class GuardedArea {
public:
    explicit GuardedArea(size_t size) {
        const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        length = (size + page - 1) / page * page + page;
        base = static_cast<uint8_t*>(
            mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        EXPECT_NE(base, MAP_FAILED);
        EXPECT_EQ(mprotect(base + length - page, page, PROT_NONE), 0);
        data = base + length - page - size;
    }
    ~GuardedArea() { munmap(base, length); }
    GuardedArea(const GuardedArea&) = delete;
    GuardedArea& operator=(const GuardedArea&) = delete;

    uint8_t* data = nullptr;

private:
    uint8_t* base = nullptr;
    size_t length = 0;
};

TEST(FrameConverterTest, EveryUncompressedFormatGivesBottomUpBgr) {
    struct Case {
        uint32_t format;
        uint32_t bytesPerLine = 0;
        size_t padding = 0;  // after the last row, not needed
    };
    const Case cases[] = {
        {V4L2_PIX_FMT_YUYV},   {V4L2_PIX_FMT_YUYV, kWidth * 2 + 64, 64},
        {V4L2_PIX_FMT_UYVY},   {V4L2_PIX_FMT_YUV420},
        {V4L2_PIX_FMT_YVU420}, {V4L2_PIX_FMT_NV12},
        {V4L2_PIX_FMT_BGR24},  {V4L2_PIX_FMT_RGB24},
    };
    CFrameConverter converter;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "format " << std::hex << c.format << " line " << std::dec << c.bytesPerLine);
        const std::vector<uint8_t> frame = RedOverBlue(c.format, kWidth, kHeight, c.bytesPerLine);
        ASSERT_TRUE(converter.Configure(c.format, kWidth, kHeight, c.bytesPerLine));
        ASSERT_EQ(converter.OutputSize(), static_cast<size_t>(kWidth * kHeight * 3));
        std::vector<uint8_t> output(converter.OutputSize());
        ASSERT_TRUE(converter.Convert(frame.data(), frame.size(), output.data()));
        ExpectRedOverBlue(output.data(), 3);
        // One byte short of a whole frame is refused rather than read past its end.
        EXPECT_FALSE(converter.Convert(frame.data(), frame.size() - c.padding - 1, output.data()));
    }
}

TEST(FrameConverterTest, NeverTouchesMemoryBeyondTheFrameOrTheOutput) {
    // Frames that end where a buffer ends, and outputs of exactly 3 x width x height bytes, at widths
    // the converters' vector loops do not divide evenly.
    for (uint32_t format : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_UYVY, V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_YVU420,
                            V4L2_PIX_FMT_NV12, V4L2_PIX_FMT_BGR24, V4L2_PIX_FMT_RGB24, V4L2_PIX_FMT_MJPEG}) {
        for (int width : {2, 18, 424, 1000, 1002, 640}) {
            SCOPED_TRACE(testing::Message()
                         << "format " << std::hex << format << std::dec << " width " << width);
            constexpr int kRows = 8;
            const std::vector<uint8_t> frame = RedOverBlue(format, width, kRows);
            GuardedArea input(frame.size());
            std::memcpy(input.data, frame.data(), frame.size());
            CFrameConverter converter;
            ASSERT_TRUE(converter.Configure(format, width, kRows));
            GuardedArea output(converter.OutputSize());
            ASSERT_TRUE(converter.Convert(input.data, frame.size(), output.data));
            ExpectRedOverBlue(output.data, format == V4L2_PIX_FMT_MJPEG ? 12 : 3, width, kRows);
        }
    }
}

TEST(FrameConverterTest, ConfigureRefusesWhatItCannotConvert) {
    CFrameConverter converter;
    EXPECT_FALSE(converter.Configure(V4L2_PIX_FMT_HSV24, 640, 480));
    EXPECT_FALSE(converter.Configure(V4L2_PIX_FMT_H264, 640, 480));
    EXPECT_FALSE(converter.Configure(V4L2_PIX_FMT_SRGGB8, 640, 481));         // half a Bayer cell
    EXPECT_FALSE(converter.Configure(V4L2_PIX_FMT_YUV422P, 640, 480, 1281));  // planes of half a line
    EXPECT_FALSE(converter.Configure(V4L2_PIX_FMT_YUYV, 0, 480));
    EXPECT_FALSE(converter.Configure(V4L2_PIX_FMT_YUYV, 641, 480));        // half a macropixel
    EXPECT_FALSE(converter.Configure(V4L2_PIX_FMT_YUYV, 640, 480, 1000));  // line shorter than the row
    EXPECT_FALSE(converter.Configure(V4L2_PIX_FMT_YUV420, 640, 481));
    EXPECT_FALSE(converter.IsConfigured());
    uint8_t byte = 0;
    EXPECT_FALSE(converter.Convert(&byte, 1, &byte));

    EXPECT_TRUE(CFrameConverter::CanConvert(V4L2_PIX_FMT_MJPEG));
    EXPECT_TRUE(CFrameConverter::CanConvert(V4L2_PIX_FMT_YUYV));
    EXPECT_TRUE(CFrameConverter::CanConvert(V4L2_PIX_FMT_GREY));
    EXPECT_TRUE(CFrameConverter::CanConvert(V4L2_PIX_FMT_Y16));
    EXPECT_FALSE(CFrameConverter::CanConvert(V4L2_PIX_FMT_VYUY));  // libswscale reads neither
    EXPECT_FALSE(CFrameConverter::CanConvert(V4L2_PIX_FMT_NV16));
    for (uint32_t format : CFrameConverter::ConvertibleFormats())
        EXPECT_TRUE(CFrameConverter::CanConvert(format));
}

TEST(FrameConverterTest, MjpgDecodesUprightAndBottomUp) {
    const std::vector<uint8_t> jpeg = EncodeRedOverBlue(kWidth, kHeight);
    CFrameConverter converter;
    ASSERT_TRUE(converter.Configure(V4L2_PIX_FMT_MJPEG, kWidth, kHeight));
    std::vector<uint8_t> output(converter.OutputSize());
    ASSERT_TRUE(converter.Convert(jpeg.data(), jpeg.size(), output.data()));
    ExpectRedOverBlue(output.data(), 12);

    // Cameras pad the payload with zeros after the end-of-image marker.
    std::vector<uint8_t> padded = jpeg;
    padded.resize(jpeg.size() + 100, 0);
    EXPECT_TRUE(converter.Convert(padded.data(), padded.size(), output.data()));

    // The same converter takes the next stream.
    const std::vector<uint8_t> large = EncodeRedOverBlue(64, 48);
    ASSERT_TRUE(converter.Configure(V4L2_PIX_FMT_MJPEG, 64, 48));
    output.assign(converter.OutputSize(), 0);
    EXPECT_TRUE(converter.Convert(large.data(), large.size(), output.data()));
}

TEST(FrameConverterTest, DamagedMjpgFramesAreRefused) {
    const std::vector<uint8_t> jpeg = EncodeRedOverBlue(64, 48);
    CFrameConverter converter;
    ASSERT_TRUE(converter.Configure(V4L2_PIX_FMT_MJPEG, 64, 48));
    std::vector<uint8_t> output(converter.OutputSize());

    // Cut short at every length, from the bare start marker to one byte before the end.
    for (size_t length = 0; length < jpeg.size(); length += (length < 700 ? 1 : 37)) {
        std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(length));
        EXPECT_FALSE(converter.Convert(cut.data(), cut.size(), output.data())) << "length " << length;
    }

    // Noise, with and without a start-of-image marker in front.
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> noise(1 + random() % 4000);
        for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
        if (round % 2 == 0 && noise.size() >= 2) noise[0] = 0xFF, noise[1] = 0xD8;
        converter.Convert(noise.data(), noise.size(), output.data());
    }

    // Headers intact, scan data scribbled over: whatever the decoder makes of it must not crash.
    for (int round = 0; round < 50; ++round) {
        std::vector<uint8_t> scribbled = jpeg;
        for (size_t i = scribbled.size() / 2; i < scribbled.size() - 2; i += 1 + random() % 16) {
            scribbled[i] = static_cast<uint8_t>(random());
        }
        converter.Convert(scribbled.data(), scribbled.size(), output.data());
    }

    // A sound frame right after each kind of damage converts.
    const std::vector<uint8_t> garbage = {0xFF, 0xD8, 0x24, 0x24, 0x24, 0x24, 0x24, 0x24};
    for (size_t cut : {size_t{0}, jpeg.size() / 3, jpeg.size() - 10}) {
        std::vector<uint8_t> damaged =
            cut == 0 ? garbage : std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + cut);
        EXPECT_FALSE(converter.Convert(damaged.data(), damaged.size(), output.data()));
        EXPECT_TRUE(converter.Convert(jpeg.data(), jpeg.size(), output.data())) << "after a cut at " << cut;
    }
}

TEST(FrameConverterTest, MjpgWithOnlyAWarningIsKept) {
    // Stray bytes before the end-of-image marker: the decoder warns and still gives the whole picture.
    const std::vector<uint8_t> jpeg = EncodeRedOverBlue(kWidth, kHeight);
    std::vector<uint8_t> warned(jpeg.begin(), jpeg.end() - 2);
    for (uint8_t stray : {0x12, 0x34, 0x56}) warned.push_back(stray);
    warned.push_back(0xFF);
    warned.push_back(0xD9);

    std::vector<uint8_t> output(kWidth * kHeight * 3);
    tjhandle bare = tjInitDecompress();
    const int bareResult = tjDecompress2(bare, warned.data(), warned.size(), output.data(), kWidth, 0,
                                         kHeight, TJPF_BGR, TJFLAG_BOTTOMUP);
    const int bareCode = tjGetErrorCode(bare);
    tjDestroy(bare);
    ASSERT_EQ(bareResult, -1);
    ASSERT_EQ(bareCode, TJERR_WARNING);

    CFrameConverter converter;
    ASSERT_TRUE(converter.Configure(V4L2_PIX_FMT_MJPEG, kWidth, kHeight));
    output.assign(output.size(), 0);
    EXPECT_TRUE(converter.Convert(warned.data(), warned.size(), output.data()));
    ExpectRedOverBlue(output.data(), 12);
}

TEST(FrameConverterTest, PaddedLinesAreReadOnlyAsFarAsTheFrameGoes) {
    // The last line of a frame without its padding: bytesperline x height would be 7,450 bytes.
    const std::vector<uint8_t> sample = Sample("uyvy_66x50_149_byte_lines_one_padding_short.yuv");
    ASSERT_EQ(sample.size(), 7433u);
    CFrameConverter converter;
    ASSERT_TRUE(converter.Configure(V4L2_PIX_FMT_UYVY, 66, 50, 149));
    std::vector<uint8_t> output(converter.OutputSize());
    // An exact heap copy for the address sanitizer, an exact copy before a guard page for any build.
    const std::vector<uint8_t> exact(sample);
    ASSERT_TRUE(converter.Convert(exact.data(), exact.size(), output.data()));
    ExpectRedOverBlue(output.data(), 3, 66, 50);
    GuardedArea guarded(sample.size());
    std::memcpy(guarded.data, sample.data(), sample.size());
    output.assign(output.size(), 0);
    ASSERT_TRUE(converter.Convert(guarded.data, sample.size(), output.data()));
    ExpectRedOverBlue(output.data(), 3, 66, 50);

    // The same for every packed format and padding, at widths the scaler's loops do not divide.
    for (uint32_t format : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_UYVY, V4L2_PIX_FMT_BGR24, V4L2_PIX_FMT_RGB24}) {
        for (int width : {2, 18, 66, 424}) {
            const size_t tight = static_cast<size_t>(width) *
                                 (format == V4L2_PIX_FMT_BGR24 || format == V4L2_PIX_FMT_RGB24 ? 3 : 2);
            for (size_t padding : {size_t{1}, size_t{17}, size_t{64}, size_t{200}}) {
                SCOPED_TRACE(testing::Message() << "format " << std::hex << format << std::dec << " width "
                                                << width << " padding " << padding);
                constexpr int kRows = 10;
                const size_t line = tight + padding;
                std::vector<uint8_t> frame = RedOverBlue(format, width, kRows, line);
                if (format == V4L2_PIX_FMT_BGR24 || format == V4L2_PIX_FMT_RGB24) {
                    // Built tightly packed: spread the rows out to the line length.
                    std::vector<uint8_t> spread(line * kRows, 0xEE);
                    for (int row = 0; row < kRows; ++row)
                        std::memcpy(&spread[row * line], &frame[row * tight], tight);
                    frame.swap(spread);
                }
                frame.resize(frame.size() - padding);
                ASSERT_TRUE(converter.Configure(format, width, kRows, static_cast<uint32_t>(line)));
                GuardedArea input(frame.size());
                std::memcpy(input.data, frame.data(), frame.size());
                output.assign(converter.OutputSize(), 0);
                ASSERT_TRUE(converter.Convert(input.data, frame.size(), output.data()));
                ExpectRedOverBlue(output.data(), 3, width, kRows);
                EXPECT_FALSE(converter.Convert(input.data, frame.size() - 1, output.data()));
            }
        }
    }
}

TEST(FrameConverterTest, MjpgCutShortIsDroppedEvenWhenItEndsInAnEndMarker) {
    const std::vector<uint8_t> endsInMarker = Sample("cut_mjpeg_frame_ending_in_ffd9.jpg");
    const std::vector<uint8_t> noMarker = Sample("cut_mjpeg_frame_without_end_marker.jpg");
    ASSERT_GE(endsInMarker.size(), 2u);
    ASSERT_EQ(endsInMarker[endsInMarker.size() - 2], 0xFF);
    ASSERT_EQ(endsInMarker.back(), 0xD9);

    // The decoder alone takes it with no more than a warning, the lower third of the picture grey.
    std::vector<uint8_t> output(160 * 120 * 3);
    tjhandle bare = tjInitDecompress();
    const int bareResult = tjDecompress2(bare, endsInMarker.data(), endsInMarker.size(), output.data(), 160,
                                         0, 120, TJPF_BGR, 0);
    const int bareCode = tjGetErrorCode(bare);
    tjDestroy(bare);
    ASSERT_EQ(bareResult, -1);
    ASSERT_EQ(bareCode, TJERR_WARNING);

    CFrameConverter converter;
    ASSERT_TRUE(converter.Configure(V4L2_PIX_FMT_MJPEG, 160, 120));
    GuardedArea input(endsInMarker.size());
    std::memcpy(input.data, endsInMarker.data(), endsInMarker.size());
    EXPECT_FALSE(converter.Convert(input.data, endsInMarker.size(), output.data()));
    EXPECT_FALSE(converter.Convert(noMarker.data(), noMarker.size(), output.data()));
}

TEST(FrameConverterTest, MjpgIsTakenAsTheDecoderTakesIt) {
    CFrameConverter converter;
    std::vector<uint8_t> output;

    // Bytes that are no JPEG after the end marker, ending in zeros.
    const std::vector<uint8_t> junk = Sample("mjpeg_frame_with_trailing_junk.jpg");
    ASSERT_TRUE(converter.Configure(V4L2_PIX_FMT_MJPEG, 160, 120));
    output.assign(converter.OutputSize(), 0);
    GuardedArea input(junk.size());
    std::memcpy(input.data, junk.data(), junk.size());
    EXPECT_TRUE(converter.Convert(input.data, junk.size(), output.data()));

    // Of another size than the stream (100 x 72): scaled to the stream's size.
    const std::vector<uint8_t> other = Sample("mjpeg_frame_of_another_size.jpg");
    output.assign(converter.OutputSize(), 0);
    EXPECT_TRUE(converter.Convert(other.data(), other.size(), output.data()));
    ExpectRedOverBlue(output.data(), 12, 160, 120, 4);
}

TEST(FrameConverterTest, MjpgOfAnotherSizeIsScaledToTheStream) {
    constexpr int kStreamWidth = 64;
    constexpr int kStreamHeight = 48;
    CFrameConverter converter;
    ASSERT_TRUE(converter.Configure(V4L2_PIX_FMT_MJPEG, kStreamWidth, kStreamHeight));
    GuardedArea output(converter.OutputSize());
    const std::vector<uint8_t> sound = EncodeRedOverBlue(kStreamWidth, kStreamHeight);
    // Smaller, larger by one of the decoder's own scales, larger by none of them, of another shape,
    // and far larger; each in turn, and the stream's own size between them.
    for (const auto& [width, height] :
         std::vector<std::pair<int, int>>{{32, 16}, {128, 96}, {200, 100}, {48, 64}, {1280, 960}, {32, 16}}) {
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        const std::vector<uint8_t> jpeg = EncodeRedOverBlue(width, height);
        GuardedArea input(jpeg.size());
        std::memcpy(input.data, jpeg.data(), jpeg.size());
        std::memset(output.data, 0, converter.OutputSize());
        ASSERT_TRUE(converter.Convert(input.data, jpeg.size(), output.data));
        ExpectRedOverBlue(output.data, 16, kStreamWidth, kStreamHeight, 4);
        ASSERT_TRUE(converter.Convert(sound.data(), sound.size(), output.data));
        ExpectRedOverBlue(output.data, 12, kStreamWidth, kStreamHeight);
    }
    // Cut short, it is dropped like any cut frame.
    const std::vector<uint8_t> larger = EncodeRedOverBlue(128, 96);
    EXPECT_FALSE(converter.Convert(larger.data(), larger.size() / 2, output.data));
}

// Luma-only samples in bands from the top: 0, a quarter, a half and all of the format's range.
std::vector<uint8_t> GreyBands(uint32_t format, int width, int height) {
    const bool wide = format != V4L2_PIX_FMT_GREY;
    const int bits = format == V4L2_PIX_FMT_Y10 ? 10 : format == V4L2_PIX_FMT_Y12 ? 12 : wide ? 16 : 8;
    const uint32_t full = (1u << bits) - 1;
    std::vector<uint8_t> frame;
    for (int y = 0; y < height; ++y) {
        const int band = y * 4 / height;
        const uint32_t value = band == 3 ? full : (full + 1) / 4 * band;
        for (int x = 0; x < width; ++x) {
            if (!wide) {
                frame.push_back(static_cast<uint8_t>(value));
                continue;
            }
            const std::vector<uint8_t> bytes = format == V4L2_PIX_FMT_Y16_BE
                                                   ? Be16(static_cast<uint16_t>(value))
                                                   : Le16(static_cast<uint16_t>(value));
            frame.insert(frame.end(), bytes.begin(), bytes.end());
        }
    }
    return frame;
}

void ExpectGreyBands(const uint8_t* bgr, int width, int height) {
    const int want[] = {0, 64, 128, 255};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb got = At(bgr, width, height, x, y);
            const int level = want[y * 4 / height];
            ASSERT_LE(std::abs(got.r - level), 2) << "x " << x << " y " << y << " got " << got.r;
            ASSERT_EQ(got.g, got.r) << "x " << x << " y " << y;
            ASSERT_EQ(got.b, got.r) << "x " << x << " y " << y;
        }
    }
}

TEST(FrameConverterTest, GreyCamerasAreShownOverTheWholeRangeOfTheirSamples) {
    // Y16 is little-endian, Y16_BE big-endian: a quarter (0x4000) read the wrong way round is black.
    for (uint32_t format :
         {V4L2_PIX_FMT_GREY, V4L2_PIX_FMT_Y10, V4L2_PIX_FMT_Y12, V4L2_PIX_FMT_Y16, V4L2_PIX_FMT_Y16_BE}) {
        for (int width : {kWidth, 18, 1001}) {
            SCOPED_TRACE(testing::Message()
                         << "format " << std::hex << format << std::dec << " width " << width);
            const std::vector<uint8_t> frame = GreyBands(format, width, kHeight);
            GuardedArea input(frame.size());
            std::memcpy(input.data, frame.data(), frame.size());
            CFrameConverter converter;
            ASSERT_TRUE(converter.Configure(format, width, kHeight));
            GuardedArea output(converter.OutputSize());
            ASSERT_TRUE(converter.Convert(input.data, frame.size(), output.data));
            ExpectGreyBands(output.data, width, kHeight);
            EXPECT_FALSE(converter.Convert(input.data, frame.size() - 1, output.data));
        }
    }
}

TEST(FrameConverterTest, OtherYuvRgbAndBayerLayoutsGiveBottomUpBgr) {
    std::vector<uint32_t> formats = {V4L2_PIX_FMT_NV21,    V4L2_PIX_FMT_YVYU,    V4L2_PIX_FMT_YUV422P,
                                     V4L2_PIX_FMT_NV24,    V4L2_PIX_FMT_NV42,    V4L2_PIX_FMT_SBGGR8,
                                     V4L2_PIX_FMT_SGBRG8,  V4L2_PIX_FMT_SGRBG8,  V4L2_PIX_FMT_SRGGB8,
                                     V4L2_PIX_FMT_SBGGR16, V4L2_PIX_FMT_SGBRG16, V4L2_PIX_FMT_SGRBG16,
                                     V4L2_PIX_FMT_SRGGB16};
    for (const RgbLayout& layout : RgbLayouts()) formats.push_back(layout.format);
    for (uint32_t format : formats) {
        ASSERT_TRUE(CFrameConverter::CanConvert(format));
        // At the widths the scaler's vector loops do not divide evenly too, ending at a guard page.
        for (int width : {kWidth, 18, 1002}) {
            SCOPED_TRACE(testing::Message()
                         << "format " << std::hex << format << std::dec << " width " << width);
            const std::vector<uint8_t> frame = RedOverBlue(format, width, kHeight);
            GuardedArea input(frame.size());
            std::memcpy(input.data, frame.data(), frame.size());
            CFrameConverter converter;
            ASSERT_TRUE(converter.Configure(format, width, kHeight));
            GuardedArea output(converter.OutputSize());
            ASSERT_TRUE(converter.Convert(input.data, frame.size(), output.data));
            // libswscale widens 4-bit samples by a shift: full red is 240.
            const bool fourBits = format == V4L2_PIX_FMT_RGB444 || format == V4L2_PIX_FMT_XRGB444 ||
                                  format == V4L2_PIX_FMT_ARGB444 || format == V4L2_PIX_FMT_XBGR444 ||
                                  format == V4L2_PIX_FMT_ABGR444;
            ExpectRedOverBlue(output.data, fourBits ? 16 : 3, width, kHeight);
            EXPECT_FALSE(converter.Convert(input.data, frame.size() - 1, output.data));
        }
    }
}

// --- frames only shown -------------------------------------------------------------------------

TEST(FrameConverterTest, AViewIsCoveredByTheSmallestSizeTheFormatCanGive) {
    struct Case {
        uint32_t format;
        int viewWidth, viewHeight;
        int wantWidth, wantHeight;  // 0: no smaller size
    };
    const Case cases[] = {
        // MJPG: the decoder's halves, quarters and eighths, never below the view.
        {V4L2_PIX_FMT_MJPEG, 480, 270, 480, 270},
        {V4L2_PIX_FMT_MJPEG, 481, 270, 960, 540},
        {V4L2_PIX_FMT_MJPEG, 480, 271, 960, 540},
        {V4L2_PIX_FMT_MJPEG, 100, 40, 240, 135},
        {V4L2_PIX_FMT_MJPEG, 961, 300, 0, 0},
        {V4L2_PIX_FMT_MJPEG, 3840, 2160, 0, 0},
        // The swscale formats: the frame's shape, just covering the view.
        {V4L2_PIX_FMT_YUYV, 480, 200, 480, 270},
        {V4L2_PIX_FMT_NV12, 300, 270, 480, 270},
        {V4L2_PIX_FMT_YUYV, 1800, 1000, 0, 0},  // hardly smaller: not worth it
        // Copied as they come, or a Bayer pattern: always whole.
        {V4L2_PIX_FMT_BGR24, 480, 270, 0, 0},
        {V4L2_PIX_FMT_SGRBG8, 480, 270, 0, 0},
        // No view.
        {V4L2_PIX_FMT_MJPEG, 0, 270, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.format << std::dec << " view " << c.viewWidth << "x"
                                        << c.viewHeight);
        CFrameConverter converter;
        ASSERT_TRUE(converter.Configure(c.format, 1920, 1080));
        int w = -1, h = -1;
        EXPECT_EQ(converter.ViewSize(c.viewWidth, c.viewHeight, w, h), c.wantWidth != 0);
        if (c.wantWidth == 0) continue;
        EXPECT_EQ(w, c.wantWidth);
        EXPECT_EQ(h, c.wantHeight);
    }
}

TEST(FrameConverterTest, FramesForAViewShowThePictureAndAreCheckedLikeWholeOnes) {
    constexpr int kW = 320;
    constexpr int kH = 240;
    for (uint32_t format : {V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_UYVY, V4L2_PIX_FMT_NV12,
                            V4L2_PIX_FMT_YUV420}) {
        for (uint32_t bytesPerLine : {0u, 1000u}) {
            if (bytesPerLine != 0 && format != V4L2_PIX_FMT_YUYV) continue;
            SCOPED_TRACE(testing::Message() << std::hex << format << std::dec << " line " << bytesPerLine);
            const std::vector<uint8_t> frame = RedOverBlue(format, kW, kH, bytesPerLine);
            CFrameConverter converter;
            ASSERT_TRUE(converter.Configure(format, kW, kH, bytesPerLine));
            // A frame that ends where its buffer ends is never read past.
            GuardedArea input(frame.size());
            std::memcpy(input.data, frame.data(), frame.size());
            std::vector<uint8_t> view;
            int w = 0, h = 0;
            for (const int viewWidth : {80, 100, 37}) {
                ASSERT_TRUE(converter.ConvertForView(input.data, frame.size(), viewWidth, viewWidth * 3 / 4, view, w, h));
                ASSERT_GE(w, viewWidth);
                ASSERT_EQ(view.size(), static_cast<size_t>(w) * h * 3);
                ExpectRedOverBlue(view.data(), format == V4L2_PIX_FMT_MJPEG ? 16 : 6, w, h, 2);
            }
            // The whole frame still converts between frames for a view.
            std::vector<uint8_t> whole(converter.OutputSize());
            ASSERT_TRUE(converter.Convert(input.data, frame.size(), whole.data()));
            ExpectRedOverBlue(whole.data(), format == V4L2_PIX_FMT_MJPEG ? 12 : 3, kW, kH);
            // The quicker way for a movie's frames shows the same picture.
            ASSERT_TRUE(converter.Convert(input.data, frame.size(), whole.data(), true));
            ExpectRedOverBlue(whole.data(), format == V4L2_PIX_FMT_MJPEG ? 16 : 3, kW, kH);
            // Short frames are refused, as whole ones are (the last line needs no padding).
            const size_t lastPadding = bytesPerLine == 0 ? 0 : bytesPerLine - kW * 2;
            EXPECT_FALSE(converter.ConvertForView(
                input.data, format == V4L2_PIX_FMT_MJPEG ? 100 : frame.size() - lastPadding - 1, 80, 60, view, w, h));
        }
    }
    // A cut MJPG frame that ends in an end marker is refused at a view's scale too.
    const std::vector<uint8_t> cut = Sample("cut_mjpeg_frame_ending_in_ffd9.jpg");
    CFrameConverter converter;
    ASSERT_TRUE(converter.Configure(V4L2_PIX_FMT_MJPEG, 160, 120));
    std::vector<uint8_t> view;
    int w = 0, h = 0;
    EXPECT_FALSE(converter.ConvertForView(cut.data(), cut.size(), 40, 30, view, w, h));
    std::vector<uint8_t> whole(converter.OutputSize());
    EXPECT_FALSE(converter.Convert(cut.data(), cut.size(), whole.data(), true));
    // One of another size than the stream's comes out at the view's size all the same.
    const std::vector<uint8_t> other = Sample("mjpeg_frame_of_another_size.jpg");
    ASSERT_TRUE(converter.ConvertForView(other.data(), other.size(), 40, 30, view, w, h));
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 30);
    ExpectRedOverBlue(view.data(), 16, 40, 30, 2);
}

}  // namespace
}  // namespace orvane
