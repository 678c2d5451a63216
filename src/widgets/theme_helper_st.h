#pragma once

#include <QColor>
#include <QPointer>
#include <QStyle>

class QPainter;
class QRect;
class QWidget;

namespace orvane {

// Draws button backgrounds with the platform's look, the Qt style. The application counts as themed
// while its style draws a look of its own, that is any style but the classic "Windows" one; a helper
// can also be told to treat the program as unthemed. UI thread only.
class CThemeHelperST {
public:
    enum ThemeClass { kThemeButton, kThemeToolbar };  // "BUTTON", "TOOLBAR"
    static constexpr int BP_PUSHBUTTON = 1;
    enum PushButtonState {
        PBS_NORMAL = 1,
        PBS_HOT = 2,
        PBS_PRESSED = 3,
        PBS_DISABLED = 4,
        PBS_DEFAULTED = 5
    };

    CThemeHelperST() = default;

    // The style to draw with; null (the default) means each widget's own style.
    void SetStyle(QStyle* style) { fixedStyle = style; }
    // False makes IsAppThemed() answer false whatever the style.
    void SetThemingEnabled(bool enabled) { themingEnabled = enabled; }

    // Whether themed drawing is available for widget (or for the application's style when null).
    bool IsAppThemed(const QWidget* widget = nullptr) const;

    // Fills rect of child's painter with the background the parent shows behind child.
    void DrawThemeParentBackground(const QWidget* child, QPainter& painter, const QRect& rect) const;
    // Draws part/state of the class as the style draws a push button (kThemeButton) or a tool button
    // (kThemeToolbar), with face as the button colour when it is valid. False when there is no style to
    // draw with or the part is unknown.
    bool DrawThemeBackground(const QWidget* widget, QPainter& painter, ThemeClass themeClass, int part,
                             int state, const QRect& rect, const QColor& face = QColor()) const;

private:
    QStyle* StyleFor(const QWidget* widget) const;

    QPointer<QStyle> fixedStyle;
    bool themingEnabled = true;
};

}  // namespace orvane
