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
void ExpectRedOverBlue(const uint8_t* bgr, int tolerance, int width = kWidth, int height = kHeight) {
    for (int y = 0; y < height; ++y) {
        if (y == height / 2 - 1 || y == height / 2) continue;
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

// A camera frame of the format whose top half is red and bottom half blue; lines of `line` bytes
// (0 = tightly packed) for the single-plane formats.
std::vector<uint8_t> RedOverBlue(uint32_t format, int width = kWidth, int height = kHeight, size_t line = 0) {
    if (format == V4L2_PIX_FMT_MJPEG) return EncodeRedOverBlue(width, height);
    auto top = [&](int y) { return y < height / 2; };
    const size_t w = static_cast<size_t>(width);
    switch (format) {
        case V4L2_PIX_FMT_YUYV:
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
        default: {  // 4:2:0, planar or with interleaved chroma
            const size_t luma = w * height;
            std::vector<uint8_t> frame(luma * 3 / 2);
            for (int y = 0; y < height; ++y) std::memset(&frame[y * w], top(y) ? kRedY : kBlueY, w);
            for (int y = 0; y < height / 2; ++y) {
                const uint8_t U = top(y * 2) ? kRedU : kBlueU, V = top(y * 2) ? kRedV : kBlueV;
                for (size_t x = 0; x < w / 2; ++x) {
                    if (format == V4L2_PIX_FMT_NV12) {
                        frame[luma + y * w + x * 2] = U;
                        frame[luma + y * w + x * 2 + 1] = V;
                    } else {
                        const bool yv12 = format == V4L2_PIX_FMT_YVU420;
                        frame[luma + (yv12 ? luma / 4 : 0) + y * w / 2 + x] = U;
                        frame[luma + (yv12 ? 0 : luma / 4) + y * w / 2 + x] = V;
                    }
                }
            }
            return frame;
        }
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
    EXPECT_FALSE(converter.Configure(V4L2_PIX_FMT_GREY, 640, 480));
    EXPECT_FALSE(converter.Configure(V4L2_PIX_FMT_H264, 640, 480));
    EXPECT_FALSE(converter.Configure(V4L2_PIX_FMT_YUYV, 0, 480));
    EXPECT_FALSE(converter.Configure(V4L2_PIX_FMT_YUYV, 641, 480));        // half a macropixel
    EXPECT_FALSE(converter.Configure(V4L2_PIX_FMT_YUYV, 640, 480, 1000));  // line shorter than the row
    EXPECT_FALSE(converter.Configure(V4L2_PIX_FMT_YUV420, 640, 481));
    EXPECT_FALSE(converter.IsConfigured());
    uint8_t byte = 0;
    EXPECT_FALSE(converter.Convert(&byte, 1, &byte));

    EXPECT_TRUE(CFrameConverter::CanConvert(V4L2_PIX_FMT_MJPEG));
    EXPECT_TRUE(CFrameConverter::CanConvert(V4L2_PIX_FMT_YUYV));
    EXPECT_FALSE(CFrameConverter::CanConvert(V4L2_PIX_FMT_GREY));
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

    // Of another size than the stream: it would not fit the output.
    const std::vector<uint8_t> other = EncodeRedOverBlue(kWidth, kHeight);
    EXPECT_FALSE(converter.Convert(other.data(), other.size(), output.data()));

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
            const size_t tight = static_cast<size_t>(width) * (format == V4L2_PIX_FMT_BGR24 ||
                                                               format == V4L2_PIX_FMT_RGB24 ? 3 : 2);
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

    // Of another size than the stream: it would not fit the output.
    const std::vector<uint8_t> other = Sample("mjpeg_frame_of_another_size.jpg");
    EXPECT_FALSE(converter.Convert(other.data(), other.size(), output.data()));
}

}  // namespace
}  // namespace orvane
