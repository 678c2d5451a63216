#include "media/ui/desktop_thumbnails.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <QImageReader>
#include <QScrollBar>
#include <string>

#include "media/ui/resources_browser_dlg.h"
#include "media_ui_fixture.h"

namespace orvane::test {
namespace {

const QColor kRed(210, 40, 40);
const QColor kGreen(40, 180, 60);

int Mode(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
}

QImage ReadPng(const std::string& path) {
    QImageReader reader(QString::fromStdString(path), "png");
    return reader.read();
}

TEST(DesktopThumbnailNamesTest, UriAndNameFollowTheDesktopsRules) {
    // The example the desktop's standard gives.
    EXPECT_EQ(CDesktopThumbnails::FileUri("/home/jens/photos/me.png"), "file:///home/jens/photos/me.png");
    EXPECT_EQ(CDesktopThumbnails::Md5Hex("file:///home/jens/photos/me.png"),
              "c6ee772d9e49320e97ec29a7eb5b1697");
    // Blanks, reserved characters and UTF-8 are escaped as the GLib file managers escape them.
    EXPECT_EQ(CDesktopThumbnails::FileUri("/m/Single Shots/a#b%c?d[e]f;g~h!i.jpg"),
              "file:///m/Single%20Shots/a%23b%25c%3Fd%5Be%5Df%3Bg~h!i.jpg");
    EXPECT_EQ(CDesktopThumbnails::FileUri("/m/\xe5\x9b\xbe.jpg"), "file:///m/%E5%9B%BE.jpg");
    // Size classes: the smallest whose pictures are at least 9/10 of the drawn size.
    EXPECT_EQ(CDesktopThumbnails::FlavourFor(QSize(133, 100)), 128);
    EXPECT_EQ(CDesktopThumbnails::FlavourFor(QSize(177, 100)), 256);
    EXPECT_EQ(CDesktopThumbnails::FlavourFor(QSize(266, 200)), 256);
    EXPECT_EQ(CDesktopThumbnails::FlavourFor(QSize(3000, 10)), 1024);
    EXPECT_EQ(CDesktopThumbnails::FlavourSize(QSize(2592, 1944), 128), QSize(128, 96));
    EXPECT_EQ(CDesktopThumbnails::FlavourSize(QSize(100, 50), 128), QSize(100, 50));
}

class SharedThumbnailTest : public MediaUiTest {
protected:
    void Open() {
        panel = std::make_unique<CResourcesBrowserDlg>(&settings);
        panel->resize(200 + panel->ScrollBar()->width(), 300);
        panel->show();
        Drain();
    }
    std::string NormalPath(const std::string& file) const {
        return box.CacheHome() + "/thumbnails/normal/" +
               CDesktopThumbnails::Md5Hex(CDesktopThumbnails::FileUri(file)) + ".png";
    }
    std::string FailPath(const std::string& file) const {
        return box.CacheHome() + "/thumbnails/fail/orvane-" ORVANE_VERSION "/" +
               CDesktopThumbnails::Md5Hex(CDesktopThumbnails::FileUri(file)) + ".png";
    }
    QImage Paint() {
        EXPECT_TRUE(SettlePanel(*panel));
        return panel->grab().toImage();
    }
    static int64_t MTime(const std::string& path) {
        struct stat info {};
        ::stat(path.c_str(), &info);
        return info.st_mtim.tv_sec;
    }

    std::unique_ptr<CResourcesBrowserDlg> panel;
};

TEST_F(SharedThumbnailTest, OurThumbnailIsFoundByItsUrisMd5AsAValidPngWithTheKeys) {
    const std::string photo = Singles() + "/S20240131_0001.jpg";
    ASSERT_TRUE(WriteJpeg(photo, MakeSpecimen(2592, 1944, kRed)));
    Open();
    panel->SetFolder(Singles(), false);
    Paint();

    const std::string stored = NormalPath(photo);
    ASSERT_TRUE(Exists(stored)) << stored;
    const QImage png = ReadPng(stored);
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), QSize(128, 96));
    EXPECT_TRUE(png.hasAlphaChannel());
    EXPECT_EQ(png.text("Thumb::URI").toStdString(), CDesktopThumbnails::FileUri(photo));
    EXPECT_EQ(png.text("Thumb::MTime").toLongLong(), MTime(photo));
    EXPECT_EQ(png.text("Thumb::Image::Width"), QStringLiteral("2592"));
    const QColor middle = MeanColour(png, QRect(44, 28, 40, 40));
    EXPECT_GT(middle.red(), middle.blue() + 60);  // the photo's lit red disc
    // Private to the user, as the desktop's cache must be; no temporary file left beside it.
    EXPECT_EQ(Mode(stored), 0600);
    EXPECT_EQ(Mode(box.CacheHome() + "/thumbnails"), 0700);
    EXPECT_EQ(Mode(box.CacheHome() + "/thumbnails/normal"), 0700);
    EXPECT_EQ(ListFolder(box.CacheHome() + "/thumbnails/normal").size(), 1u);
}

