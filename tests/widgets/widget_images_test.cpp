#include "widgets/widget_images.h"

#include <gtest/gtest.h>

#include <QImage>

namespace orvane {
namespace {

TEST(WidgetImagesTest, PicturesFitTheirRectangleKeepingTheAspectRatioCentred) {
    EXPECT_EQ(FitImageRect(QSize(64, 64), QRect(0, 0, 56, 39)), QRect(8, 0, 39, 39));
    EXPECT_EQ(FitImageRect(QSize(100, 50), QRect(10, 10, 40, 40)), QRect(10, 20, 40, 20));
    EXPECT_EQ(FitImageRect(QSize(10, 10), QRect(0, 0, 30, 30)), QRect(0, 0, 30, 30)) << "small pictures grow";
    EXPECT_TRUE(FitImageRect(QSize(), QRect(0, 0, 30, 30)).isEmpty());
    EXPECT_TRUE(FitImageRect(QSize(10, 10), QRect()).isEmpty());
}

TEST(WidgetImagesTest, PictureNamesResolveAgainstTheirFolderUnlessAbsolute) {
    EXPECT_EQ(ImagePath(QStringLiteral("/opt/x/"), QStringLiteral("a.png")), QStringLiteral("/opt/x/a.png"));
    EXPECT_EQ(ImagePath(QStringLiteral("/opt/x/"), QStringLiteral("/tmp/b.png")),
              QStringLiteral("/tmp/b.png"));
    EXPECT_TRUE(ImagePath(QStringLiteral("/opt/x/"), QString()).isEmpty());
    EXPECT_TRUE(ToolbarImageFolder().endsWith(QStringLiteral("/Resource/Image/")));
    EXPECT_EQ(RotateImageFolder(), ToolbarImageFolder() + QStringLiteral("Rotate/"));
}

TEST(WidgetImagesTest, EveryPictureFileBesideTheProgramReads) {
    const char* toolbar[] = {"Setting.png",        "Help.png", "TakeAShot.png",  "TimedShot.png",
                             "RecordingMovie.png", "Exit.png", "FullScreen.png", "rotate.png"};
    for (const char* name : toolbar) {
        QImage image(ToolbarImageFolder() + QString::fromUtf8(name));
        ASSERT_FALSE(image.isNull()) << name;
        EXPECT_EQ(image.size(), QSize(64, 64)) << name;
        EXPECT_TRUE(image.hasAlphaChannel()) << name;
    }
    const char* rotate[] = {"rotate.png", "right90.png", "left90.png", "180.png", "verz.png", "horz.png"};
    for (const char* name : rotate) {
        QImage image(RotateImageFolder() + QString::fromUtf8(name));
        ASSERT_FALSE(image.isNull()) << name;
        EXPECT_EQ(image.size(), QSize(36, 36)) << name;
    }
}

TEST(WidgetImagesTest, CompiledInPicturesHaveTheirSizesAndColours) {
    InitWidgetResources();
    QImage app(QString::fromLatin1(kAppIconPath));
    EXPECT_EQ(app.size(), QSize(128, 128));
    QImage marker(QString::fromLatin1(kMovieMarkerIconPath));
    ASSERT_EQ(marker.size(), QSize(32, 32));
    QColor disc = marker.pixelColor(16, 4);
    EXPECT_GT(disc.blue(), disc.red() + 60) << "a blue disc";
    QColor triangle = marker.pixelColor(16, 16);
    EXPECT_GT(triangle.lightness(), 240) << "with a white triangle";
    EXPECT_EQ(marker.pixelColor(0, 0).alpha(), 0);

    for (const char* path : {kSplitterLeftArrowPath, kSplitterRightArrowPath})
        EXPECT_EQ(QImage(QString::fromLatin1(path)).size(), QSize(24, 50)) << path;
    for (const char* path : {kSplitterUpArrowPath, kSplitterDownArrowPath})
        EXPECT_EQ(QImage(QString::fromLatin1(path)).size(), QSize(150, 8)) << path;
    QImage strip(QString::fromLatin1(kSplitterLeftArrowPath));
    QColor normal = strip.pixelColor(4, 5), hot = strip.pixelColor(12, 5), grey = strip.pixelColor(20, 5);
    EXPECT_GT(normal.green(), normal.red() + 60);
    EXPECT_GT(hot.red(), hot.green() + 60);
    EXPECT_LT(std::abs(grey.red() - grey.blue()), 30);
}

}  // namespace
}  // namespace orvane
