#include "widgets/theme_helper_st.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStyleOptionToolButton>
#include <QWidget>

namespace orvane {

QStyle* CThemeHelperST::StyleFor(const QWidget* widget) const {
    if (fixedStyle) return fixedStyle.data();
    if (widget) return widget->style();
    return QApplication::style();
}

bool CThemeHelperST::IsAppThemed(const QWidget* widget) const {
    if (!themingEnabled) return false;
    QStyle* style = StyleFor(widget);
    return style && style->name().compare(QStringLiteral("windows"), Qt::CaseInsensitive) != 0;
}

void CThemeHelperST::DrawThemeParentBackground(const QWidget* child, QPainter& painter,
                                               const QRect& rect) const {
    const QWidget* parent = child ? child->parentWidget() : nullptr;
    const QWidget* source = parent ? parent : child;
    if (!source) return;
    painter.fillRect(rect, source->palette().brush(source->backgroundRole()));
}

bool CThemeHelperST::DrawThemeBackground(const QWidget* widget, QPainter& painter, ThemeClass themeClass,
                                         int part, int state, const QRect& rect, const QColor& face) const {
    QStyle* style = StyleFor(widget);
    if (!style || part != BP_PUSHBUTTON || state < PBS_NORMAL || state > PBS_DEFAULTED) return false;

    QStyle::State flags = QStyle::State_None;
    if (state != PBS_DISABLED) flags |= QStyle::State_Enabled;
    if (state == PBS_PRESSED)
        flags |= QStyle::State_Sunken;
    else
        flags |= QStyle::State_Raised;
    if (state == PBS_HOT) flags |= QStyle::State_MouseOver | QStyle::State_AutoRaise;
    if (widget && widget->isActiveWindow()) flags |= QStyle::State_Active;

    if (themeClass == kThemeToolbar) {
        QStyleOptionToolButton option;
        if (widget) option.initFrom(widget);
        if (face.isValid()) option.palette.setColor(QPalette::Button, face);
        option.rect = rect;
        option.state = flags | QStyle::State_AutoRaise;
        style->drawPrimitive(QStyle::PE_PanelButtonTool, &option, &painter, widget);
        return true;
    }
    QStyleOptionButton option;
    if (widget) option.initFrom(widget);
    if (face.isValid()) option.palette.setColor(QPalette::Button, face);
    option.rect = rect;
    option.state = flags;
    if (state == PBS_DEFAULTED) option.features |= QStyleOptionButton::DefaultButton;
    style->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter, widget);
    return true;
}

}  // namespace orvane
