#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "imaging/photo_writer.h"
#include "imaging/scale_calibration.h"
#include "support/photo_resolution.h"

namespace orvane {
namespace {

using test::ReadPhotoResolution;

constexpr double kUm = 1e-6;
const std::string kMicro = "\xC2\xB5m";

TEST(ScaleBar, RoundLengthIsTheLargestOneTwoFiveStepWithinAFifthOfTheWidth) {
    // 0.37 um per pixel at 1920 wide: a fifth is 384 px = 142 um, so the bar reads 100 um.
    const ScaleBar bar = ChooseScaleBar(0.37 * kUm, 1920, LengthUnit::Micrometre);
    EXPECT_EQ(bar.text, "100 " + kMicro);
    EXPECT_NEAR(bar.metres, 100 * kUm, 1e-15);
    EXPECT_NEAR(bar.pixels, 270.27, 0.01);

    struct Case {
        double metresPerPixel;
        int32_t width;
        LengthUnit unit;
        const char* text;
    };
    const Case cases[] = {
        {1.0 * kUm, 1000, LengthUnit::Micrometre, "200 \xC2\xB5m"},      // exactly 200: not below it
        {1.0 * kUm, 999, LengthUnit::Micrometre, "100 \xC2\xB5m"},       // 199.8
        {1.0 * kUm, 2500, LengthUnit::Micrometre, "500 \xC2\xB5m"},      // exactly 500
        {2.5e-9, 1920, LengthUnit::Nanometre, "500 nm"},                 // 960 nm
        {2.5e-9, 640, LengthUnit::Nanometre, "200 nm"},                  // 320 nm
        {0.02e-3, 1920, LengthUnit::Millimetre, "5 mm"},                 // 7.68 mm
        {0.001e-3, 640, LengthUnit::Millimetre, "0.1 mm"},               // 0.128 mm
        {1e-12, 1280, LengthUnit::Nanometre, "0.2 nm"},                  // tiny pixels: 0.256 nm
        {1e-3, 1280, LengthUnit::Millimetre, "200 mm"},                  // huge pixels: 256 mm
        {3e-6, 1280, LengthUnit::Nanometre, "500000 nm"},                // a unit far too small
    };
    for (const Case& c : cases) {
        const ScaleBar b = ChooseScaleBar(c.metresPerPixel, c.width, c.unit);
        EXPECT_EQ(b.text, c.text) << c.metresPerPixel << " m at " << c.width;
        EXPECT_LE(b.pixels, c.width / 5.0 + 1e-9);
        EXPECT_GT(b.pixels, c.width / 5.0 / 2.5 - 1e-9) << "the next step down would be too short";
        EXPECT_NEAR(b.pixels * c.metresPerPixel, b.metres, b.metres * 1e-12);
    }
}

TEST(ScaleBar, UnusableSizesGiveNoBar) {
    for (const double size : {0.0, -1e-6, std::nan(""), double(INFINITY)}) {
        const ScaleBar bar = ChooseScaleBar(size, 1920, LengthUnit::Micrometre);
        EXPECT_EQ(bar.metres, 0);
        EXPECT_TRUE(bar.text.empty());
    }
    EXPECT_EQ(ChooseScaleBar(1e-6, 0, LengthUnit::Micrometre).metres, 0);
    EXPECT_EQ(ChooseScaleBar(1e-6, -5, LengthUnit::Micrometre).metres, 0);
    EXPECT_EQ(ChooseScaleBar(1e-300, 1920, LengthUnit::Nanometre).metres, 0);
}

TEST(ScaleBar, PixelSizeFollowsTheRatioOfCaptureWidths) {
    const Calibration calibration{"10x", 0.37 * kUm, 1920, LengthUnit::Micrometre};
    EXPECT_NEAR(PixelSizeAt(calibration, 1920), 0.37 * kUm, 1e-18);
    EXPECT_NEAR(PixelSizeAt(calibration, 1280), 0.555 * kUm, 1e-18);
    EXPECT_NEAR(PixelSizeAt(calibration, 3840), 0.185 * kUm, 1e-18);
    EXPECT_EQ(PixelSizeAt(calibration, 0), 0);
    EXPECT_EQ(PixelSizeAt({"x", 0, 1920, LengthUnit::Micrometre}, 1280), 0);
    EXPECT_EQ(PixelSizeAt({"x", 1e-6, 0, LengthUnit::Micrometre}, 1280), 0);
    EXPECT_EQ(PixelSizeAt({"x", std::nan(""), 1920, LengthUnit::Micrometre}, 1280), 0);
}

TEST(ScaleBar, LengthsAndUnitsReadAsTheUserTypedThem) {
    EXPECT_EQ(UnitText(LengthUnit::Nanometre), "nm");
    EXPECT_EQ(UnitText(LengthUnit::Micrometre), kMicro);
    EXPECT_EQ(UnitText(LengthUnit::Millimetre), "mm");
    EXPECT_EQ(FormatLength(12.34 * kUm, LengthUnit::Micrometre), "12.3 " + kMicro);
    EXPECT_EQ(FormatLength(1.5e-3, LengthUnit::Millimetre), "1.50 mm");
    EXPECT_EQ(FormatLength(1234.6e-9, LengthUnit::Nanometre), "1235 nm");
    EXPECT_EQ(FormatLength(9.996 * kUm, LengthUnit::Micrometre), "10.0 " + kMicro);
    EXPECT_EQ(FormatLength(0.0123 * kUm, LengthUnit::Micrometre), "0.0123 " + kMicro);
    EXPECT_EQ(FormatLength(0, LengthUnit::Micrometre), "0 " + kMicro);
}

// A bottom-up picture of one grey value.
std::vector<uint8_t> Flat(int32_t w, int32_t h, uint8_t value) {
    return std::vector<uint8_t>(size_t{3} * w * h, value);
}

// Where a drawn picture differs from the plain one, in picture (top-down) coordinates.
struct Changed {
    int32_t left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
    int64_t count = 0;
};

Changed Difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int32_t w, int32_t h) {
    Changed c;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const size_t at = (size_t(h - 1 - y) * w + x) * 3;
            if (a[at] == b[at] && a[at + 1] == b[at + 1] && a[at + 2] == b[at + 2]) continue;
            ++c.count;
            c.left = std::min(c.left, x), c.right = std::max(c.right, x);
            c.top = std::min(c.top, y), c.bottom = std::max(c.bottom, y);
        }
    }
    return c;
}

