#pragma once

#include <QProxyStyle>

namespace orvane {

// Draws and measures the items of a BCMenu: each item has a 16 x 15 picture box before its text, a
// checked item shows a framed box around its picture (a tick when it has none). Two looks: the flat
// "XP" look with a tinted picture column and a framed highlight, and the classic look with a full
// highlight bar and sunken check boxes. Everything else is drawn by the base style.
class BCMenuStyle : public QProxyStyle {
    Q_OBJECT

public:
    static constexpr int kImageWidth = 16;
    static constexpr int kImageHeight = 15;

    explicit BCMenuStyle(bool xpLook);

    bool IsXPLook() const { return xpLook; }
    void SetXPLook(bool xp) { xpLook = xp; }

    // The platform menu bar's height for a menu font with these metrics.
    static int MenuBarHeight(const QFontMetrics& metrics);
    // Item and separator heights and an item's width for a text of textWidth pixels.
    int ItemHeight(const QFontMetrics& metrics) const;
    int SeparatorHeight(const QFontMetrics& metrics) const;
    int ItemWidth(int textWidth) const;
    // Where the picture box of an item in itemRect lies.
    QRect ImageBox(const QRect& itemRect) const;

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;

private:
    int TextLeft() const;

    bool xpLook;
};

}  // namespace orvane