TEST_F(SharedThumbnailTest, ThumbnailsTheDesktopMadeAreUsedWhileTheyMatchTheFile) {
    const std::string photo = Singles() + "/S20240131_0001.jpg";
    ASSERT_TRUE(WriteJpeg(photo, MakeFlat(640, 480, kRed)));
    // A file manager's thumbnail, green so that it can be told from the red photo.
    QImage desktop = MakeFlat(128, 96, kGreen).convertToFormat(QImage::Format_ARGB32);
    desktop.setText("Thumb::URI", QString::fromStdString(CDesktopThumbnails::FileUri(photo)));
    desktop.setText("Thumb::MTime", QString::number(MTime(photo)));
    MakeFolders(box.CacheHome() + "/thumbnails/normal");
    ASSERT_TRUE(desktop.save(QString::fromStdString(NormalPath(photo)), "PNG"));
    Open();
    panel->SetFolder(Singles(), false);
    QImage shown = Paint();
    EXPECT_TRUE(Near(MeanColour(shown, QRect(40, 20, 120, 80)), kGreen));
    EXPECT_EQ(panel->ItemRects().at(0), QRect(33, 10, 133, 100));
    EXPECT_EQ(panel->Loader().MadeCount(), 1u);
    EXPECT_EQ(panel->Loader().DecodedCount(), 0u);

    // Once the photo is newer than the thumbnail says, the thumbnail is made anew and replaced.
    panel.reset();
    const utimbuf later{MTime(photo) + 10, MTime(photo) + 10};
    ASSERT_EQ(::utime(photo.c_str(), &later), 0);
    Open();
    panel->SetFolder(Singles(), false);
    shown = Paint();
    EXPECT_TRUE(Near(MeanColour(shown, QRect(40, 20, 120, 80)), kRed));
    EXPECT_EQ(panel->Loader().DecodedCount(), 1u);
    EXPECT_EQ(ReadPng(NormalPath(photo)).text("Thumb::MTime").toLongLong(), MTime(photo));
}

TEST_F(SharedThumbnailTest, FilesThatGiveNoPictureAreRecordedAndNotTriedAgain) {
    const std::string damaged = Singles() + "/S20240131_0001.jpg";
    ASSERT_TRUE(WriteFile(damaged, std::string("\xff\xd8\xff\xe0 broken", 12)));
    Open();
    panel->SetFolder(Singles(), false);
    Paint();
    ASSERT_TRUE(Exists(FailPath(damaged)));
    const QImage failure = ReadPng(FailPath(damaged));
    EXPECT_EQ(failure.text("Thumb::URI").toStdString(), CDesktopThumbnails::FileUri(damaged));
    EXPECT_EQ(failure.text("Thumb::MTime").toLongLong(), MTime(damaged));
    EXPECT_FALSE(Exists(NormalPath(damaged)));

    // The next start reads the record instead of the file.
    panel.reset();
    Open();
    panel->SetFolder(Singles(), false);
    Paint();
    EXPECT_TRUE(panel->ItemRects().empty());  // an empty row, as for a damaged photo
    EXPECT_EQ(panel->Loader().MadeCount(), 1u);
    EXPECT_EQ(panel->Loader().DecodedCount(), 0u);
    // Until the file changes.
    panel.reset();
    const utimbuf later{MTime(damaged) + 10, MTime(damaged) + 10};
    ASSERT_EQ(::utime(damaged.c_str(), &later), 0);
    Open();
    panel->SetFolder(Singles(), false);
    Paint();
    EXPECT_EQ(panel->Loader().DecodedCount(), 1u);
}

}  // namespace
}  // namespace orvane::test