TEST(ScaleBar, DrawnInTheLowerRightCornerAndLegibleOnLightAndDark) {
    const int32_t w = 1920, h = 1080;
    const ScaleBar bar = ChooseScaleBar(0.37 * kUm, w, LengthUnit::Micrometre);
    for (const uint8_t background : {uint8_t{0}, uint8_t{255}, uint8_t{128}}) {
        SCOPED_TRACE(int{background});
        const std::vector<uint8_t> plain = Flat(w, h, background);
        std::vector<uint8_t> drawn = plain;
        DrawScaleBar(drawn.data(), w, h, bar);
        const Changed c = Difference(plain, drawn, w, h);
        ASSERT_GT(c.count, 0);
        EXPECT_GT(c.left, w / 2);
        EXPECT_GT(c.top, h * 3 / 4);
        EXPECT_LT(c.right, w);
        EXPECT_LT(c.bottom, h);
        // The bar itself: a white run of 270 pixels in some row, next to dark ones.
        int32_t longestWhite = 0;
        bool darkSeen = false;
        for (int32_t y = c.top; y <= c.bottom; ++y) {
            int32_t run = 0;
            for (int32_t x = c.left; x <= c.right; ++x) {
                const uint8_t v = drawn[(size_t(h - 1 - y) * w + x) * 3];
                run = v == 255 ? run + 1 : 0;
                longestWhite = std::max(longestWhite, run);
                darkSeen = darkSeen || v <= 64;
            }
        }
        EXPECT_EQ(longestWhite, 270);
        EXPECT_TRUE(darkSeen) << "white marks on a dark backing";
    }
}

TEST(ScaleBar, NothingIsDrawnWithoutABarOrWhereItDoesNotFit) {
    std::vector<uint8_t> picture = Flat(64, 48, 100);
    const std::vector<uint8_t> plain = picture;
    DrawScaleBar(picture.data(), 64, 48, ScaleBar{});
    DrawScaleBar(picture.data(), 64, 48, ChooseScaleBar(0, 64, LengthUnit::Micrometre));
    DrawScaleBar(picture.data(), 64, 48, ScaleBar{1e-6, 500, "1 mm"});  // wider than the picture
    DrawScaleBar(picture.data(), 8, 6, ChooseScaleBar(1e-6, 8, LengthUnit::Micrometre));
    DrawScaleBar(nullptr, 64, 48, ChooseScaleBar(1e-6, 64, LengthUnit::Micrometre));
    EXPECT_EQ(picture, plain);
    // A small picture still gets its bar.
    DrawScaleBar(picture.data(), 64, 48, ChooseScaleBar(1e-6, 64, LengthUnit::Micrometre));
    EXPECT_NE(picture, plain);
}

// --- the scale in saved photos -------------------------------------------------------------------

std::string Encode(const std::vector<uint8_t>& frame, int32_t w, int32_t h, int32_t tw, int32_t th,
                   const PhotoScale& scale) {
    std::vector<unsigned char> jpeg;
    std::string reason;
    EXPECT_EQ(EncodePhoto(frame.data(), w, h, tw, th, jpeg, reason, scale), S_OK) << reason;
    return std::string(jpeg.begin(), jpeg.end());
}

std::vector<uint8_t> DecodeBottomUp(const std::string& jpeg, int32_t& w, int32_t& h) {
    std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), tjDestroy);
    const auto* data = reinterpret_cast<const unsigned char*>(jpeg.data());
    int sub = 0, space = 0;
    if (tjDecompressHeader3(decoder.get(), data, jpeg.size(), &w, &h, &sub, &space) != 0) return {};
    std::vector<uint8_t> pixels(size_t{3} * w * h);
    if (tjDecompress2(decoder.get(), data, jpeg.size(), pixels.data(), w, 0, h, TJPF_BGR, TJFLAG_BOTTOMUP) != 0)
        return {};
    return pixels;
}

