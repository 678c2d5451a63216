#include "widgets/x_splitter_wnd.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QSplitterHandle>

#include "widget_events.h"

namespace orvane {
namespace {

using test::Press;
using test::Release;

struct SplitterFixture : ::testing::Test {
    void Build(int rows, int cols, int mode) {
        window.resize(420, 320);
        splitter = new CXSplitterWnd;
        ASSERT_TRUE(splitter->SetCollapseMode(mode));
        ASSERT_TRUE(splitter->CreateStatic(&window, rows, cols));
        first = new QWidget;
        second = new QWidget;
        ASSERT_TRUE(splitter->CreateView(0, 0, first, QSize(100, 100)));
        ASSERT_TRUE(splitter->CreateView(rows == 1 ? 0 : 1, rows == 1 ? 1 : 0, second, QSize(300, 300)));
        if (rows == 1)
            splitter->SetColumnInfo(0, 100, 0);
        else
            splitter->SetRowInfo(0, 100, 0);
        splitter->setGeometry(0, 0, 409, 300);
        window.show();
        QApplication::processEvents();
    }
    QSplitterHandle* Bar() { return splitter->handle(1); }
    // The button's centre in bar coordinates.
    QPoint ButtonCentre() { return splitter->ButtonRect().center() - Bar()->pos(); }
    QList<int> Sizes() { return splitter->sizes(); }

