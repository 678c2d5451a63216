#include "imaging/photo_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <turbojpeg.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "localization/localizable_string.h"
#include "support/sandbox.h"

namespace orvane {
namespace {

using test::AlertRecorder;
using test::Sandbox;

struct Bgr {
    int b, g, r;
};

// A bottom-up BGR24 frame whose picture (as seen on screen) is reddish in its top half and bluish in
// its bottom half, with a dark left half and a bright right half in green.
std::vector<uint8_t> QuadrantFrame(int w, int h) {
    std::vector<uint8_t> bits(3 * size_t(w) * h);
    for (int y = 0; y < h; ++y) {  // y from the top of the picture
        uint8_t* row = &bits[3 * size_t(h - 1 - y) * w];
        for (int x = 0; x < w; ++x) {
            const bool top = y < h / 2;
            const bool left = x < w / 2;
            row[3 * x + 0] = top ? 40 : 220;
            row[3 * x + 1] = left ? 30 : 200;
            row[3 * x + 2] = top ? 220 : 40;
        }
    }
    return bits;
}

Bgr QuadrantColour(bool top, bool left) { return {top ? 40 : 220, left ? 30 : 200, top ? 220 : 40}; }

struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // top-down BGR

    Bgr At(int x, int y) const {
        const uint8_t* p = &pixels[3 * (size_t(y) * width + x)];
        return {p[0], p[1], p[2]};
    }
};

Decoded Decode(const std::string& jpeg) {
    Decoded out;
    std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), tjDestroy);
    int subsampling = 0, colourspace = 0;
    const auto* data = reinterpret_cast<const unsigned char*>(jpeg.data());
    if (tjDecompressHeader3(decoder.get(), data, jpeg.size(), &out.width, &out.height, &subsampling,
                            &colourspace) != 0) {
        ADD_FAILURE() << "not a JPEG: " << tjGetErrorStr2(decoder.get());
        return {};
    }
    out.pixels.resize(3 * size_t(out.width) * out.height);
    EXPECT_EQ(tjDecompress2(decoder.get(), data, jpeg.size(), out.pixels.data(), out.width, 0, out.height,
                            TJPF_BGR, 0),
              0);
    return out;
}

