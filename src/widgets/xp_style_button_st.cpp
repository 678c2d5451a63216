#include "widgets/xp_style_button_st.h"

#include <QPainter>

namespace orvane {

CXPStyleButtonST::CXPStyleButtonST(QWidget* parent) : CButtonST(parent) {}

CXPStyleButtonST::CXPStyleButtonST(const QString& caption, QWidget* parent) : CButtonST(caption, parent) {}

void CXPStyleButtonST::SetThemeHelper(CThemeHelperST* helper) {
    themeHelper = helper;
    update();
}

void CXPStyleButtonST::DrawAsToolbar(bool toolbar) {
    toolbarLook = toolbar;
    update();
}

bool CXPStyleButtonST::IsThemedDrawing() const { return themeHelper && themeHelper->IsAppThemed(this); }

int CXPStyleButtonST::ThemeStateId() const {
    if (!isEnabled()) return CThemeHelperST::PBS_DISABLED;
    if (IsPressedLook()) return CThemeHelperST::PBS_PRESSED;
    if (IsHot()) return CThemeHelperST::PBS_HOT;
    if (isDefault()) return CThemeHelperST::PBS_DEFAULTED;
    return CThemeHelperST::PBS_NORMAL;
}

bool CXPStyleButtonST::PaintThemedBackground(QPainter& painter) {
    if (!IsThemedDrawing()) return false;
    themeHelper->DrawThemeParentBackground(this, painter, rect());
    // The state colours tint the style's face, so a lightened mouse-over colour shows in this look too.
    QColor face = (IsHot() || IsPressedLook()) ? GetColor(BTNST_COLOR_BK_IN)
                  : hasFocus()                 ? GetColor(BTNST_COLOR_BK_FOCUS)
                                               : GetColor(BTNST_COLOR_BK_OUT);
    return themeHelper->DrawThemeBackground(
        this, painter, toolbarLook ? CThemeHelperST::kThemeToolbar : CThemeHelperST::kThemeButton,
        CThemeHelperST::BP_PUSHBUTTON, ThemeStateId(), rect(), face);
}

}  // namespace orvane