    QWidget window;
    CXSplitterWnd* splitter = nullptr;
    QWidget* first = nullptr;
    QWidget* second = nullptr;
};

TEST(SplitterShapeTest, OnlyTwoPaneShapesAreCreatedOnce) {
    CXSplitterWnd splitter;
    EXPECT_FALSE(splitter.CreateStatic(nullptr, 2, 2));
    EXPECT_FALSE(splitter.CreateStatic(nullptr, 1, 1));
    EXPECT_TRUE(splitter.CreateStatic(nullptr, 1, 2));
    EXPECT_FALSE(splitter.CreateStatic(nullptr, 1, 2));
    EXPECT_TRUE(splitter.HasImages());
    EXPECT_FALSE(splitter.SetCollapseMode(0));
    EXPECT_FALSE(splitter.SetCollapseMode(5));
    EXPECT_EQ(splitter.GetCollapseMode(), 1);
    EXPECT_FALSE(splitter.CreateView(0, 2, new QWidget(&splitter), QSize()));
    EXPECT_FALSE(splitter.CreateView(0, 0, nullptr, QSize()));
    EXPECT_TRUE(splitter.CreateView(0, 0, new QWidget, QSize(10, 10)));
    EXPECT_FALSE(splitter.CreateView(0, 0, new QWidget(&splitter), QSize(10, 10))) << "pane already taken";
}

TEST_F(SplitterFixture, CollapseFoldsTheLeftColumnAwayAndRestoreBringsItBack) {
    Build(1, 2, 1);
    ASSERT_EQ(Sizes(), (QList<int>{100, 300}));
    QSignalSpy changes(splitter, &CXSplitterWnd::CollapsedChanged);
    EXPECT_EQ(splitter->PictureId(), 142);

    EXPECT_TRUE(splitter->Collapse());
    EXPECT_TRUE(splitter->IsCollapsed());
    EXPECT_EQ(Sizes(), (QList<int>{0, 400}));
    EXPECT_EQ(splitter->PictureId(), 143);
    EXPECT_FALSE(splitter->Collapse()) << "already collapsed";

    EXPECT_TRUE(splitter->Restore());
    EXPECT_FALSE(splitter->IsCollapsed());
    EXPECT_EQ(Sizes(), (QList<int>{100, 300}));
    EXPECT_FALSE(splitter->Restore()) << "not collapsed";
    EXPECT_EQ(changes.count(), 2);
}

TEST_F(SplitterFixture, TheOtherDirectionGivesColumnZeroEverything) {
    Build(1, 2, 1);
    splitter->SwitchDirection();
    EXPECT_EQ(splitter->GetCollapseMode(), 2);
    EXPECT_EQ(splitter->PictureId(), 143);
    ASSERT_TRUE(splitter->Collapse());
    EXPECT_EQ(Sizes(), (QList<int>{400, 0}));
    EXPECT_EQ(splitter->PictureId(), 142);
    ASSERT_TRUE(splitter->Restore());
    EXPECT_EQ(Sizes(), (QList<int>{100, 300}));
    splitter->SwitchDirection();
    EXPECT_EQ(splitter->GetCollapseMode(), 1);
}

TEST_F(SplitterFixture, TheButtonSitsOnTheBarHalfwayDown) {
    Build(1, 2, 1);
    QRect bar = Bar()->geometry();
    EXPECT_EQ(bar, QRect(100, 0, 9, 300));
    EXPECT_EQ(splitter->ButtonRect(), QRect(101, 125, 8, 50));
    EXPECT_TRUE(splitter->HitTestButton({105, 150}));
    EXPECT_TRUE(splitter->HitTestButton({101, 125}));
    EXPECT_FALSE(splitter->HitTestButton({105, 124}));
    EXPECT_FALSE(splitter->HitTestButton({105, 175}));
    EXPECT_FALSE(splitter->HitTestButton({100, 150}));
    splitter->Collapse();
    EXPECT_EQ(splitter->ButtonRect(), QRect(1, 125, 8, 50)) << "the button follows the bar";
}

TEST_F(SplitterFixture, ClicksOnTheButtonToggleAndSwitchTheDirection) {
    Build(1, 2, 1);
    Press(Bar(), ButtonCentre());
    Release(Bar(), ButtonCentre());
    EXPECT_TRUE(splitter->IsCollapsed());
    EXPECT_EQ(Sizes()[0], 0);
    Press(Bar(), ButtonCentre());
    Release(Bar(), ButtonCentre());
    EXPECT_FALSE(splitter->IsCollapsed());
    EXPECT_EQ(Sizes()[0], 100);

    Press(Bar(), ButtonCentre(), Qt::RightButton);
    Release(Bar(), ButtonCentre(), Qt::RightButton);
    EXPECT_EQ(splitter->GetCollapseMode(), 2);
    EXPECT_FALSE(splitter->IsCollapsed());

    // Elsewhere on the bar a click is an ordinary bar click.
    Press(Bar(), {4, 10});
    Release(Bar(), {4, 10});
    EXPECT_FALSE(splitter->IsCollapsed());
    EXPECT_EQ(Sizes()[0], 100);
}

TEST_F(SplitterFixture, AFastDoubleClickTogglesTwice) {
    Build(1, 2, 1);
    Press(Bar(), ButtonCentre());
    Release(Bar(), ButtonCentre());
    test::SendMouse(Bar(), QEvent::MouseButtonDblClick, ButtonCentre(), Qt::LeftButton, Qt::LeftButton);
    Release(Bar(), ButtonCentre());
    EXPECT_FALSE(splitter->IsCollapsed());
    EXPECT_EQ(Sizes()[0], 100);
}

TEST_F(SplitterFixture, TheButtonIsHotWhileThePointerRestsOnIt) {
    Build(1, 2, 1);
    QRect button = splitter->ButtonRect().translated(-Bar()->pos());
    auto centreColour = [&] {
        return QColor(test::Render(Bar()).pixel(button.left() + 1, button.top() + 5));
    };
    QColor cold = centreColour();
    EXPECT_GT(cold.green(), cold.red()) << "normal frame is green";

    test::Move(Bar(), ButtonCentre());
    EXPECT_TRUE(splitter->IsButtonHot());
    QColor hot = centreColour();
    EXPECT_GT(hot.red(), hot.green()) << "hot frame is red";

    test::Move(Bar(), ButtonCentre(), Qt::LeftButton);
    EXPECT_FALSE(splitter->IsButtonHot()) << "not hot while the left button is down";
    test::Move(Bar(), ButtonCentre());
    EXPECT_TRUE(splitter->IsButtonHot());
    test::Move(Bar(), {4, 10});
    EXPECT_FALSE(splitter->IsButtonHot());
    test::Move(Bar(), ButtonCentre());
    test::Leave(Bar());
    EXPECT_FALSE(splitter->IsButtonHot());
    EXPECT_EQ(centreColour(), cold);
}

TEST_F(SplitterFixture, RowModesActOnRowZero) {
    Build(2, 1, 3);
    ASSERT_EQ(Sizes(), (QList<int>{100, 191}));
    EXPECT_EQ(splitter->PictureId(), 141);
    EXPECT_EQ(splitter->ButtonRect(), QRect(409 / 2 - 25, 101, 50, 8));
    ASSERT_TRUE(splitter->Collapse());
    EXPECT_EQ(Sizes(), (QList<int>{0, 291}));
    EXPECT_EQ(splitter->PictureId(), 139);
    ASSERT_TRUE(splitter->Restore());
    splitter->SwitchDirection();
    EXPECT_EQ(splitter->PictureId(), 139);
    ASSERT_TRUE(splitter->Collapse());
    EXPECT_EQ(Sizes(), (QList<int>{291, 0}));
    EXPECT_EQ(splitter->PictureId(), 141);
    ASSERT_TRUE(splitter->Restore());
    EXPECT_EQ(Sizes(), (QList<int>{100, 191}));

    // A column mode has nothing to act on in a splitter of rows.
    splitter->SetCollapseMode(1);
    EXPECT_FALSE(splitter->Collapse());
    EXPECT_TRUE(splitter->ButtonRect().isEmpty());
}

TEST_F(SplitterFixture, ResizingKeepsTheCollapsedLayout) {
    Build(1, 2, 2);
    ASSERT_TRUE(splitter->Collapse());
    splitter->resize(609, 300);
    QApplication::processEvents();
    EXPECT_EQ(Sizes(), (QList<int>{600, 0}));
    ASSERT_TRUE(splitter->Restore());
    EXPECT_EQ(Sizes()[0], 100);

    splitter->SetCollapseMode(1);
    ASSERT_TRUE(splitter->Collapse());
    splitter->resize(409, 300);
    QApplication::processEvents();
    EXPECT_EQ(Sizes(), (QList<int>{0, 400}));
}

TEST_F(SplitterFixture, DraggingTheBarOpenEndsTheCollapsedState) {
    Build(1, 2, 1);
    ASSERT_TRUE(splitter->Collapse());
    QPoint grip(4, 10);
    Press(Bar(), grip);
    test::Move(Bar(), grip + QPoint(150, 0), Qt::LeftButton);
    Release(Bar(), grip + QPoint(150, 0));
    EXPECT_GT(Sizes()[0], 100);
    EXPECT_FALSE(splitter->IsCollapsed());
    EXPECT_EQ(splitter->PictureId(), 142);
}

TEST_F(SplitterFixture, RestoringAColumnThatHadNoWidthUsesItsIdealWidth) {
    Build(1, 2, 1);
    splitter->setSizes({0, 400});
    ASSERT_TRUE(splitter->Collapse());
    ASSERT_TRUE(splitter->Restore());
    EXPECT_EQ(Sizes(), (QList<int>{100, 300}));
}

TEST_F(SplitterFixture, APressOnTheButtonDoesNotDragTheBar) {
    Build(1, 2, 1);
    Press(Bar(), ButtonCentre());
    test::Move(Bar(), ButtonCentre() + QPoint(120, 0), Qt::LeftButton);
    Release(Bar(), ButtonCentre() + QPoint(120, 0));
    EXPECT_TRUE(splitter->IsCollapsed());
    EXPECT_EQ(Sizes()[0], 0);
}

}  // namespace
}  // namespace orvane
