#include "widgets/button_st.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QMenu>
#include <QSignalSpy>

#include "widget_events.h"

namespace orvane {
namespace {

using test::Click;
using test::Enter;
using test::Leave;
using test::Move;
using test::Render;

struct ButtonFixture : ::testing::Test {
    ButtonFixture() {
        window.resize(300, 120);
        button = new CButtonST(QStringLiteral("Take a Photo"), &window);
        button->setGeometry(40, 10, 60, 40);
        button->setFocusPolicy(Qt::NoFocus);  // focus has a colour of its own
        button->SetColor(CButtonST::BTNST_COLOR_BK_IN, QColor(250, 30, 30));
        button->SetColor(CButtonST::BTNST_COLOR_BK_OUT, QColor(90, 90, 90));
        window.show();
        QApplication::processEvents();
    }
    QRgb Inside() { return Render(button).pixel(2, 4); }  // inside the frame, clear of the text

    QWidget window;
    CButtonST* button;
};

TEST(ButtonColorTest, LightenedRaisesEveryComponentByTheSmallestRoom) {
    EXPECT_EQ(CButtonST::Lightened(QColor(240, 240, 240)), QColor(255, 255, 255));
    EXPECT_EQ(CButtonST::Lightened(QColor(100, 200, 230)), QColor(125, 225, 255));
    EXPECT_EQ(CButtonST::Lightened(QColor(10, 20, 30)), QColor(40, 50, 60));
    EXPECT_EQ(CButtonST::Lightened(QColor(255, 0, 0)), QColor(255, 0, 0));
    EXPECT_EQ(CButtonST::Lightened(QColor(225, 226, 100)), QColor(254, 255, 129));
}

TEST(ButtonColorTest, ColoursStartFromThePaletteAndRefuseUnknownIndexes) {
    CButtonST button;
    QColor face = button.palette().color(QPalette::Button);
    QColor text = button.palette().color(QPalette::ButtonText);
    EXPECT_EQ(button.GetColor(CButtonST::BTNST_COLOR_BK_IN), face);
    EXPECT_EQ(button.GetColor(CButtonST::BTNST_COLOR_BK_FOCUS), face);
    EXPECT_EQ(button.GetColor(CButtonST::BTNST_COLOR_FG_OUT), text);
    EXPECT_FALSE(button.SetColor(CButtonST::BTNST_MAX_COLORS, Qt::red));
    EXPECT_FALSE(button.SetColor(-1, Qt::red));
    button.LightenInBackground();
    EXPECT_EQ(button.GetColor(CButtonST::BTNST_COLOR_BK_IN), CButtonST::Lightened(face));
    EXPECT_EQ(button.GetColor(CButtonST::BTNST_COLOR_BK_OUT), face);
}

TEST_F(ButtonFixture, HoverPaintsTheInBackgroundUntilTheMouseLeaves) {
    EXPECT_EQ(Inside(), qRgb(90, 90, 90));
    Enter(button, {5, 5});
    EXPECT_TRUE(button->IsHot());
    EXPECT_EQ(Inside(), qRgb(250, 30, 30));
    Leave(button);
    EXPECT_FALSE(button->IsHot());
    EXPECT_EQ(Inside(), qRgb(90, 90, 90));

    // A move over the button makes it hot even when the enter notification was missed.
    Move(button, {6, 6});
    EXPECT_TRUE(button->IsHot());
}

TEST_F(ButtonFixture, DisablingOrLosingFocusCoolsAHotButton) {
    Enter(button, {5, 5});
    button->setEnabled(false);
    EXPECT_FALSE(button->IsHot());
    button->setEnabled(true);
    Enter(button, {5, 5});
    ASSERT_TRUE(button->IsHot());
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(button, &out);
    EXPECT_FALSE(button->IsHot());

    // A disabled button does not light up.
    button->setEnabled(false);
    Enter(button, {5, 5});
    EXPECT_FALSE(button->IsHot());
}

TEST_F(ButtonFixture, FramedLookDrawsARaisedBorderAndFlatOnlyWhenHot) {
    button->SetFlat(false);
    QImage framed = Render(button);
    EXPECT_EQ(framed.pixel(0, 0), button->palette().color(QPalette::Light).rgb());
    EXPECT_EQ(framed.pixel(59, 39), button->palette().color(QPalette::Shadow).rgb());
    button->SetFlat(true);
    EXPECT_EQ(Render(button).pixel(0, 0), qRgb(90, 90, 90));
    Enter(button, {5, 5});
    EXPECT_EQ(Render(button).pixel(0, 0), button->palette().color(QPalette::Light).rgb());
}

TEST_F(ButtonFixture, MouseMovesOverAPictureButtonReachTheOwnerInItsCoordinates) {
    QSignalSpy moves(button, &CButtonST::MouseMovedOver);
    Move(button, {5, 6});
    EXPECT_EQ(moves.count(), 0) << "a button without picture file does not forward";

    button->SetImageFile(QStringLiteral("TakeAShot.png"));
    Move(button, {5, 6});
    ASSERT_EQ(moves.count(), 1);
    EXPECT_EQ(moves[0][0].value<CButtonST*>(), button);
    EXPECT_EQ(moves[0][1].toPoint(), QPoint(45, 16));

    QWidget* inner = new QWidget(&window);
    inner->setGeometry(20, 5, 200, 100);
    button->setParent(inner);
    button->setGeometry(10, 10, 60, 40);
    button->show();
    button->SetOwner(&window);
    Move(button, {1, 2});
    ASSERT_EQ(moves.count(), 2);
    EXPECT_EQ(moves[1][1].toPoint(), QPoint(31, 17));
}

TEST_F(ButtonFixture, FastClicksCountAsSeparateClicks) {
    QSignalSpy clicks(button, &QPushButton::clicked);
    QPoint at(10, 10);
    test::Press(button, at);
    test::Release(button, at);
    test::SendMouse(button, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
    test::Release(button, at);
    EXPECT_EQ(clicks.count(), 2);
}

TEST_F(ButtonFixture, CheckBoxModeTogglesAndLooksPressedWhileChecked) {
    button->SetCheckBox(true);
    Click(button, {10, 10});
    EXPECT_TRUE(button->isChecked());
    EXPECT_TRUE(button->IsPressedLook());
    EXPECT_EQ(Inside(), qRgb(250, 30, 30));
    Click(button, {10, 10});
    EXPECT_FALSE(button->isChecked());
    EXPECT_FALSE(button->IsPressedLook());
}

TEST_F(ButtonFixture, AMissingPictureLeavesAPlainTextButton) {
    CButtonST plain(QStringLiteral("Take a Photo"), &window);
    plain.setGeometry(120, 10, 60, 40);
    plain.SetColor(CButtonST::BTNST_COLOR_BK_OUT, QColor(90, 90, 90));
    plain.show();

    EXPECT_FALSE(button->SetImageFile(QStringLiteral("NoSuchPicture.png")));
    EXPECT_FALSE(button->HasImage());
    EXPECT_EQ(button->ImageFile(), QStringLiteral("NoSuchPicture.png"));
    EXPECT_EQ(Render(button), Render(&plain));

    EXPECT_TRUE(button->SetImageFile(QStringLiteral("TakeAShot.png")));
    EXPECT_TRUE(button->HasImage());
    EXPECT_NE(Render(button), Render(&plain));

    // A file that exists but is no picture is the same as a missing one.
    QString notPicture = QString::fromUtf8(__FILE__);
    EXPECT_FALSE(button->SetImageFile(notPicture));
    EXPECT_EQ(Render(button), Render(&plain));
}

TEST_F(ButtonFixture, TheCaptionIsTheAccessibleNameWithOrWithoutPicture) {
    button->SetImageFile(QStringLiteral("TakeAShot.png"));
    button->SetCaption(QStringLiteral("Start Recording"));
    EXPECT_EQ(button->accessibleName(), QStringLiteral("Start Recording"));
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(button);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->text(QAccessible::Name), QStringLiteral("Start Recording"));
    EXPECT_EQ(button->text(), QStringLiteral("Start Recording"));
}

TEST_F(ButtonFixture, AButtonMenuOpensOnClickAndReportsTheChosenCommand) {
    QMenu menu;
    QAction* item = menu.addAction(QStringLiteral("Rotate 180"));
    item->setData(32781);
    button->SetButtonMenu(&menu);
    QSignalSpy commands(button, &CButtonST::MenuCommand);
    test::Press(button, {10, 10});
    EXPECT_TRUE(menu.isVisible());
    item->trigger();
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands[0][0].toInt(), 32781);
    menu.hide();
}

}  // namespace
}  // namespace orvane
