#include "widgets/cool_btn.h"

#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>

#include "widgets/button_st.h"
#include "widgets/widget_images.h"

namespace orvane {

namespace {

constexpr int kFocusInset = 4;
constexpr int kTextGap = 2;

void DrawEdge(QPainter& painter, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
    painter.setPen(topLeft);
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(bottomRight);
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
}

}  // namespace

CCoolBtn::CCoolBtn(QWidget* parent) : QPushButton(parent), menu(this) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover, true);
    connect(&menu, &BCMenu::CommandChosen, this, &CCoolBtn::CommandChosen);
    connect(&menu, &QMenu::aboutToHide, this, &CCoolBtn::OnMenuAboutToHide);
}

bool CCoolBtn::Create(const QString& text, const QRect& rect, QWidget* parent, int id) {
    if (!parent) return false;
    setParent(parent);
    SetCaption(text);
    setGeometry(rect);
    controlId = id;
    show();
    return true;
}

void CCoolBtn::SetCaption(const QString& caption) {
    setText(caption);
    setAccessibleName(caption);
}

bool CCoolBtn::SetImageFile(const QString& fileName) {
    image = QImage();
    if (!fileName.isEmpty()) image.load(ImagePath(menu.ImageFolder(), fileName));
    updateGeometry();
    update();
    return fileName.isEmpty() || !image.isNull();
}

void CCoolBtn::SetThemeHelper(CThemeHelperST* helper) {
    theme = helper ? helper : &ownTheme;
    update();
}

bool CCoolBtn::IsThemed() const { return theme->IsAppThemed(this); }

QRect CCoolBtn::DropDownRect() const {
    return QRect(width() - kMargin - kDropDownWidth, kMargin, kDropDownWidth, height() - 2 * kMargin);
}

QRect CCoolBtn::ImageRect() const {
    if (!HasImage()) return {};
    int x = kImageLeft + (isDown() ? 1 : 0);
    int y = (height() - kImageSize) / 2;
    return QRect(x, y, kImageSize, kImageSize);
}

QRect CCoolBtn::TextRect() const {
    QRect focusArea = rect().adjusted(kFocusInset, kFocusInset, -kFocusInset, -kFocusInset);
    int left = HasImage() ? ImageRect().right() + 1 + kTextGap : focusArea.left();
    int right = DropDownRect().left() - 1;
    return QRect(QPoint(left, focusArea.top()), QPoint(right, focusArea.bottom()));
}

QPoint CCoolBtn::MenuPosition(const QRect& screen, int menuHeight) const {
    QPoint below = mapToGlobal(QPoint(0, height()));
    if (below.y() + menuHeight > screen.bottom() + 1)
        return mapToGlobal(QPoint(0, 0)) - QPoint(0, menuHeight);
    return below;
}

QSize CCoolBtn::sizeHint() const {
    QFontMetrics metrics(font());
    int textWidth = metrics.horizontalAdvance(text());
    int imageWidth = HasImage() ? kImageSize + kTextGap : 0;
    int w = kImageLeft + imageWidth + textWidth + 2 * kFocusInset + kDropDownWidth + kMargin;
    int h = std::max(kImageSize + 2 * kMargin + 2, metrics.height() + 2 * kFocusInset);
    return QSize(w, h);
}

void CCoolBtn::OpenMenu() {
    if (menuOpen || menu.isEmpty()) return;
    menuOpen = true;
    update();
    QScreen* where = screen() ? screen() : QApplication::primaryScreen();
    QRect available = where ? where->availableGeometry() : QRect(0, 0, 1 << 20, 1 << 20);
    menu.popup(MenuPosition(available, menu.sizeHint().height()));
}

void CCoolBtn::OnMenuAboutToHide() {
    // A press on this button closes the menu; it must not reach the button again and reopen it.
    bool closedByOwnPress =
        (QApplication::mouseButtons() & Qt::LeftButton) && rect().contains(mapFromGlobal(QCursor::pos()));
    menu.setAttribute(Qt::WA_NoMouseReplay, closedByOwnPress);
    menuOpen = false;
    update();
}

void CCoolBtn::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QPushButton::mousePressEvent(event);
        return;
    }
    if ((focusPolicy() & Qt::ClickFocus) != 0) setFocus(Qt::MouseFocusReason);
    if (menuOpen) {
        menu.hide();
    } else {
        OpenMenu();
    }
    event->accept();
}

void CCoolBtn::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        event->accept();
        return;
    }
    QPushButton::mouseReleaseEvent(event);
}

void CCoolBtn::keyPressEvent(QKeyEvent* event) {
    int key = event->key();
    bool opens = key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_F4 ||
                 (key == Qt::Key_Down && (event->modifiers() & Qt::AltModifier));
    if (opens) {
        OpenMenu();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void CCoolBtn::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    hot = isEnabled();
    update();
}

void CCoolBtn::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    hot = false;
    update();
}

