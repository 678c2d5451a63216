#include "widgets/xp_style_button_st.h"

#include <gtest/gtest.h>

#include <QStyleFactory>

#include "widget_events.h"

namespace orvane {
namespace {

using test::Render;

struct XPButtonFixture : ::testing::Test {
    XPButtonFixture() {
        window.resize(200, 100);
        button = new CXPStyleButtonST(QStringLiteral("Settings"), &window);
        button->setGeometry(10, 10, 56, 39);
        button->setFocusPolicy(Qt::NoFocus);
        button->SetThemeHelper(&theme);
        window.show();
        QApplication::processEvents();
    }
    QWidget window;
    CThemeHelperST theme;
    CXPStyleButtonST* button;
};

TEST_F(XPButtonFixture, StyleStateIsTheFirstMatchOfDisabledPressedHotDefault) {
    EXPECT_EQ(button->ThemeStateId(), CThemeHelperST::PBS_NORMAL);
    button->setDefault(true);
    EXPECT_EQ(button->ThemeStateId(), CThemeHelperST::PBS_DEFAULTED);
    test::Enter(button, {4, 4});
    EXPECT_EQ(button->ThemeStateId(), CThemeHelperST::PBS_HOT);
    button->setDown(true);
    EXPECT_EQ(button->ThemeStateId(), CThemeHelperST::PBS_PRESSED);
    button->setEnabled(false);
    EXPECT_EQ(button->ThemeStateId(), CThemeHelperST::PBS_DISABLED);
}

TEST_F(XPButtonFixture, ThemedDrawingNeedsAHelperAndAThemedStyle) {
    EXPECT_TRUE(theme.IsAppThemed(button)) << button->style()->name().toStdString();
    EXPECT_TRUE(button->IsThemedDrawing());

    theme.SetThemingEnabled(false);
    EXPECT_FALSE(button->IsThemedDrawing());
    theme.SetThemingEnabled(true);

    std::unique_ptr<QStyle> classic(QStyleFactory::create(QStringLiteral("Windows")));
    ASSERT_NE(classic, nullptr);
    theme.SetStyle(classic.get());
    EXPECT_FALSE(button->IsThemedDrawing()) << "the classic style stands for themes being off";
    theme.SetStyle(nullptr);

    button->SetThemeHelper(nullptr);
    EXPECT_FALSE(button->IsThemedDrawing());
}

TEST_F(XPButtonFixture, ThemedFaceReplacesTheKitFrame) {
    button->SetFlat(false);
    QImage themed = Render(button);
    theme.SetThemingEnabled(false);
    QImage framed = Render(button);
    EXPECT_NE(themed, framed);
    // The kit's frame: highlight at the top-left corner, dark shadow at the bottom-right one.
    EXPECT_EQ(framed.pixel(0, 0), button->palette().color(QPalette::Light).rgb());
    EXPECT_EQ(framed.pixel(55, 38), button->palette().color(QPalette::Shadow).rgb());
}

TEST_F(XPButtonFixture, PicturesDrawInBothLooksAndTheToolbarLookPaints) {
    ASSERT_TRUE(button->SetImageFile(QStringLiteral("Setting.png")));
    QImage withPicture = Render(button);
    button->SetImageFile({});
    EXPECT_NE(withPicture, Render(button));

    button->SetImageFile(QStringLiteral("Setting.png"));
    button->DrawAsToolbar(true);
    EXPECT_TRUE(button->IsToolbarLook());
    QImage toolbar = Render(button);
    EXPECT_FALSE(toolbar.isNull());
    // The picture sits in the middle of the face in either look.
    EXPECT_NE(toolbar.pixel(28, 19), toolbar.pixel(1, 1));
}

}  // namespace
}  // namespace orvane
