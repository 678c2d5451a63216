#include "widgets/normal_splitter_wnd.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>

namespace orvane {

namespace {

TEST(NormalSplitterTest, RowZeroKeepsItsHeightAndTheLastRowTakesTheRest) {
    QWidget window;
    window.resize(300, 400);
    CNormalSplitterWnd splitter;
    ASSERT_TRUE(splitter.CreateStatic(&window, 2, 1));
    EXPECT_EQ(splitter.orientation(), Qt::Vertical);
    ASSERT_TRUE(splitter.CreateView(0, 0, new QWidget, QSize(200, 120)));
    ASSERT_TRUE(splitter.CreateView(1, 0, new QWidget, QSize(200, 240)));
    EXPECT_TRUE(splitter.SetRowInfo(0, 120, 0));
    EXPECT_FALSE(splitter.SetColumnInfo(0, 10, 0)) << "no columns to size";
    EXPECT_FALSE(splitter.SetRowInfo(2, 10, 0));
    splitter.setGeometry(0, 0, 300, 369);
    window.show();
    QApplication::processEvents();
    EXPECT_EQ(splitter.sizes(), (QList<int>{120, 369 - 120 - splitter.handleWidth()}));

    splitter.resize(300, 500);
    QApplication::processEvents();
    EXPECT_EQ(splitter.sizes()[0], 120);
    int current = 0, minimum = -1;
    ASSERT_TRUE(splitter.GetRowInfo(0, current, minimum));
    EXPECT_EQ(current, 120);
    EXPECT_EQ(minimum, 0);
    EXPECT_EQ(splitter.GetPane(2, 0), nullptr);
    EXPECT_NE(splitter.GetPane(1, 0), nullptr);
}

TEST(NormalSplitterTest, TheActivePaneIsTheOneWithTheFocus) {
    QWidget window;
    window.resize(300, 300);
    CNormalSplitterWnd splitter;
    ASSERT_TRUE(splitter.CreateStatic(&window, 2, 1));
    auto* top = new QWidget;
    auto* edit = new QLineEdit(top);
    auto* bottom = new QLineEdit;
    splitter.CreateView(0, 0, top, QSize(100, 100));
    splitter.CreateView(1, 0, bottom, QSize(100, 100));
    window.show();
    window.activateWindow();
    QApplication::processEvents();
    if (!window.isActiveWindow()) GTEST_SKIP() << "the platform gives no active window";

    auto* outside = new QLineEdit(&window);
    outside->move(0, 250);
    outside->show();
    outside->setFocus();
    EXPECT_EQ(splitter.GetActivePane(), nullptr);
    edit->setFocus();
    int row = -1, col = -1;
    EXPECT_EQ(splitter.GetActivePane(&row, &col), top);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(col, 0);
    ASSERT_TRUE(splitter.SetActivePane(1, 0));
    EXPECT_TRUE(bottom->hasFocus());
    EXPECT_EQ(splitter.GetActivePane(&row, &col), bottom);
    EXPECT_EQ(row, 1);
    EXPECT_FALSE(splitter.SetActivePane(0, 1));
}

}  // namespace
}  // namespace orvane