void CCoolBtn::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !isEnabled()) hot = false;
    if (event->type() == QEvent::EnabledChange) update();
}

void CCoolBtn::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintFace(painter);

    const QPalette& pal = palette();
    if (HasImage()) {
        FittedPicture picture = FitPicture(image, ImageRect(), this);
        if (!picture.pixmap.isNull()) {
            if (!isEnabled()) {
                QStyleOption option;
                option.initFrom(this);
                picture.pixmap = style()->generatedIconPixmap(QIcon::Disabled, picture.pixmap, &option);
            }
            painter.drawPixmap(picture.rect, picture.pixmap);
        }
    }

    QRect textRect = TextRect();
    if (isDown()) textRect.translate(1, 1);
    int flags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
    painter.setFont(QApplication::font(this));
    if (!isEnabled()) {
        painter.setPen(pal.color(QPalette::Light));
        painter.drawText(textRect.translated(1, 1), flags, text());
        painter.setPen(pal.color(QPalette::Dark));
    } else {
        painter.setPen(pal.color(QPalette::ButtonText));
    }
    painter.drawText(textRect, flags, text());

    PaintDropDown(painter);

    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        QPen pen(pal.color(QPalette::ButtonText));
        pen.setStyle(Qt::DotLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect().adjusted(kFocusInset, kFocusInset, -kFocusInset - 1, -kFocusInset - 1));
    }
}

void CCoolBtn::PaintFace(QPainter& painter) {
    const QPalette& pal = palette();
    const bool pressed = isDown();
    if (IsThemed()) {
        theme->DrawThemeParentBackground(this, painter, rect());
        int state = !isEnabled()  ? CThemeHelperST::PBS_DISABLED
                    : pressed     ? CThemeHelperST::PBS_PRESSED
                    : hot         ? CThemeHelperST::PBS_HOT
                    : isDefault() ? CThemeHelperST::PBS_DEFAULTED
                                  : CThemeHelperST::PBS_NORMAL;
        // Under the mouse the face lightens as the toolbar's image buttons do.
        QColor face = hot && !pressed ? CButtonST::Lightened(pal.color(QPalette::Button)) : QColor();
        if (theme->DrawThemeBackground(this, painter, CThemeHelperST::kThemeButton,
                                       CThemeHelperST::BP_PUSHBUTTON, state, rect(), face))
            return;
    }
    QColor face = pal.color(QPalette::Button);
    painter.fillRect(rect(), hot && !pressed ? CButtonST::Lightened(face) : face);
    QRect r = rect();
    painter.setBrush(Qt::NoBrush);
    if (pressed || isDefault()) {
        painter.setPen(Qt::black);
        painter.drawRect(r.adjusted(0, 0, -1, -1));
        r.adjust(1, 1, -1, -1);
    }
    if (pressed) {
        painter.setPen(pal.color(QPalette::Dark));
        painter.drawRect(r.adjusted(0, 0, -1, -1));
    } else {
        DrawEdge(painter, r, pal.color(QPalette::Light), pal.color(QPalette::Shadow));
        DrawEdge(painter, r.adjusted(1, 1, -1, -1), pal.color(QPalette::Midlight), pal.color(QPalette::Dark));
    }
}

void CCoolBtn::PaintDropDown(QPainter& painter) {
    const QPalette& pal = palette();
    QRect zone = DropDownRect();
    if (menuOpen) {
        painter.fillRect(zone, pal.color(QPalette::Midlight));
        DrawEdge(painter, zone, pal.color(QPalette::Dark), pal.color(QPalette::Light));
    } else {
        int top = zone.top() + 2;
        int bottom = zone.bottom() - 2;
        painter.setPen(pal.color(QPalette::Dark));
        painter.drawLine(zone.left(), top, zone.left(), bottom);
        painter.setPen(pal.color(QPalette::Light));
        painter.drawLine(zone.left() + 1, top, zone.left() + 1, bottom);
    }
    // A small down arrow, 7 x 4 pixels, centred in the zone.
    QColor arrow =
        isEnabled() ? pal.color(QPalette::ButtonText) : pal.color(QPalette::Disabled, QPalette::ButtonText);
    int cx = zone.left() + 1 + (zone.width() - 1) / 2 + (menuOpen ? 1 : 0);
    int cy = zone.top() + zone.height() / 2 - 1 + (menuOpen ? 1 : 0);
    painter.setPen(arrow);
    for (int row = 0; row < 4; ++row) painter.drawLine(cx - 3 + row, cy + row, cx + 3 - row, cy + row);
}

}  // namespace orvane
