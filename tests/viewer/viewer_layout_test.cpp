#include <QAccessible>
#include <QLabel>
#include <QMouseEvent>

#include "media/ui/resource_window.h"
#include "viewer/preview_window.h"
#include "viewer_fixture.h"
#include "widgets/bc_menu.h"
#include "widgets/button_st.h"
#include "widgets/cool_btn.h"
#include "widgets/x_splitter_wnd.h"

namespace orvane::test {
namespace {

TEST(VideoAreaTest, LetterboxesThePictureIntoThePane) {
    const CaptureResolution wide{1920, 1080, 0, false};
    const CaptureResolution classic{640, 480, 0, false};
    EXPECT_EQ(CPreviewWindow::ComputeVideoArea(QRect(0, 0, 1000, 1000), wide),
              QRect(QPoint(0, 219), QPoint(999, 780)));
    EXPECT_EQ(CPreviewWindow::ComputeVideoArea(QRect(0, 0, 1000, 500), classic), QRect(167, 0, 666, 500));
    EXPECT_EQ(CPreviewWindow::ComputeVideoArea(QRect(0, 0, 1000, 500), wide), QRect(56, 0, 888, 500));
    // Before any size is known the picture fills the pane.
    EXPECT_EQ(CPreviewWindow::ComputeVideoArea(QRect(0, 0, 300, 200), CaptureResolution{}),
              QRect(0, 0, 300, 200));
}

class ViewerLayoutTest : public ViewerFixture {
protected:
    void SetUp() override {
        AddCamera();
        Open();
    }
    CViewerLayout& Face() { return viewer->ViewerLayout(); }
    QRect Geometry(int id) { return Face().Control(id)->geometry(); }
};

TEST_F(ViewerLayoutTest, BottomRowFollowsTheWindowAndThePictureTakesTheRest) {
    const QRect settingsBefore = Geometry(viewer_id::kSettings);
    EXPECT_EQ(viewer->PreviewWindow()->geometry().right(), viewer->width() - 1);
    for (QSize size : {QSize(900, 640), QSize(1300, 820)}) {
        viewer->resize(size);
        QCoreApplication::processEvents();
        const int cx = viewer->width();
        const int cy = viewer->height();
        EXPECT_EQ(Geometry(viewer_id::kSettings), settingsBefore);
        EXPECT_EQ(Geometry(viewer_id::kFullScreen), QRect(cx - 32, cy - 28, 32, 28));
        EXPECT_EQ(Geometry(viewer_id::kRotateButton).right() + 1, cx - 32);
        EXPECT_EQ(Geometry(viewer_id::kRotateButton).bottom() + 1, cy);
        EXPECT_EQ(Geometry(viewer_id::kHintLabel).bottom() + 1, cy);
        EXPECT_EQ(Geometry(viewer_id::kPromptLine).bottom() + 1, cy);
        EXPECT_EQ(Geometry(viewer_id::kPromptLine).left(), Geometry(viewer_id::kSeparator).right() + 1 + 10);
        EXPECT_EQ(Geometry(viewer_id::kPromptLine).right() + 1,
                  Geometry(viewer_id::kRotatePlaceholder).left() - 1);
        const QRect picture = Face().MainSplitter()->geometry();
        EXPECT_EQ(picture.top(), settingsBefore.bottom() + 1 + 2);
        EXPECT_EQ(picture.bottom() + 1, Geometry(viewer_id::kHintLabel).top() - 10);
        EXPECT_EQ(picture.width(), cx);
        EXPECT_EQ(Geometry(viewer_id::kPictureArea), picture);
        // The live pane reaches the right edge of the window.
        const QRect pane = viewer->PreviewWindow()->geometry();
        EXPECT_EQ(pane.right(), picture.width() - 1);
        EXPECT_EQ(pane.height(), picture.height());
    }
    // The rotate button is its placeholder widened by 7 pixels on each side.
    EXPECT_EQ(Geometry(viewer_id::kRotateButton).width(), Geometry(viewer_id::kRotateSizer).width() + 14);
}

TEST_F(ViewerLayoutTest, VideoHostKeepsTheCaptureAspectRatio) {
    SetCaptureResolution(1920, 1080);
    CPreviewWindow* preview = viewer->PreviewWindow();
    preview->resize(1000, 1000);
    EXPECT_EQ(preview->VideoHost()->geometry(), QRect(0, 219, 1000, 562));
    SetCaptureResolution(640, 480);
    preview->resize(1000, 500);
    EXPECT_EQ(preview->VideoHost()->geometry(), QRect(167, 0, 666, 500));
}

TEST_F(ViewerLayoutTest, LiveFramesArePaintedAsTurnedRightSideUp) {
    const int64_t seen = FramesSeen();
    ASSERT_TRUE(WaitFor([&] { return FramesSeen() > seen + 5; }));
    // What the pane paints, not only what it holds.
    const QImage picture = viewer->PreviewWindow()->VideoHost()->grab().toImage();
    ASSERT_FALSE(picture.isNull());
    // The test pattern: reddish top half, bluish bottom half.
    const QColor top = picture.pixelColor(picture.width() / 8, picture.height() / 4 + 20);
    const QColor bottom = picture.pixelColor(picture.width() / 8, picture.height() * 3 / 4);
    EXPECT_GT(top.red(), top.blue() + 80);
    EXPECT_GT(bottom.blue(), bottom.red() + 80);

    viewer->OnRotateCommand(viewer_id::kFlipVertical);
    const int64_t flipped = FramesSeen();
    ASSERT_TRUE(WaitFor([&] { return FramesSeen() > flipped + 3; }));
    const QImage turned = viewer->PreviewWindow()->VideoHost()->grab().toImage();
    EXPECT_GT(turned.pixelColor(turned.width() / 8, turned.height() / 4).blue(),
              turned.pixelColor(turned.width() / 8, turned.height() / 4).red() + 80);
}

TEST_F(ViewerLayoutTest, FullScreenHidesTheBarsAndPutsTheColumnBack) {
    ASSERT_FALSE(Face().IsLeftColumnCollapsed());
    const QRect windowed = viewer->geometry();
    viewer->EnterFullScreen();
    EXPECT_TRUE(viewer->IsFullScreen());
    // The window system's full-screen state, which sizes the window to the screen.
    EXPECT_TRUE(viewer->windowState() & Qt::WindowFullScreen);
    ASSERT_TRUE(WaitFor([&] { return viewer->geometry() == viewer->screen()->geometry(); }));
    EXPECT_TRUE(Face().IsLeftColumnCollapsed());
    for (int id : {viewer_id::kTakePhoto, viewer_id::kExit, viewer_id::kFullScreen, viewer_id::kPromptLine,
                   viewer_id::kHintLabel, viewer_id::kRotateButton}) {
        EXPECT_FALSE(Face().Control(id)->isVisible()) << id;
    }
    // The live pane fills the window; the splitter's strip lies beyond its left edge.
    CPreviewWindow* pane = viewer->PreviewWindow();
    EXPECT_EQ(QRect(pane->mapTo(viewer.get(), QPoint(0, 0)), pane->size()),
              QRect(0, 0, viewer->width(), viewer->height()));
    QWidget* strip = Face().MainSplitter()->handle(1);
    EXPECT_LE(strip->mapTo(viewer.get(), QPoint(strip->width(), 0)).x(), 0);
    // A capture action brings the column back, also in full screen, and its strip into view.
    viewer->OnTakePhoto();
    EXPECT_FALSE(Face().IsLeftColumnCollapsed());
    EXPECT_EQ(Face().MainSplitter()->geometry(), QRect(0, 0, viewer->width(), viewer->height()));
    ASSERT_TRUE(WaitFor([&] { return State().shotPending.load() == 0; }));
    Face().CollapseLeftColumn();

    // Full screen again does nothing; a double click anywhere leaves it.
    viewer->EnterFullScreen();
    QWidget* host = viewer->PreviewWindow()->VideoHost();
    const QPointF inside(host->width() / 2.0, host->height() / 2.0);
    QMouseEvent click(QEvent::MouseButtonDblClick, inside, host->mapToGlobal(inside), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(host, &click);
    EXPECT_FALSE(viewer->IsFullScreen());
    EXPECT_FALSE(Face().IsLeftColumnCollapsed());
    EXPECT_TRUE(Face().Control(viewer_id::kTakePhoto)->isVisible());
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_FALSE(viewer->windowState() & Qt::WindowFullScreen);
    EXPECT_TRUE(WaitFor([&] { return viewer->geometry() == windowed; }))
        << viewer->width() << "x" << viewer->height();
}

TEST_F(ViewerLayoutTest, TheWindowOpensOnTheScreenAndKeepsAUsablePicture) {
    const QRect available = viewer->screen()->availableGeometry();
    // Its frame, title bar included, lies on the screen whatever frame the window manager adds.
    for (const QMargins frame : {QMargins(), QMargins(1, 24, 1, 1), QMargins(4, 60, 4, 4)}) {
        const QRect client = Face().InitialGeometry(frame);
        // The position read as the client's, and as the frame's.
        EXPECT_TRUE(available.contains(client.marginsAdded(frame))) << frame.top();
        EXPECT_TRUE(available.contains(client.translated(frame.left(), frame.top()).marginsAdded(frame)))
            << frame.top();
    }
    EXPECT_EQ(viewer->geometry(), Face().InitialGeometry(QMargins()));

    // Shrunk as far as it goes, the picture stays a picture and the bottom row does not run into
    // the toolbar.
    viewer->resize(400, 300);
    QCoreApplication::processEvents();
    EXPECT_EQ(viewer->size(), viewer->minimumSize());
    EXPECT_GE(viewer->width(), 640);
    const QRect picture = Face().MainSplitter()->geometry();
    EXPECT_GE(picture.height(), 320);
    EXPECT_GE(Geometry(viewer_id::kPromptLine).width(), 100);
    EXPECT_GT(Geometry(viewer_id::kPromptLine).left(), Geometry(viewer_id::kHintLabel).right());
}

TEST_F(ViewerLayoutTest, AColumnFoldedBeforeFullScreenStaysFolded) {
    Face().CollapseLeftColumn();
    viewer->EnterFullScreen();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(Button(viewer_id::kExit), &escape);
    EXPECT_FALSE(viewer->IsFullScreen());
    EXPECT_TRUE(Face().IsLeftColumnCollapsed());
    EXPECT_TRUE(viewer->isVisible());
}

TEST_F(ViewerLayoutTest, EveryControlIsNamedByItsCaptionInTheChosenLanguage) {
    auto expectCaptions = [&] {
        const std::pair<int, const char*> buttons[] = {
            {viewer_id::kExit, "ui_view_btn_exit_system"},
            {viewer_id::kTakePhoto, "ui_view_btn_take_a_shot"},
            {viewer_id::kSettings, "ui_view_btn_settings"},
            {viewer_id::kAbout, "ui_view_btn_about"},
            {viewer_id::kFullScreen, "ui_view_btn_full_screen"},
            {viewer_id::kRecording, "ui_view_btn_take_recording"},
            {viewer_id::kTimedShot, "ui_view_btn_take_timed_shot"},
            {viewer_id::kRotateButton, "ui_view_popup_btn_flip"},
        };
        for (const auto& [id, key] : buttons) {
            const QString caption = QString::fromStdString(Text(key, "?"));
            QAbstractButton* button = Button(id);
            EXPECT_EQ(button->text(), caption) << key;
            EXPECT_EQ(button->accessibleName(), caption) << key;
        }
        auto* hint = static_cast<QLabel*>(Face().Control(viewer_id::kHintLabel));
        EXPECT_EQ(hint->text().toStdString(), Text("ui_view_lab_prompt", "?"));
        EXPECT_EQ(hint->accessibleName(), hint->text());
        EXPECT_EQ(viewer->windowTitle().toStdString(), Text("ui_dlg_viewer", "?"));
        BCMenu& menu = Face().RotateButton()->Menu();
        EXPECT_EQ(menu.FindCommand(viewer_id::kRotateRight90)->text().toStdString(),
                  Text("ui_view_menu_rotate_90_bycw", "?"));
        EXPECT_EQ(menu.FindCommand(viewer_id::kFlipHorizontal)->text().toStdString(),
                  Text("ui_view_menu_flip_horizontal", "?"));
    };
    expectCaptions();
    const QString english = Button(viewer_id::kTakePhoto)->text();

    CSettingParam param = settings.GetUsingParam();
    param.language = 1;  // Simplified Chinese
    settings.SetUsingParam(param);
    viewer->LoadCaptions();
    expectCaptions();
    EXPECT_NE(Button(viewer_id::kTakePhoto)->text(), english);
}

TEST_F(ViewerLayoutTest, ToolbarButtonsShowTheirPictures) {
    for (int id : {viewer_id::kSettings, viewer_id::kAbout, viewer_id::kTakePhoto, viewer_id::kTimedShot,
                   viewer_id::kRecording, viewer_id::kExit, viewer_id::kFullScreen}) {
        auto* button = qobject_cast<CButtonST*>(Button(id));
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(button->HasImage()) << id;
        EXPECT_FALSE(button->autoDefault()) << id;
    }
    EXPECT_TRUE(Face().RotateButton()->HasImage());
    EXPECT_EQ(Face().RotateButton()->Menu().CommandCount(), 5);
    EXPECT_TRUE(Face().MainSplitter()->HasImages());
    EXPECT_EQ(Face().ResourceWindow()->BrowserView(), Face().BrowserView());
}

}  // namespace
}  // namespace orvane::test
