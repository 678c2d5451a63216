#include "widgets/bc_menu.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QSignalSpy>
#include <QStyleOptionMenuItem>

#include "widget_events.h"
#include "widgets/bc_menu_style.h"

namespace orvane {
namespace {

struct Item {
    int id;
    const char* caption;
    const char* image;
};
constexpr Item kRotateItems[] = {{32783, "Rotate 90 CW", "right90.png"},
                                 {32782, "Rotate 90 CCW", "left90.png"},
                                 {32781, "Rotate 180", "180.png"},
                                 {32779, "Flip Vertical", "verz.png"},
                                 {32780, "Flip Horizontal", "horz.png"}};

struct MenuFixture : ::testing::Test {
    MenuFixture() {
        for (const Item& item : kRotateItems)
            menu.AppendMenu(BCMenu::MF_STRING, item.id, QString::fromUtf8(item.caption),
                            QString::fromUtf8(item.image));
    }
    // Moves the mark the way the viewer does: off the previous item, onto the chosen one.
    void MoveCheck(int id) {
        if (checked != 0) menu.SetCheck(checked, false);
        menu.SetCheck(id, true);
        checked = id;
    }
    std::vector<int> CheckedIds() const {
        std::vector<int> ids;
        for (const Item& item : kRotateItems)
            if (menu.IsChecked(item.id) && menu.FindCommand(item.id)->isChecked()) ids.push_back(item.id);
        return ids;
    }
    BCMenu menu;
    int checked = 0;
};

TEST_F(MenuFixture, ItemsCarryTheirCommandCaptionAndPicture) {
    ASSERT_EQ(menu.CommandCount(), 5);
    for (const Item& item : kRotateItems) {
        QAction* action = menu.FindCommand(item.id);
        ASSERT_NE(action, nullptr) << item.id;
        EXPECT_EQ(action->text(), QString::fromUtf8(item.caption));
        EXPECT_TRUE(menu.HasImage(item.id)) << item.image;
        EXPECT_TRUE(action->isEnabled());
    }
    EXPECT_EQ(menu.FindCommand(12345), nullptr);
    EXPECT_EQ(menu.AppendMenu(BCMenu::MF_STRING, 32781, QStringLiteral("again")), nullptr);
    EXPECT_NE(menu.AppendMenu(BCMenu::MF_SEPARATOR, 0, {}), nullptr);
    EXPECT_EQ(menu.CommandCount(), 5);
    QAction* grey = menu.AppendMenu(BCMenu::MF_GRAYED, 40000, QStringLiteral("Grey"));
    ASSERT_NE(grey, nullptr);
    EXPECT_FALSE(grey->isEnabled());
}

TEST_F(MenuFixture, AMissingPictureLeavesTheItemWithoutOne) {
    QAction* action =
        menu.AppendMenu(BCMenu::MF_STRING, 40001, QStringLiteral("No picture"), QStringLiteral("gone.png"));
    ASSERT_NE(action, nullptr);
    EXPECT_FALSE(menu.HasImage(40001));
    EXPECT_FALSE(menu.SetImageFile(32781, QStringLiteral("gone.png")));
    EXPECT_FALSE(menu.HasImage(32781));
    EXPECT_TRUE(menu.SetImageFile(32781, QStringLiteral("180.png")));
    EXPECT_FALSE(menu.grab().isNull());
}

TEST_F(MenuFixture, TheCheckMarkMovesFromItemToItem) {
    EXPECT_TRUE(CheckedIds().empty());
    MoveCheck(32783);
    EXPECT_EQ(CheckedIds(), std::vector<int>{32783});
    MoveCheck(32781);
    EXPECT_EQ(CheckedIds(), std::vector<int>{32781});
    MoveCheck(32780);
    EXPECT_EQ(CheckedIds(), std::vector<int>{32780});
    EXPECT_FALSE(menu.FindCommand(32783)->isCheckable())
        << "an unmarked item is not announced as a check box";
    EXPECT_FALSE(menu.SetCheck(99, true));
    EXPECT_EQ(CheckedIds(), std::vector<int>{32780});
}

TEST_F(MenuFixture, ChoosingAnItemReportsItsCommandAndLeavesTheMarkToTheOwner) {
    QSignalSpy chosen(&menu, &BCMenu::CommandChosen);
    MoveCheck(32779);
    menu.FindCommand(32779)->trigger();
    menu.FindCommand(32782)->trigger();
    ASSERT_EQ(chosen.count(), 2);
    EXPECT_EQ(chosen[0][0].toInt(), 32779);
    EXPECT_EQ(chosen[1][0].toInt(), 32782);
    EXPECT_EQ(CheckedIds(), std::vector<int>{32779});
}

TEST_F(MenuFixture, TheMarkedItemLooksDifferent) {
    QAction* action = menu.FindCommand(32781);
    QRect item = menu.actionGeometry(action);
    ASSERT_FALSE(item.isEmpty());
    QImage before = menu.grab().toImage().copy(item);
    menu.SetCheck(32781, true);
    QImage after = menu.grab().toImage().copy(item);
    EXPECT_NE(before, after);
    // Only the marked item changed.
    QRect other = menu.actionGeometry(menu.FindCommand(32783));
    menu.SetCheck(32781, false);
    EXPECT_EQ(menu.grab().toImage().copy(item), before);
    EXPECT_FALSE(other.intersects(item));
}

TEST_F(MenuFixture, AccessibleNamesAreTheCaptions) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&menu);
    ASSERT_NE(face, nullptr);
    ASSERT_EQ(face->childCount(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(face->child(i)->text(QAccessible::Name), QString::fromUtf8(kRotateItems[i].caption));
    ASSERT_TRUE(menu.SetMenuText(32781, QStringLiteral("旋转180度")));
    EXPECT_EQ(face->child(2)->text(QAccessible::Name), QStringLiteral("旋转180度"));
    EXPECT_FALSE(menu.SetMenuText(1, QStringLiteral("x")));
}

TEST_F(MenuFixture, ItemSizesFollowTheLook) {
    QFontMetrics metrics(menu.font());
    int bar = BCMenuStyle::MenuBarHeight(metrics);
    for (bool xp : {true, false}) {
        menu.SetXPLook(xp);
        const BCMenuStyle* style = menu.ItemStyle();
        EXPECT_EQ(style->ItemHeight(metrics), std::max(bar, xp ? 22 : 19));
        EXPECT_EQ(style->SeparatorHeight(metrics), std::max(bar / 2, xp ? 11 : 9));
        EXPECT_EQ(style->ItemWidth(100), 100 + (xp ? 31 : 33) + 12);
        EXPECT_EQ(menu.actionGeometry(menu.FindCommand(32783)).height(), style->ItemHeight(metrics)) << xp;
        QRect box = style->ImageBox(QRect(0, 10, 120, 24));
        EXPECT_EQ(box.size(), QSize(16, 15));
        EXPECT_EQ(box.top(), 10 + (24 - 15) / 2);
    }
}

}  // namespace
}  // namespace orvane
