#include "media/ui/resources_browser_dlg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "media_ui_fixture.h"

namespace orvane::test {
namespace {

const QColor kRed(210, 40, 40);
const QColor kGreen(40, 180, 60);
const QColor kBlue(40, 70, 210);
const QColor kYellow(220, 200, 40);

class ThumbnailPanelTest : public MediaUiTest {
protected:
    // A panel whose thumbnail area is `areaWidth` wide and `height` high.
    void Open(int areaWidth, int height) {
        panel = std::make_unique<CResourcesBrowserDlg>(&settings);
        panel->SetFileOpener([this](const std::string& path) {
            opened.push_back(path);
            return openSucceeds;
        });
        panel->resize(areaWidth + panel->ScrollBar()->width(), height);
        panel->show();
        Drain();
        ASSERT_EQ(panel->GetItemsRect().width(), areaWidth);
    }
    void Show(const std::string& folder) {
        panel->SetFolder(folder, false);
        Drain();
    }
    std::string Photo(const std::string& name, const QImage& picture) {
        const std::string path = Singles() + "/" + name;
        EXPECT_TRUE(WriteJpeg(path, picture));
        return path;
    }
    // Paints the panel as the screen would once its thumbnails are made, and returns what it shows.
    QImage Paint() {
        EXPECT_TRUE(SettlePanel(*panel));
        return panel->grab().toImage();
    }
    void Wheel(QWidget* target, int delta) {
        QWheelEvent event(QPointF(20, 20), QPointF(20, 20), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(target, &event);
    }
    void DoubleClick(QPoint at) {
        QMouseEvent event(QEvent::MouseButtonDblClick, QPointF(at), panel->mapToGlobal(QPointF(at)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(panel.get(), &event);
    }

    std::unique_ptr<CResourcesBrowserDlg> panel;
    std::vector<std::string> opened;
    bool openSucceeds = true;
};

TEST_F(ThumbnailPanelTest, ScrollBarShownExactlyWhenTheItemsAreTallerThanThePanel) {
    Open(200, 300);
    Photo("S20240131_0001.jpg", MakeFlat(64, 48, kRed));
    Photo("S20240131_0002.jpg", MakeFlat(64, 48, kGreen));
    Show(Singles());
    EXPECT_EQ(panel->ScrollRangeMaximum(), 220);
    EXPECT_FALSE(panel->ScrollBar()->isVisibleTo(panel.get()));

    Photo("S20240131_0003.jpg", MakeFlat(64, 48, kBlue));
    panel->AddItem("S20240131_0003.jpg");
    panel->UpdateScrollRange();
    EXPECT_EQ(panel->ScrollRangeMaximum(), 330);
    EXPECT_TRUE(panel->ScrollBar()->isVisibleTo(panel.get()));
    EXPECT_EQ(panel->ScrollPage(), 300);
    EXPECT_EQ(panel->MaxScrollPosition(), 31);  // 330 - 300 + 1: the last page is full
    // The bar keeps its place at the right edge; the thumbnails never reach under it.
    EXPECT_EQ(panel->ScrollBar()->geometry().left(), 200);
    EXPECT_EQ(panel->ScrollBar()->height(), 300);
}

TEST_F(ThumbnailPanelTest, PhotosAreFittedIntoTheirRowAndDrawnThere) {
    EXPECT_EQ(CResourcesBrowserDlg::FitThumbnail(QSize(640, 480), 200, 10), QRect(33, 10, 133, 100));
    EXPECT_EQ(CResourcesBrowserDlg::FitThumbnail(QSize(1920, 1080), 100, 10), QRect(0, 32, 100, 56));
    EXPECT_EQ(CResourcesBrowserDlg::FitThumbnail(QSize(32, 24), 200, 0), QRect(33, 0, 133, 100));  // enlarged
    EXPECT_TRUE(CResourcesBrowserDlg::FitThumbnail(QSize(0, 0), 200, 0).isEmpty());

    Open(200, 400);
    Photo("S20240131_0001.jpg", MakeFlat(640, 480, kRed));
    Photo("S20240131_0002.jpg", MakeFlat(1920, 1080, kGreen));
    Show(Singles());
    const QImage shown = Paint();
    ASSERT_EQ(panel->ItemRects().size(), 2u);
    EXPECT_EQ(panel->ItemRects().at(0), QRect(33, 10, 133, 100));
    EXPECT_EQ(panel->ItemRects().at(1), QRect(11, 120, 177, 100));  // 16:9 in 200: 100 high
    EXPECT_TRUE(Near(MeanColour(shown, QRect(40, 20, 120, 80)), kRed));
    EXPECT_TRUE(Near(MeanColour(shown, QRect(20, 130, 160, 80)), kGreen));
    // Beside the 4:3 thumbnail and between the rows the panel's background shows.
    const QColor background = panel->palette().color(panel->backgroundRole());
    EXPECT_TRUE(Near(MeanColour(shown, QRect(2, 20, 25, 80)), background, 4));
    EXPECT_TRUE(Near(MeanColour(shown, QRect(0, 112, 200, 8)), background, 4));

    // 16:9 in a 100-pixel area: 100 x 56, 22 below the box top.
    panel->resize(100 + panel->ScrollBar()->width(), 400);
    Drain();
    Paint();
    EXPECT_EQ(panel->ItemRects().at(1), QRect(0, 120 + 22, 100, 56));
}

TEST_F(ThumbnailPanelTest, ScrollPositionDecidesTheTopRow) {
    Open(200, 300);
    for (int i = 1; i <= 6; ++i) Photo("S20240131_000" + std::to_string(i) + ".jpg", MakeFlat(64, 48, kBlue));
    Show(Singles());
    panel->SetScrollPosition(230);
    Paint();
    EXPECT_EQ(panel->FirstVisible(), 2);
    ASSERT_TRUE(panel->ItemRects().contains(0));
    EXPECT_EQ(panel->ItemRects().at(0).top(), 0);  // 220 - 230 + 10
    EXPECT_EQ(panel->GetItemPath(0), Singles() + "/S20240131_0003.jpg");
    // The row cut by the bottom edge is drawn too: 0, 110, 220 from the top.
    EXPECT_EQ(panel->ItemRects().size(), 3u);
    EXPECT_EQ(panel->ItemRects().at(2).top(), 220);

    // A resize returns to the top; the position is clamped to the last full page.
    panel->resize(panel->width(), 250);
    Drain();
    EXPECT_EQ(panel->ScrollPosition(), 0);
    panel->SetScrollPosition(100000);
    EXPECT_EQ(panel->ScrollPosition(), 660 - 250 + 1);
    panel->SetScrollPosition(-5);
    EXPECT_EQ(panel->ScrollPosition(), 0);
}

TEST_F(ThumbnailPanelTest, OneWheelMessageMovesOneRowWhateverItsDelta) {
    Open(200, 300);
    for (int i = 1; i <= 8; ++i) Photo("S20240131_000" + std::to_string(i) + ".jpg", MakeFlat(64, 48, kBlue));
    Show(Singles());
    Wheel(panel.get(), -120);
    EXPECT_EQ(panel->ScrollPosition(), 110);
    Wheel(panel.get(), -360);  // three notches in one message
    EXPECT_EQ(panel->ScrollPosition(), 220);
    Wheel(panel.get(), 0);
    EXPECT_EQ(panel->ScrollPosition(), 220);
    Wheel(panel.get(), 15);  // a fine-grained wheel still moves a whole row
    EXPECT_EQ(panel->ScrollPosition(), 110);
    Wheel(panel->ScrollBar(), -120);  // over the bar as well
    EXPECT_EQ(panel->ScrollPosition(), 220);
    for (int i = 0; i < 10; ++i) Wheel(panel.get(), -120);
    EXPECT_EQ(panel->ScrollPosition(), 880 - 300 + 1);
    for (int i = 0; i < 10; ++i) Wheel(panel.get(), 120);
    EXPECT_EQ(panel->ScrollPosition(), 0);

    // The bar's own steps: a line is a row, a page the panel's height.
    panel->ScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(panel->ScrollPosition(), 110);
    panel->ScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(panel->ScrollPosition(), 410);
}

TEST_F(ThumbnailPanelTest, ScrollRangeFollowsTheListFromTheEnd) {
    Open(200, 300);
    for (int i = 1; i <= 9; ++i) Photo("S20240131_000" + std::to_string(i) + ".jpg", MakeFlat(64, 48, kBlue));
    panel->SetFolder(Singles(), true);
    Drain();
    EXPECT_EQ(panel->ScrollPosition(), 990 - 300 + 1);
    Paint();
    EXPECT_EQ(panel->GetItemPath(static_cast<int64_t>(panel->ItemRects().rbegin()->first)),
              Singles() + "/S20240131_0009.jpg");

    // One more at the end: the view keeps its distance from the end.
    panel->AddItem("S20240131_0010.jpg");
    panel->UpdateScrollRange();
    EXPECT_EQ(panel->ScrollPosition(), 1100 - 300 + 1);
    panel->SetScrollPosition(0);
    panel->AddItem("S20240131_0011.jpg");
    panel->UpdateScrollRange();
    EXPECT_EQ(panel->ScrollPosition(), 110);
    panel->ResetScroll();
    EXPECT_EQ(panel->ScrollPosition(), 0);
    panel->ScrollToEnd();
    EXPECT_EQ(panel->ScrollPosition(), 1210 - 300 + 1);
}

TEST_F(ThumbnailPanelTest, RequestsFromOtherThreadsWaitForTheInterfaceThread) {
    Open(200, 300);
    for (int i = 1; i <= 5; ++i) Photo("S20240131_000" + std::to_string(i) + ".jpg", MakeFlat(64, 48, kBlue));
    Show(Singles());
    std::thread worker([this] {
        panel->Model().AddItem("S20240131_0006.jpg");
        panel->RequestUpdateScrollRange();
        panel->RequestScrollToEnd();
        panel->RequestRepaint();
    });
    worker.join();
    EXPECT_EQ(panel->ScrollRangeMaximum(), 550);  // nothing happened on the worker
    Drain();
    EXPECT_EQ(panel->ScrollRangeMaximum(), 660);
    EXPECT_EQ(panel->ScrollPosition(), 660 - 300 + 1);

    // Requests still queued when the panel goes are dropped with it.
    panel->RequestScrollToEnd();
    panel->RequestRepaint();
    panel.reset();
    Drain();
}

TEST_F(ThumbnailPanelTest, FilesRemovedOnDiskLeaveThePanel) {
    Open(200, 300);
    for (int i = 1; i <= 4; ++i) Photo("S20240131_000" + std::to_string(i) + ".jpg", MakeFlat(64, 48, kBlue));
    panel->SetFolder(Singles(), true);
    Drain();
    ASSERT_EQ(panel->ScrollPosition(), 440 - 300 + 1);
    // The watch sets itself up on a thread of its own; a file removed before that is not seen.
    ASSERT_TRUE(SpinUntil([&] { return panel->Model().Watching(); }));
    ASSERT_EQ(::unlink((Singles() + "/S20240131_0004.jpg").c_str()), 0);
    ASSERT_TRUE(SpinUntil([&] { return panel->ScrollRangeMaximum() == 330; }));
    EXPECT_EQ(panel->ScrollPosition(), 330 - 300 + 1);
    Paint();
    EXPECT_EQ(panel->ItemRects().size(), 3u);
}

TEST_F(ThumbnailPanelTest, DoubleClickOpensTheThumbnailUnderThePointerOnly) {
    Open(200, 300);
    Photo("S20240131_0001.jpg", MakeFlat(640, 480, kRed));
    Photo("S20240131_0002.jpg", MakeFlat(640, 480, kGreen));
    Show(Singles());
    Paint();
    DoubleClick(QPoint(100, 60));
    DoubleClick(QPoint(100, 115));  // between the two rows
    DoubleClick(QPoint(10, 60));    // beside the first
    DoubleClick(QPoint(100, 170));
    EXPECT_EQ(opened, (std::vector<std::string>{Singles() + "/S20240131_0001.jpg",
                                                Singles() + "/S20240131_0002.jpg"}));
    EXPECT_TRUE(alerts.Alerts().empty());

    openSucceeds = false;
    DoubleClick(QPoint(100, 60));
    ASSERT_EQ(alerts.Alerts().size(), 1u);
    EXPECT_NE(alerts.Alerts()[0].find("S20240131_0001.jpg"), std::string::npos);
}

TEST_F(ThumbnailPanelTest, MoviesShowTheirFirstPictureWithTheMarker) {
    Open(200, 300);
    ASSERT_TRUE(WriteMovie(Movies() + "/M20240131_0001.avi", MakeFlat(320, 240, kYellow)));
    ASSERT_TRUE(WriteMovie(Movies() + "/M20240131_0002.mp4", MakeFlat(320, 180, kGreen)));
    Show(Movies());
    const QImage shown = Paint();
    ASSERT_EQ(panel->ItemRects().size(), 2u);
    const QRect first = panel->ItemRects().at(0);
    EXPECT_EQ(first, QRect(33, 10, 133, 100));
    EXPECT_TRUE(Near(MeanColour(shown, QRect(first.left() + 60, first.top() + 40, 60, 50)), kYellow));
    // The play marker: blue disc, white triangle, 32 x 32 at the top-left corner.
    const QColor disc = MeanColour(shown, QRect(first.left() + 4, first.top() + 14, 3, 4));
    EXPECT_GT(disc.blue(), disc.red() + 60);
    EXPECT_TRUE(Near(MeanColour(shown, QRect(first.left() + 15, first.top() + 15, 3, 3)), Qt::white, 40));
    EXPECT_EQ(panel->ItemRects().at(1), QRect(11, 120, 177, 100));  // 16:9 in 200: 100 high
}

TEST_F(ThumbnailPanelTest, DamagedFilesAreNeverFatal) {
    Open(200, 300);
    // A damaged movie takes no row: the photo after it moves up.
    WriteFile(Singles() + "/S20240131_0001.avi", "not a movie at all");
    Photo("S20240131_0002.jpg", MakeFlat(640, 480, kRed));
    // A damaged photo keeps its row, empty.
    WriteFile(Singles() + "/S20240131_0003.jpg", std::string("\xff\xd8\xff\xe0 broken", 12));
    Photo("S20240131_0004.jpg", MakeFlat(640, 480, kGreen));
    WriteFile(Singles() + "/S20240131_0005.jpg", "");
    Show(Singles());
    const QImage shown = Paint();
    ASSERT_EQ(panel->ItemRects().size(), 2u);
    EXPECT_EQ(panel->ItemRects().at(1), QRect(33, 10, 133, 100));   // the photo in the movie's place
    EXPECT_EQ(panel->ItemRects().at(3), QRect(33, 230, 133, 100));  // after one empty row
    EXPECT_TRUE(Near(MeanColour(shown, QRect(50, 20, 100, 80)), kRed));
    DoubleClick(QPoint(100, 60));
    DoubleClick(QPoint(100, 170));  // the empty row
    EXPECT_EQ(opened, (std::vector<std::string>{Singles() + "/S20240131_0002.jpg"}));
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(ThumbnailPanelTest, ThumbnailsAreMadeAgainOnlyWhenTheFileChanged) {
    Open(200, 300);
    const std::string path = Photo("S20240131_0001.jpg", MakeFlat(640, 480, kRed));
    Show(Singles());
    Paint();
    const uint64_t made = panel->Loader().MadeCount();
    Paint();
    Paint();
    EXPECT_EQ(panel->Loader().MadeCount(), made);

    // The same name with other pixels (and size) on disk: the new picture shows after the next paint.
    ASSERT_TRUE(WriteJpeg(path, MakeFlat(640, 360, kBlue)));
    const QImage shown = Paint();
    EXPECT_EQ(panel->Loader().MadeCount(), made + 1);
    EXPECT_EQ(panel->ItemRects().at(0), QRect(11, 10, 177, 100));
    EXPECT_TRUE(Near(MeanColour(shown, QRect(20, 30, 160, 60)), kBlue));

    // Another width is another size to make.
    panel->resize(150 + panel->ScrollBar()->width(), 300);
    Drain();
    Paint();
    EXPECT_EQ(panel->Loader().MadeCount(), made + 2);
}

TEST_F(ThumbnailPanelTest, RowsShowPlaceholdersUntilTheirPicturesComeAndCanBeOpenedMeanwhile) {
    Open(200, 300);
    Photo("S20240131_0001.jpg", MakeFlat(1920, 1080, kRed));
    ASSERT_TRUE(WriteMovie(Singles() + "/S20240131_0002.avi", MakeFlat(320, 240, kYellow)));
    Show(Singles());
    // The first paint draws what is ready, which is nothing: a 4:3 box in each row, the movie marked.
    const QImage first = panel->grab().toImage();
    ASSERT_EQ(panel->ItemRects().size(), 2u);
    EXPECT_EQ(panel->ItemRects().at(0), QRect(33, 10, 133, 100));
    EXPECT_FALSE(Near(MeanColour(first, QRect(40, 20, 110, 80)), kRed));
    DoubleClick(QPoint(100, 60));
    EXPECT_EQ(opened, (std::vector<std::string>{Singles() + "/S20240131_0001.jpg"}));
    // Then the pictures, in their own shapes.
    const QImage ready = Paint();
    EXPECT_EQ(panel->ItemRects().at(0), QRect(11, 10, 177, 100));  // 16:9
    EXPECT_TRUE(Near(MeanColour(ready, QRect(20, 20, 160, 80)), kRed));
    EXPECT_TRUE(Near(MeanColour(ready, QRect(80, 140, 60, 50)), kYellow));
}

}  // namespace
}  // namespace orvane::test
