#include "imaging/photo_thumbnail.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <turbojpeg.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "imaging/photo_writer.h"
#include "support/hostile_media.h"
#include "support/sandbox.h"

namespace orvane {
namespace {

using test::Sandbox;
using Size = std::pair<int32_t, int32_t>;

ThumbnailSizeFunction Fixed(int32_t w, int32_t h) {
    return [w, h](int32_t, int32_t) { return Size(w, h); };
}

// A bottom-up BGR frame: reddish top half, bluish bottom half (as seen upright).
std::vector<uint8_t> TwoBandFrame(int w, int h) {
    std::vector<uint8_t> bits(3 * size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = &bits[3 * size_t(h - 1 - y) * w];
        for (int x = 0; x < w; ++x) {
            const bool top = y < h / 2;
            row[3 * x + 0] = top ? 30 : 220;
            row[3 * x + 1] = 40;
            row[3 * x + 2] = top ? 220 : 30;
        }
    }
    return bits;
}

// The same picture as another program writes it: upright rows, no Exif block.
std::string ForeignJpeg(int w, int h, int flags = 0) {
    std::vector<uint8_t> frame = TwoBandFrame(w, h);
    std::unique_ptr<void, int (*)(tjhandle)> encoder(tjInitCompress(), tjDestroy);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(encoder.get(), frame.data(), w, 0, h, TJPF_BGR, &jpeg, &size, TJSAMP_420, 90,
                          flags | TJFLAG_BOTTOMUP),
              0);
    std::string bytes(reinterpret_cast<const char*>(jpeg), size);
    tjFree(jpeg);
    return bytes;
}

void ExpectTwoBands(const BgrPicture& picture) {
    ASSERT_GT(picture.width, 4);
    ASSERT_GT(picture.height, 4);
    const uint8_t* top =
        &picture.pixels[size_t(picture.height / 8) * picture.stride + 3 * (picture.width / 2)];
    const uint8_t* bottom =
        &picture.pixels[size_t(picture.height * 7 / 8) * picture.stride + 3 * (picture.width / 2)];
    EXPECT_GT(top[2], 170);
    EXPECT_LT(top[0], 90);
    EXPECT_GT(bottom[0], 170);
    EXPECT_LT(bottom[2], 90);
}

class PhotoThumbnailTest : public ::testing::Test {
protected:
    std::string OurPhoto(int w, int h) {
        const std::string path = box / ("ours_" + std::to_string(w) + ".jpg");
        const std::vector<uint8_t> frame = TwoBandFrame(w, h);
        EXPECT_EQ(SaveFrameAsJpeg(path, frame.data(), w, h, w, h), S_OK);
        return path;
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = box / name;
        EXPECT_TRUE(test::WriteFile(path, bytes));
        return path;
    }
    Sandbox box;
    ThumbnailLimits limits = ThumbnailLimits::Within(std::chrono::seconds(10));
};

TEST_F(PhotoThumbnailTest, OurPhotosGiveTheirEmbeddedPictureWhenItIsLargeEnough) {
    const std::string path = OurPhoto(1296, 972);
    PhotoThumbnail thumbnail = DecodePhotoThumbnail(path, Fixed(133, 100), limits, Fixed(100, 75));
    ASSERT_EQ(thumbnail.status, ThumbnailStatus::Ok);
    EXPECT_TRUE(thumbnail.embedded);
    EXPECT_EQ(Size(thumbnail.sourceWidth, thumbnail.sourceHeight), Size(1296, 972));
    EXPECT_EQ(Size(thumbnail.picture.width, thumbnail.picture.height), Size(160, 120));
    ExpectTwoBands(thumbnail.picture);

    // Asked for more than the embedded picture has: the photo is decoded at a scale that covers it.
    thumbnail = DecodePhotoThumbnail(path, Fixed(266, 200), limits, Fixed(200, 150));
    ASSERT_EQ(thumbnail.status, ThumbnailStatus::Ok);
    EXPECT_FALSE(thumbnail.embedded);
    EXPECT_EQ(Size(thumbnail.picture.width, thumbnail.picture.height), Size(324, 243));  // 1 / 4
    ExpectTwoBands(thumbnail.picture);
}

TEST_F(PhotoThumbnailTest, OtherPhotosAreDecodedAtTheSmallestScaleThatCovers) {
    EXPECT_EQ(ChooseJpegScale(2592, 1944, 133, 100), Size(1, 8));
    EXPECT_EQ(ChooseJpegScale(2592, 1944, 400, 300), Size(1, 4));
    EXPECT_EQ(ChooseJpegScale(100, 75, 133, 100), Size(1, 1));

    const std::string path = Write("foreign.jpg", ForeignJpeg(2592, 1944));
    const PhotoThumbnail thumbnail = DecodePhotoThumbnail(path, Fixed(133, 100), limits, Fixed(100, 75));
    ASSERT_EQ(thumbnail.status, ThumbnailStatus::Ok);
    EXPECT_FALSE(thumbnail.embedded);
    EXPECT_EQ(Size(thumbnail.picture.width, thumbnail.picture.height), Size(324, 243));
    ExpectTwoBands(thumbnail.picture);

    // Only the size, when nothing is wanted.
    const PhotoThumbnail sizeOnly = DecodePhotoThumbnail(path, Fixed(0, 0), limits);
    EXPECT_EQ(sizeOnly.status, ThumbnailStatus::Ok);
    EXPECT_EQ(Size(sizeOnly.sourceWidth, sizeOnly.sourceHeight), Size(2592, 1944));
    EXPECT_TRUE(sizeOnly.picture.pixels.empty());
}

TEST_F(PhotoThumbnailTest, DamagedEmbeddedPicturesFallBackToThePhoto) {
    const std::string path = OurPhoto(640, 480);
    std::string bytes = test::ReadFile(path);
    // Spoil the small JPEG's own start marker inside the Exif block.
    const size_t exif = bytes.find("Exif");
    const size_t small = bytes.find(std::string("\xFF\xD8", 2), exif);
    ASSERT_NE(small, std::string::npos);
    bytes[small + 1] = 0x00;
    const std::string damaged = Write("damaged_exif.jpg", bytes);
    PhotoThumbnail thumbnail = DecodePhotoThumbnail(damaged, Fixed(133, 100), limits, Fixed(100, 75));
    ASSERT_EQ(thumbnail.status, ThumbnailStatus::Ok);
    EXPECT_FALSE(thumbnail.embedded);
    ExpectTwoBands(thumbnail.picture);

    // An embedded picture of another aspect (a letterboxed one) is not used either.
    const std::string wide = OurPhoto(1920, 1080);
    thumbnail = DecodePhotoThumbnail(wide, Fixed(177, 100), limits, Fixed(133, 75));
    ASSERT_EQ(thumbnail.status, ThumbnailStatus::Ok);
    EXPECT_TRUE(thumbnail.embedded);  // 160 x 90 covers 133 x 75
    std::string stretched = test::ReadFile(wide);
    const size_t width = stretched.find(std::string("\xFF\xC0", 2), stretched.find("Exif"));
    ASSERT_NE(width, std::string::npos);
    stretched[width + 5] = 0;  // the small picture now claims 160 x 120
    stretched[width + 6] = 120;
    thumbnail =
        DecodePhotoThumbnail(Write("stretched.jpg", stretched), Fixed(177, 100), limits, Fixed(133, 75));
    EXPECT_FALSE(thumbnail.embedded);
}

TEST_F(PhotoThumbnailTest, WhatIsNoPhotoGivesNoPicture) {
    EXPECT_EQ(DecodePhotoThumbnail(box / "missing.jpg", Fixed(133, 100), limits).status,
              ThumbnailStatus::NoPicture);
    EXPECT_EQ(DecodePhotoThumbnail(Write("empty.jpg", ""), Fixed(133, 100), limits).status,
              ThumbnailStatus::NoPicture);
    EXPECT_EQ(DecodePhotoThumbnail(Write("png.jpg", "\x89PNG\r\n\x1a\n...."), Fixed(133, 100), limits).status,
              ThumbnailStatus::NotJpeg);
    EXPECT_EQ(
        DecodePhotoThumbnail(Write("start.jpg", std::string("\xFF\xD8\xFF\xE0", 4)), Fixed(133, 100), limits)
            .status,
        ThumbnailStatus::NoPicture);
    // A pipe under a photo's name is not waited on.
    ASSERT_EQ(::mkfifo((box / "pipe.jpg").c_str(), 0600), 0);
    EXPECT_EQ(DecodePhotoThumbnail(box / "pipe.jpg", Fixed(133, 100), limits).status,
              ThumbnailStatus::NoPicture);
    EXPECT_EQ(DecodePhotoThumbnail(box.Path(), Fixed(133, 100), limits).status, ThumbnailStatus::NoPicture);
    // A photo cut short shows what was read.
    const std::string whole = ForeignJpeg(640, 480);
    const PhotoThumbnail cut =
        DecodePhotoThumbnail(Write("cut.jpg", whole.substr(0, whole.size() / 2)), Fixed(133, 100), limits);
    EXPECT_EQ(cut.status, ThumbnailStatus::Ok);
    EXPECT_EQ(Size(cut.sourceWidth, cut.sourceHeight), Size(640, 480));
}

TEST_F(PhotoThumbnailTest, LimitsAreCheckedBeforeAnythingIsDecoded) {
    // A picture too large by its header, whatever its bytes.
    EXPECT_EQ(DecodePhotoThumbnail(Write("bomb.jpg", test::ProgressiveJpegClaiming(65500, 65500)),
                                   Fixed(133, 100), limits)
                  .status,
              ThumbnailStatus::NoPicture);
    // Progressive pictures are held whole: their cap is lower.
    const std::string progressive = Write("progressive.jpg", test::ProgressiveJpegClaiming(5000, 4000));
    EXPECT_EQ(DecodePhotoThumbnail(progressive, Fixed(133, 100), limits).status, ThumbnailStatus::NoPicture);
    ThumbnailLimits generous = limits;
    generous.maxBufferedPixels = generous.maxPixels;
    EXPECT_NE(DecodePhotoThumbnail(progressive, Fixed(0, 0), generous).status, ThumbnailStatus::NoPicture);
    // Too many scans.
    const std::string scans = Write("scans.jpg", test::JpegWithExtraScans(200));
    EXPECT_EQ(DecodePhotoThumbnail(scans, Fixed(16, 16), limits).status, ThumbnailStatus::NoPicture);
    const std::string fewScans = Write("few_scans.jpg", test::JpegWithExtraScans(2));
    EXPECT_EQ(DecodePhotoThumbnail(fewScans, Fixed(16, 16), limits).status, ThumbnailStatus::Ok);
    // Too large a file: not even opened for reading.
    ASSERT_TRUE(test::MakeSparseFile(box / "sparse.jpg", int64_t{1000} << 20));
    EXPECT_EQ(DecodePhotoThumbnail(box / "sparse.jpg", Fixed(133, 100), limits).status,
              ThumbnailStatus::NoPicture);
    // Out of time, or no longer wanted.
    const std::string photo = Write("photo.jpg", ForeignJpeg(640, 480));
    ThumbnailLimits late = limits;
    late.deadline = ThumbnailLimits::Clock::now();
    EXPECT_EQ(DecodePhotoThumbnail(photo, Fixed(133, 100), late).status, ThumbnailStatus::NoPicture);
    std::atomic<bool> cancelled{true};
    ThumbnailLimits unwanted = limits;
    unwanted.cancelled = &cancelled;
    EXPECT_EQ(DecodePhotoThumbnail(photo, Fixed(133, 100), unwanted).status, ThumbnailStatus::Cancelled);
}

}  // namespace
}  // namespace orvane
