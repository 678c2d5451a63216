#pragma once

#include <QImage>
#include <QPushButton>
#include <QString>

#include "widgets/bc_menu.h"
#include "widgets/theme_helper_st.h"

namespace orvane {

// A push button that opens its menu: an 18 x 18 picture and the caption on the face, a drop-down zone
// with an arrow at the right. A left click (or Space, Enter, F4, Alt+Down) opens the menu below the
// button, or above it when it would not fit on the screen; the chosen item's command id goes out
// through CommandChosen. UI thread only.
class CCoolBtn : public QPushButton {
    Q_OBJECT

public:
    static constexpr int kImageSize = 18;
    static constexpr int kImageLeft = 3;
    static constexpr int kDropDownWidth = 16;
    static constexpr int kMargin = 2;

    explicit CCoolBtn(QWidget* parent = nullptr);

    // Makes the button a visible child of parent with a tab stop at rect (parent coordinates) with the
    // caption text and the control id. False, nothing changed, when parent is null.
    bool Create(const QString& text, const QRect& rect, QWidget* parent, int id);
    int ControlId() const { return controlId; }

    // Sets the caption as text and accessible name.
    void SetCaption(const QString& caption);

    // Picture file relative to the menu's image folder (an absolute path is taken as is). Returns
    // whether it could be read; without a picture the caption starts at the left margin.
    bool SetImageFile(const QString& fileName);
    bool HasImage() const { return !image.isNull(); }

    BCMenu& Menu() { return menu; }
    const BCMenu& Menu() const { return menu; }

    // Themed face while the helper reports a themed application; the button's own helper unless set.
    void SetThemeHelper(CThemeHelperST* helper);

    bool IsMenuOpen() const { return menuOpen; }
    // Opens the menu (no effect while it is open).
    void OpenMenu();

    // Face geometry, in button coordinates.
    QRect DropDownRect() const;
    QRect ImageRect() const;
    QRect TextRect() const;
    // Top-left corner, in global coordinates, for a menu of menuHeight pixels on a screen whose
    // available area is screen: below the left edge, or ending at the top edge when below would leave
    // the screen.
    QPoint MenuPosition(const QRect& screen, int menuHeight) const;

    bool IsHot() const { return hot; }
    QSize sizeHint() const override;

Q_SIGNALS:
    void CommandChosen(int commandId);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void OnMenuAboutToHide();
    bool IsThemed() const;
    void PaintFace(QPainter& painter);
    void PaintDropDown(QPainter& painter);

    BCMenu menu;
    CThemeHelperST ownTheme;
    CThemeHelperST* theme = &ownTheme;
    QImage image;
    int controlId = 0;
    bool menuOpen = false;
    bool hot = false;
};

}  // namespace orvane