TEST(PhotoScale, ResolutionFieldsGiveThePixelsPerCentimetreAtTheSavedSize) {
    const std::vector<uint8_t> frame = Flat(640, 480, 90);
    // 0.37 um per pixel: 27027 pixels per cm. Saved at twice the size: half the pixel size.
    const PhotoScale scale{0.37 * kUm, LengthUnit::Micrometre, false};
    const auto same = ReadPhotoResolution(Encode(frame, 640, 480, 640, 480, scale));
    ASSERT_TRUE(same.read);
    EXPECT_TRUE(same.jfif);
    EXPECT_EQ(same.jfifUnit, 2);
    EXPECT_EQ(same.jfifX, 27027);
    EXPECT_EQ(same.jfifY, 27027);
    ASSERT_TRUE(same.exif);
    EXPECT_EQ(same.exifUnit, 3);
    EXPECT_NEAR(same.exifX, 27027.027, 0.001);
    EXPECT_NEAR(same.exifY, 27027.027, 0.001);

    const auto larger = ReadPhotoResolution(Encode(frame, 640, 480, 1280, 720, scale));
    EXPECT_EQ(larger.jfifX, 54054);
    EXPECT_EQ(larger.jfifY, 40541);  // stretched 1.5 times down
    EXPECT_NEAR(larger.exifX, 54054.054, 0.001);

    // Out of what a JFIF header holds: clamped, while Exif keeps the value.
    const auto fine = ReadPhotoResolution(Encode(frame, 640, 480, 640, 480, {1e-9, LengthUnit::Nanometre, false}));
    EXPECT_EQ(fine.jfifX, 65535);
    EXPECT_NEAR(fine.exifX, 1e7, 0.001);
    const auto coarse = ReadPhotoResolution(Encode(frame, 640, 480, 640, 480, {1.0, LengthUnit::Millimetre, false}));
    EXPECT_EQ(coarse.jfifX, 1);
    EXPECT_EQ(coarse.jfifUnit, 2);

    // Without a calibration the photo says nothing physical, as before.
    const auto none = ReadPhotoResolution(Encode(frame, 640, 480, 640, 480, {}));
    EXPECT_EQ(none.jfifUnit, 0);
    EXPECT_EQ(none.jfifX, 1);
    EXPECT_EQ(none.exifUnit, 2);
    EXPECT_NEAR(none.exifX, 72, 1e-9);
}

TEST(PhotoScale, BarIsBurnedInAtTheSavedSizeOnlyWhenAsked) {
    const int32_t w = 640, h = 480;
    std::vector<uint8_t> frame = Flat(w, h, 200);
    const std::vector<uint8_t> original = frame;
    for (const auto& [tw, th] : {std::pair{640, 480}, std::pair{1280, 960}}) {
        SCOPED_TRACE(tw);
        int32_t dw = 0, dh = 0;
        const std::vector<uint8_t> plain =
            DecodeBottomUp(Encode(frame, w, h, tw, th, {1e-6, LengthUnit::Micrometre, false}), dw, dh);
        const std::vector<uint8_t> marked =
            DecodeBottomUp(Encode(frame, w, h, tw, th, {1e-6, LengthUnit::Micrometre, true}), dw, dh);
        ASSERT_EQ(dw, tw);
        ASSERT_EQ(dh, th);
        EXPECT_EQ(frame, original) << "the frame handed in stays as it was";
        // The bar as DrawScaleBar puts it at the saved size, against the photo without it.
        std::vector<uint8_t> expected = Flat(tw, th, 200);
        DrawScaleBar(expected.data(), tw, th, ChooseScaleBar(1e-6 * w / tw, tw, LengthUnit::Micrometre));
        const Changed drawn = Difference(Flat(tw, th, 200), expected, tw, th);
        ASSERT_GT(drawn.count, 0);
        int64_t outside = 0, inside = 0;
        for (int32_t y = 0; y < th; ++y) {
            for (int32_t x = 0; x < tw; ++x) {
                const size_t at = (size_t(th - 1 - y) * tw + x) * 3 + 1;
                const bool inBox = x >= drawn.left && x <= drawn.right && y >= drawn.top && y <= drawn.bottom;
                if (!inBox) outside += std::abs(int{marked[at]} - int{plain[at]}) > 8;
                if (inBox) inside += std::abs(int{marked[at]} - int{expected[at]}) <= 40;
            }
        }
        EXPECT_EQ(outside, 0) << "beyond the corner the photo is the plain one";
        const int64_t boxPixels = int64_t{drawn.right - drawn.left + 1} * (drawn.bottom - drawn.top + 1);
        EXPECT_GT(inside, boxPixels * 9 / 10) << "the corner shows the bar at the saved size";
    }
}

}  // namespace
}  // namespace orvane
