#include "widgets/cool_btn.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QKeyEvent>
#include <QSignalSpy>

#include "widget_events.h"

namespace orvane {
namespace {

struct CoolFixture : ::testing::Test {
    CoolFixture() {
        window.resize(400, 300);
        window.move(100, 100);
        window.show();
        button = new CCoolBtn;
        EXPECT_TRUE(button->Create(QStringLiteral("Flip"), QRect(20, 200, 84, 24), &window, 1109));
        button->SetImageFile(QStringLiteral("rotate.png"));
        button->Menu().AppendMenu(BCMenu::MF_STRING, 32783, QStringLiteral("Rotate 90 CW"),
                                  QStringLiteral("right90.png"));
        button->Menu().AppendMenu(BCMenu::MF_STRING, 32781, QStringLiteral("Rotate 180"),
                                  QStringLiteral("180.png"));
        QApplication::processEvents();
    }
    ~CoolFixture() override { button->Menu().hide(); }
    QWidget window;
    CCoolBtn* button;
};

TEST_F(CoolFixture, CreateMakesAVisibleTabStopChildWithItsId) {
    EXPECT_EQ(button->parentWidget(), &window);
    EXPECT_EQ(button->geometry(), QRect(20, 200, 84, 24));
    EXPECT_EQ(button->ControlId(), 1109);
    EXPECT_TRUE(button->isVisible());
    EXPECT_EQ(button->focusPolicy(), Qt::StrongFocus);
    EXPECT_EQ(button->accessibleName(), QStringLiteral("Flip"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), QStringLiteral("Flip"));
    CCoolBtn orphan;
    EXPECT_FALSE(orphan.Create(QStringLiteral("x"), QRect(0, 0, 10, 10), nullptr, 1));
}

TEST_F(CoolFixture, FaceHasPictureTextAndDropDownZone) {
    ASSERT_TRUE(button->HasImage());
    EXPECT_EQ(button->DropDownRect(), QRect(84 - 2 - 16, 2, 16, 20));
    EXPECT_EQ(button->ImageRect(), QRect(3, 3, 18, 18));
    EXPECT_EQ(button->TextRect().left(), 3 + 18 + 2);
    EXPECT_EQ(button->TextRect().right(), 84 - 2 - 16 - 1);

    // Without its picture the caption starts inside the focus area.
    EXPECT_FALSE(button->SetImageFile(QStringLiteral("missing.png")));
    EXPECT_FALSE(button->HasImage());
    EXPECT_TRUE(button->ImageRect().isEmpty());
    EXPECT_EQ(button->TextRect().left(), 4);
    EXPECT_FALSE(test::Render(button).isNull());
}

TEST_F(CoolFixture, AClickOpensTheMenuAndTheChoiceReachesTheOwner) {
    QSignalSpy chosen(button, &CCoolBtn::CommandChosen);
    QImage closed = test::Render(button);
    test::Click(button, {10, 10});
    EXPECT_TRUE(button->IsMenuOpen());
    EXPECT_TRUE(button->Menu().isVisible());
    EXPECT_TRUE(button->hasFocus());
    // The drop-down zone is drawn sunken while the menu is open.
    QRect zone = button->DropDownRect();
    EXPECT_NE(test::Render(button).copy(zone), closed.copy(zone));

    button->Menu().FindCommand(32781)->trigger();
    button->Menu().hide();
    EXPECT_FALSE(button->IsMenuOpen());
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen[0][0].toInt(), 32781);
}

TEST_F(CoolFixture, TheKeyboardOpensTheMenuToo) {
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(button, &space);
    EXPECT_TRUE(button->IsMenuOpen());
    button->Menu().hide();
    QKeyEvent altDown(QEvent::KeyPress, Qt::Key_Down, Qt::AltModifier);
    QApplication::sendEvent(button, &altDown);
    EXPECT_TRUE(button->IsMenuOpen());
}

TEST_F(CoolFixture, TheMenuOpensBelowUnlessItWouldLeaveTheScreen) {
    QPoint topLeft = button->mapToGlobal(QPoint(0, 0));
    int bottom = topLeft.y() + button->height();
    QRect tall(0, 0, 2000, bottom + 200);
    EXPECT_EQ(button->MenuPosition(tall, 150), QPoint(topLeft.x(), bottom));
    EXPECT_EQ(button->MenuPosition(tall, 200), QPoint(topLeft.x(), bottom));
    EXPECT_EQ(button->MenuPosition(tall, 201), QPoint(topLeft.x(), topLeft.y() - 201));
}

TEST_F(CoolFixture, AnEmptyMenuDoesNotOpen) {
    CCoolBtn bare;
    bare.Create(QStringLiteral("Bare"), QRect(150, 10, 80, 24), &window, 2);
    test::Click(&bare, {5, 5});
    EXPECT_FALSE(bare.IsMenuOpen());
}

}  // namespace
}  // namespace orvane
