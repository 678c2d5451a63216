#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QPushButton>
#include <QString>

#include "widgets/widget_images.h"

class QMenu;

namespace orvane {

// A push button that shows a picture from a file instead of its caption, with colours of its own for
// the mouse-over, mouse-out and focused states, an optional flat look that lights up under the mouse,
// and check-box and menu modes. The caption stays the button's text and accessible name even while a
// picture hides it; a picture that cannot be read leaves a plain text button. UI thread only.
class CButtonST : public QPushButton {
    Q_OBJECT

public:
    enum ColorIndex {
        BTNST_COLOR_BK_IN = 0,  // background, mouse over or pressed
        BTNST_COLOR_FG_IN,
        BTNST_COLOR_BK_OUT,  // background, mouse outside
        BTNST_COLOR_FG_OUT,
        BTNST_COLOR_BK_FOCUS,  // background, keyboard focus
        BTNST_COLOR_FG_FOCUS,
        BTNST_MAX_COLORS
    };

    explicit CButtonST(QWidget* parent = nullptr);
    explicit CButtonST(const QString& caption, QWidget* parent = nullptr);

    // Sets the caption as text and accessible name.
    void SetCaption(const QString& caption);

    // Picture file: fileName relative to ImageFolder() (an absolute path is taken as is). Returns
    // whether the picture could be read; when it cannot, the button shows its caption. An empty name
    // removes the picture.
    bool SetImageFile(const QString& fileName);
    QString ImageFile() const { return imageFile; }
    bool HasImage() const { return !image.isNull(); }
    // Folder the picture names are relative to; ToolbarImageFolder() unless set. Takes effect at the
    // next SetImageFile.
    void SetImageFolder(const QString& folder) { imageFolder = folder; }
    QString ImageFolder() const { return imageFolder; }

    void SetTooltipText(const QString& text);

    // Colours of the three states. Out-of-range indexes are refused (false).
    bool SetColor(int index, const QColor& color, bool repaint = true);
    QColor GetColor(int index) const;
    // Back to the palette's button face and button text colours.
    void SetDefaultColors(bool repaint = true);
    // Raises the mouse-over background by the same amount in red, green and blue without saturating.
    void LightenInBackground();
    // The colour LightenInBackground() makes of color.
    static QColor Lightened(const QColor& color);

    // Flat (the default): no frame until the mouse is over the button. Not flat: the classic raised
    // frame.
    void SetFlat(bool flat);
    bool IsFlat() const { return flatLook; }
    // Check-box mode: each click toggles the checked state, a checked button is drawn pressed.
    void SetCheckBox(bool enable);
    bool IsCheckBox() const { return isCheckable(); }
    // A menu opened by a click at the button's lower-left corner; the chosen action's data (an int)
    // goes out through MenuCommand. Null removes it. The button does not own the menu.
    void SetButtonMenu(QMenu* menu);

    // Where the pointer positions of MouseMovedOver are expressed; the parent widget unless set.
    void SetOwner(QWidget* owner) { ownerWidget = owner; }
    QWidget* Owner() const;

    // Whether the mouse is over the button (and the button enabled).
    bool IsHot() const { return hot; }
    bool IsPressedLook() const;

    QSize sizeHint() const override;

Q_SIGNALS:
    // Every mouse movement over a button that has a picture file set, with the position in the
    // owner's coordinates; the viewer's prompt line tells from it which button the pointer is over.
    void MouseMovedOver(orvane::CButtonST* button, QPoint ownerPosition);
    void MenuCommand(int commandId);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

    // Paints background and border in a look of a derived class; false leaves both to this class.
    virtual bool PaintThemedBackground(QPainter& painter);

    void DrawBackground(QPainter& painter);
    void DrawBorder(QPainter& painter);
    void DrawContent(QPainter& painter);
    void DrawFocus(QPainter& painter);
    void SetHot(bool isHot);

private:
    void OpenButtonMenu();

    QString imageFolder;
    QString imageFile;
    QImage image;
    QColor colors[BTNST_MAX_COLORS];
    bool flatLook = true;
    bool hot = false;
    QPointer<QWidget> ownerWidget;
    QPointer<QMenu> buttonMenu;
};

}  // namespace orvane
