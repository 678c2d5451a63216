#include "media/ui/thumbnail_cache.h"

#include <gtest/gtest.h>

#include <string>

#include "media_ui_fixture.h"

namespace orvane::test {
namespace {

const QColor kRed(210, 40, 40);
const QColor kBlue(40, 70, 210);

CThumbnailCache::FitFunction FixedSize(QSize size) {
    return [size](const QSize&) { return size; };
}

TEST(ThumbnailScaleTest, PicksTheSmallestScaleThatCoversTheBox) {
    using Scale = std::pair<int, int>;
    EXPECT_EQ(CThumbnailCache::ChooseScale(QSize(2592, 1944), QSize(133, 100)), Scale(1, 8));
    EXPECT_EQ(CThumbnailCache::ChooseScale(QSize(2592, 1944), QSize(400, 300)), Scale(1, 4));
    EXPECT_EQ(CThumbnailCache::ChooseScale(QSize(2592, 1944), QSize(330, 100)),
              Scale(1, 4));  // width decides
    EXPECT_EQ(CThumbnailCache::ChooseScale(QSize(640, 480), QSize(640, 480)), Scale(1, 1));
    EXPECT_EQ(CThumbnailCache::ChooseScale(QSize(100, 75), QSize(133, 100)), Scale(1, 1));  // enlarged by Qt
}

class ThumbnailDecodeTest : public MediaUiTest {};

TEST_F(ThumbnailDecodeTest, PhotosComeAtExactlyTheSizeTheyAreDrawn) {
    const std::string path = box / "big.jpg";
    ASSERT_TRUE(WriteJpeg(path, MakeFlat(2592, 1944, kRed)));
    QSize seen;
    const Thumbnail thumbnail = CThumbnailCache::DecodePhoto(path, [&](const QSize& source) {
        seen = source;
        return QSize(133, 100);
    });
    EXPECT_EQ(seen, QSize(2592, 1944));
    EXPECT_EQ(thumbnail.sourceSize, QSize(2592, 1944));
    EXPECT_EQ(thumbnail.image.size(), QSize(133, 100));
    EXPECT_TRUE(Near(MeanColour(thumbnail.image, thumbnail.image.rect()), kRed));
}

TEST_F(ThumbnailDecodeTest, DamagedAndForeignPhotos) {
    // A picture of another format under a photo's name is shown as it is.
    const std::string png = box / "really_a_png.jpg";
    ASSERT_TRUE(MakeFlat(80, 60, kBlue).save(QString::fromStdString(png), "PNG"));
    Thumbnail thumbnail = CThumbnailCache::DecodePhoto(png, FixedSize(QSize(40, 30)));
    EXPECT_EQ(thumbnail.sourceSize, QSize(80, 60));
    EXPECT_EQ(thumbnail.image.size(), QSize(40, 30));
    EXPECT_TRUE(Near(MeanColour(thumbnail.image, thumbnail.image.rect()), kBlue));

    // A photo cut short shows what was read.
    const std::string whole = box / "whole.jpg";
    ASSERT_TRUE(WriteJpeg(whole, MakeSpecimen(640, 480, kRed)));
    const std::string cut = box / "cut.jpg";
    const std::string bytes = ReadFile(whole);
    ASSERT_TRUE(WriteFile(cut, bytes.substr(0, bytes.size() / 2)));
    thumbnail = CThumbnailCache::DecodePhoto(cut, FixedSize(QSize(133, 100)));
    EXPECT_EQ(thumbnail.sourceSize, QSize(640, 480));
    EXPECT_EQ(thumbnail.image.size(), QSize(133, 100));

    for (const std::string& content :
         {std::string(), std::string("\xff\xd8\xff\xe0", 4), std::string(5000, 'x')}) {
        ASSERT_TRUE(WriteFile(box / "bad.jpg", content));
        thumbnail = CThumbnailCache::DecodePhoto(box / "bad.jpg", FixedSize(QSize(133, 100)));
        EXPECT_TRUE(thumbnail.sourceSize.isEmpty());
        EXPECT_TRUE(thumbnail.image.isNull());
    }
    EXPECT_TRUE(
        CThumbnailCache::DecodePhoto(box / "missing.jpg", FixedSize(QSize(133, 100))).sourceSize.isEmpty());
    EXPECT_TRUE(
        CThumbnailCache::DecodeMovie(box / "bad.jpg", FixedSize(QSize(133, 100))).sourceSize.isEmpty());
}

TEST_F(ThumbnailDecodeTest, CacheKeepsTheLatestEntriesAndRemembersDamagedFiles) {
    CThumbnailCache cache(2);
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        ASSERT_TRUE(WriteJpeg(box / name, MakeFlat(64, 48, kRed)));
        cache.Get(box / name, ThumbnailKind::Photo, FixedSize(QSize(32, 24)));
    }
    EXPECT_EQ(cache.Size(), 2u);
    EXPECT_EQ(cache.DecodeCount(), 3u);
    cache.Get(box / "c.jpg", ThumbnailKind::Photo, FixedSize(QSize(32, 24)));
    EXPECT_EQ(cache.DecodeCount(), 3u);
    cache.Get(box / "a.jpg", ThumbnailKind::Photo, FixedSize(QSize(32, 24)));  // dropped before
    EXPECT_EQ(cache.DecodeCount(), 4u);

    ASSERT_TRUE(WriteFile(box / "bad.avi", "no movie"));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(
            cache.Get(box / "bad.avi", ThumbnailKind::Movie, FixedSize(QSize(32, 24))).sourceSize.isEmpty());
    EXPECT_EQ(cache.DecodeCount(), 5u);

    // A file that went away is forgotten.
    ASSERT_EQ(std::remove((box / "bad.avi").c_str()), 0);
    EXPECT_TRUE(
        cache.Get(box / "bad.avi", ThumbnailKind::Movie, FixedSize(QSize(32, 24))).sourceSize.isEmpty());
    EXPECT_EQ(cache.Size(), 1u);
}

}  // namespace
}  // namespace orvane::test