void ExpectColour(const Decoded& image, int x, int y, Bgr expected, int tolerance) {
    const Bgr got = image.At(x, y);
    EXPECT_NEAR(got.b, expected.b, tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(got.g, expected.g, tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(got.r, expected.r, tolerance) << "at " << x << "," << y;
}

// The middle of each quadrant shows the colour that quadrant had in the frame.
void ExpectUprightQuadrants(const Decoded& image) {
    const int w = image.width, h = image.height;
    ExpectColour(image, w / 4, h / 4, QuadrantColour(true, true), 3);
    ExpectColour(image, 3 * w / 4, h / 4, QuadrantColour(true, false), 3);
    ExpectColour(image, w / 4, 3 * h / 4, QuadrantColour(false, true), 3);
    ExpectColour(image, 3 * w / 4, 3 * h / 4, QuadrantColour(false, false), 3);
}

// The quantisation tables and the sampling factors of every component, read from the JPEG markers.
struct JpegTables {
    std::vector<std::vector<int>> quantisation;
    std::vector<int> samplingFactors;
};

JpegTables ReadTables(const std::string& jpeg) {
    JpegTables tables;
    const auto* d = reinterpret_cast<const unsigned char*>(jpeg.data());
    size_t pos = 2;
    while (pos + 4 <= jpeg.size() && d[pos] == 0xFF) {
        const int marker = d[pos + 1];
        const size_t length = size_t(d[pos + 2]) << 8 | d[pos + 3];
        const size_t end = pos + 2 + length;
        if (marker == 0xDA || end > jpeg.size()) break;
        if (marker == 0xDB) {
            for (size_t p = pos + 4; p < end;) {
                const bool wide = (d[p] >> 4) != 0;
                std::vector<int> table;
                for (int i = 0; i < 64; ++i)
                    table.push_back(wide ? (d[p + 1 + 2 * i] << 8 | d[p + 2 + 2 * i]) : d[p + 1 + i]);
                tables.quantisation.push_back(table);
                p += 1 + (wide ? 128 : 64);
            }
        } else if (marker >= 0xC0 && marker <= 0xC2) {
            const int components = d[pos + 9];
            for (int i = 0; i < components; ++i) tables.samplingFactors.push_back(d[pos + 11 + 3 * i]);
        }
        pos = end;
    }
    return tables;
}

// A settings record and a string table of their own, with a strings file that words the failure
// message differently from the built-in text.
class PhotoWriterTest : public ::testing::Test {
protected:
    PhotoWriterTest()
        : hive(sandbox / "settings.conf", CRegistryHive::DefaultFactoryFile()),
          settings(&hive),
          strings(&settings, sandbox.Path() + "/") {
        for (const char* language : {"English", "zh-Hans"}) {
            const std::string folder = sandbox / ("Resource/" + std::string(language) + ".lproj");
            test::MakeFolders(folder);
            test::WriteFile(folder + "/Localizable.strings",
                            "\"ui_alert_savefile\" = \"Could not save %@ here: \";\n"
                            "\"ui_other\" = \"x\";\n");
        }
        photos = sandbox / "photos";
        test::MakeFolders(photos);
    }

    void SetCaptureResolution(int w, int h) { settings.SetCaptureResolution({w, h, 0, false}); }

    bool Save(const std::string& path, const std::vector<uint8_t>& frame, int w, int h) {
        return SaveFrame(path, frame.data(), int32_t(frame.size()), w, h, &settings, &strings);
    }

    Sandbox sandbox;
    CRegistryHive hive;
    CSettingParamManage settings;
    CLocalizableString strings;
    std::string photos;
};

TEST_F(PhotoWriterTest, FrameOfCaptureSizeIsWrittenUprightAtQuality100) {
    SetCaptureResolution(640, 480);
    const std::string path = photos + "/S20240131_0001.jpg";
    AlertRecorder alerts;
    ASSERT_TRUE(Save(path, QuadrantFrame(640, 480), 640, 480));
    EXPECT_TRUE(alerts.Alerts().empty());

    const std::string jpeg = test::ReadFile(path);
    const Decoded image = Decode(jpeg);
    ASSERT_EQ(image.width, 640);
    ASSERT_EQ(image.height, 480);
    ExpectUprightQuadrants(image);

    const JpegTables tables = ReadTables(jpeg);
    ASSERT_FALSE(tables.quantisation.empty());
    for (const auto& table : tables.quantisation) EXPECT_EQ(table, std::vector<int>(64, 1));
    EXPECT_EQ(tables.samplingFactors, (std::vector<int>{0x11, 0x11, 0x11}));  // full colour resolution
    // Nothing but the photo is left in the folder.
    EXPECT_EQ(test::ListFolder(photos), std::vector<std::string>{"S20240131_0001.jpg"});
}

TEST_F(PhotoWriterTest, FrameIsScaledToTheStoredCaptureResolution) {
    AlertRecorder alerts;
    // The interpolated resolution: twice the size the camera delivers.
    SetCaptureResolution(2560, 2048);
    ASSERT_TRUE(Save(photos + "/big.jpg", QuadrantFrame(1280, 1024), 1280, 1024));
    Decoded image = Decode(test::ReadFile(photos + "/big.jpg"));
    ASSERT_EQ(image.width, 2560);
    ASSERT_EQ(image.height, 2048);
    ExpectUprightQuadrants(image);

    // Another aspect ratio stretches the picture: the quadrant borders stay at the middle.
    SetCaptureResolution(800, 300);
    ASSERT_TRUE(Save(photos + "/wide.jpg", QuadrantFrame(640, 480), 640, 480));
    image = Decode(test::ReadFile(photos + "/wide.jpg"));
    ASSERT_EQ(image.width, 800);
    ASSERT_EQ(image.height, 300);
    ExpectUprightQuadrants(image);
    ExpectColour(image, 396, 146, QuadrantColour(true, true), 12);
    ExpectColour(image, 404, 154, QuadrantColour(false, false), 12);
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(PhotoWriterTest, ResizingIsBicubicAndKeepsEveryColourColumn) {
    // Columns of alternating colour, stretched only vertically: every column must keep its colour.
    const int w = 64, h = 32;
    std::vector<uint8_t> bits(3 * w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &bits[3 * (y * w + x)];
            p[0] = x % 2 ? 230 : 20;
            p[1] = 60;
            p[2] = x % 2 ? 20 : 230;
        }
    FrameBuffer tall = ResizeBitmap(VideoFrame{bits.data(), int32_t(bits.size()), w, h}, w, 2 * h);
    ASSERT_FALSE(tall.Empty());
    ASSERT_EQ(tall.Width(), w);
    ASSERT_EQ(tall.Height(), 2 * h);
    int worst = 0;
    for (int y = 0; y < 2 * h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(tall.Bits()[3 * (y * w + x) + c] - bits[3 * x + c]));
    EXPECT_LE(worst, 3);

    // A step enlarged with bicubic weights overshoots on both sides of the edge; bilinear would not.
    std::vector<uint8_t> step(3 * 16 * 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 16; ++x) std::memset(&step[3 * (y * 16 + x)], x < 8 ? 64 : 192, 3);
    FrameBuffer wide = ResizeBitmap(VideoFrame{step.data(), int32_t(step.size()), 16, 4}, 64, 4);
    ASSERT_FALSE(wide.Empty());
    int low = 255, high = 0;
    for (int x = 0; x < 64; ++x) {
        low = std::min<int>(low, wide.Bits()[3 * x]);
        high = std::max<int>(high, wide.Bits()[3 * x]);
    }
    EXPECT_LT(low, 62);
    EXPECT_GT(high, 194);
}

TEST_F(PhotoWriterTest, FailedWriteShowsOneMessageAndLeavesNoFile) {
    SetCaptureResolution(64, 48);
    const std::vector<uint8_t> frame = QuadrantFrame(64, 48);
    AlertRecorder alerts;

    const std::string missing = photos + "/no such folder/S20240131_0001.jpg";
    EXPECT_FALSE(Save(missing, frame, 64, 48));
    EXPECT_EQ(alerts.Alerts(),
              std::vector<std::string>{"Could not save " + missing + " here: " + SystemErrorText(ENOENT)});
    EXPECT_FALSE(test::Exists(missing));

    alerts.Clear();
    ASSERT_TRUE(test::WriteFile(photos + "/plain", "not a folder"));
    const std::string underFile = photos + "/plain/S20240131_0001.jpg";
    EXPECT_FALSE(Save(underFile, frame, 64, 48));
    EXPECT_EQ(alerts.Alerts(),
              std::vector<std::string>{"Could not save " + underFile + " here: " + SystemErrorText(ENOTDIR)});
    EXPECT_EQ(test::ListFolder(photos), std::vector<std::string>{"plain"});
}

TEST_F(PhotoWriterTest, MessageFallsBackToTheBuiltInText) {
    for (const char* language : {"English", "zh-Hans"}) {
        test::WriteFile(sandbox / ("Resource/" + std::string(language) + ".lproj/Localizable.strings"),
                        "\"ui_other\" = \"x\";\n");
    }
    strings.Reload();
    SetCaptureResolution(64, 48);
    AlertRecorder alerts;
    const std::string missing = photos + "/gone/a.jpg";
    EXPECT_FALSE(Save(missing, QuadrantFrame(64, 48), 64, 48));
    EXPECT_EQ(alerts.Alerts(),
              std::vector<std::string>{"Save file " + missing + " failure" + SystemErrorText(ENOENT)});
}

TEST_F(PhotoWriterTest, WriteCutShortKeepsThePreviousFileAndNoPartialOne) {
    SetCaptureResolution(640, 480);
    std::vector<uint8_t> noise(3 * 640 * 480);
    uint32_t seed = 7;
    for (uint8_t& b : noise) b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    const std::string path = photos + "/S20240131_0001.jpg";
    ASSERT_TRUE(test::WriteFile(path, "the earlier photo"));

    // A file size limit makes the write stop part way, as a full disk does.
    AlertRecorder alerts;
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
    rlimit oldLimit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
    rlimit small = oldLimit;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = Save(path, noise, 640, 480);
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_FALSE(saved);
    EXPECT_EQ(alerts.Alerts(),
              std::vector<std::string>{"Could not save " + path + " here: " + SystemErrorText(EFBIG)});
    EXPECT_EQ(test::ReadFile(path), "the earlier photo");
    EXPECT_EQ(test::ListFolder(photos), std::vector<std::string>{"S20240131_0001.jpg"});

    // Without the limit the same save replaces the earlier file.
    EXPECT_TRUE(Save(path, noise, 640, 480));
    EXPECT_EQ(Decode(test::ReadFile(path)).width, 640);
}

TEST_F(PhotoWriterTest, UnsetCaptureResolutionKeepsTheFrameSize) {
    SetCaptureResolution(0, 0);
    const std::string path = photos + "/unset.jpg";
    ASSERT_TRUE(Save(path, QuadrantFrame(64, 48), 64, 48));
    EXPECT_EQ(Decode(test::ReadFile(path)).width, 64);
    EXPECT_EQ(Decode(test::ReadFile(path)).height, 48);
}

TEST_F(PhotoWriterTest, UnusableInputFailsSilently) {
    AlertRecorder alerts;
    const std::vector<uint8_t> frame = QuadrantFrame(64, 48);
    const std::string path = photos + "/a.jpg";
    SetCaptureResolution(64, 48);
    EXPECT_FALSE(SaveFrame(path, nullptr, 9216, 64, 48, &settings, &strings));
    EXPECT_FALSE(SaveFrame(path, frame.data(), 0, 64, 48, &settings, &strings));
    // A sample shorter than the frame size is not read past its end.
    EXPECT_FALSE(SaveFrame(path, frame.data(), int32_t(frame.size()) - 1, 64, 48, &settings, &strings));
    SetCaptureResolution(0, 48);
    EXPECT_FALSE(Save(path, frame, 64, 48));
    SetCaptureResolution(70000, 48);
    EXPECT_FALSE(Save(path, frame, 64, 48));
    EXPECT_TRUE(alerts.Alerts().empty());
    EXPECT_TRUE(test::ListFolder(photos).empty());
}

}  // namespace
}  // namespace orvane
