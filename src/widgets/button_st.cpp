#include "widgets/button_st.h"

#include <QAction>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

namespace orvane {

namespace {

// The picture keeps this much of the face free, so the frame and the focus cue stay visible.
constexpr int kPictureInset = 2;
constexpr int kFocusInset = 3;

void DrawEdge(QPainter& painter, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
    painter.setPen(topLeft);
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(bottomRight);
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
}

}  // namespace

CButtonST::CButtonST(QWidget* parent) : CButtonST(QString(), parent) {}

CButtonST::CButtonST(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    imageFolder = ToolbarImageFolder();
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover, true);
    SetDefaultColors(false);
    if (!caption.isEmpty()) setAccessibleName(caption);
}

void CButtonST::SetCaption(const QString& caption) {
    setText(caption);
    setAccessibleName(caption);
}

bool CButtonST::SetImageFile(const QString& fileName) {
    imageFile = fileName;
    image = QImage();
    if (!fileName.isEmpty()) image.load(ImagePath(imageFolder, fileName));
    updateGeometry();
    update();
    return fileName.isEmpty() || !image.isNull();
}

void CButtonST::SetTooltipText(const QString& text) { setToolTip(text); }

bool CButtonST::SetColor(int index, const QColor& color, bool repaint) {
    if (index < 0 || index >= BTNST_MAX_COLORS) return false;
    colors[index] = color;
    if (repaint) update();
    return true;
}

QColor CButtonST::GetColor(int index) const {
    if (index < 0 || index >= BTNST_MAX_COLORS) return {};
    return colors[index];
}

void CButtonST::SetDefaultColors(bool repaint) {
    const QPalette& pal = palette();
    for (int i = 0; i < BTNST_MAX_COLORS; i += 2) {
        colors[i] = pal.color(QPalette::Button);
        colors[i + 1] = pal.color(QPalette::ButtonText);
    }
    if (repaint) update();
}

QColor CButtonST::Lightened(const QColor& color) {
    auto room = [](int component) { return component < 226 ? 30 : 255 - component; };
    int step = std::min({room(color.red()), room(color.green()), room(color.blue())});
    return QColor(color.red() + step, color.green() + step, color.blue() + step, color.alpha());
}

void CButtonST::LightenInBackground() { SetColor(BTNST_COLOR_BK_IN, Lightened(colors[BTNST_COLOR_BK_IN])); }

void CButtonST::SetFlat(bool flat) {
    flatLook = flat;
    update();
}

void CButtonST::SetCheckBox(bool enable) {
    setCheckable(enable);
    update();
}

void CButtonST::SetButtonMenu(QMenu* menu) {
    if (buttonMenu) disconnect(buttonMenu, nullptr, this, nullptr);
    buttonMenu = menu;
    if (menu) {
        connect(menu, &QMenu::triggered, this, [this](QAction* action) {
            if (action) Q_EMIT MenuCommand(action->data().toInt());
        });
    }
}

QWidget* CButtonST::Owner() const { return ownerWidget ? ownerWidget.data() : parentWidget(); }

bool CButtonST::IsPressedLook() const { return isDown() || (isCheckable() && isChecked()); }

QSize CButtonST::sizeHint() const {
    QSize hint = QPushButton::sizeHint();
    if (HasImage()) hint = hint.expandedTo(QSize(32, 32));
    return hint;
}

void CButtonST::SetHot(bool isHot) {
    if (hot == isHot) return;
    hot = isHot;
    update();
}

void CButtonST::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    SetHot(isEnabled());
}

void CButtonST::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    SetHot(false);
}

void CButtonST::mouseMoveEvent(QMouseEvent* event) {
    if (!hot && isEnabled() && rect().contains(event->position().toPoint())) SetHot(true);
    if (!imageFile.isEmpty()) {
        QWidget* owner = Owner();
        QPoint position = event->position().toPoint();
        QPoint ownerPosition = owner ? owner->mapFromGlobal(mapToGlobal(position)) : mapToParent(position);
        Q_EMIT MouseMovedOver(this, ownerPosition);
    }
    QPushButton::mouseMoveEvent(event);
}

void CButtonST::mousePressEvent(QMouseEvent* event) {
    if (buttonMenu && event->button() == Qt::LeftButton) {
        if ((focusPolicy() & Qt::ClickFocus) != 0) setFocus(Qt::MouseFocusReason);
        OpenButtonMenu();
        event->accept();
        return;
    }
    QPushButton::mousePressEvent(event);
}

void CButtonST::OpenButtonMenu() { buttonMenu->popup(mapToGlobal(rect().bottomLeft() + QPoint(0, 1))); }

void CButtonST::focusOutEvent(QFocusEvent* event) {
    QPushButton::focusOutEvent(event);
    SetHot(false);
}

void CButtonST::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if ((event->type() == QEvent::ActivationChange && !isActiveWindow()) ||
        (event->type() == QEvent::EnabledChange && !isEnabled()))
        SetHot(false);
    if (event->type() == QEvent::EnabledChange) update();
}

bool CButtonST::PaintThemedBackground(QPainter&) { return false; }

void CButtonST::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!PaintThemedBackground(painter)) {
        DrawBackground(painter);
        DrawBorder(painter);
    }
    DrawContent(painter);
    DrawFocus(painter);
}

void CButtonST::DrawBackground(QPainter& painter) {
    QRect r = rect();
    bool focused = hasFocus();
    if (!flatLook && (focused || isDefault())) {
        painter.setPen(Qt::black);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(r.adjusted(0, 0, -1, -1));
        r.adjust(1, 1, -1, -1);
    }
    QColor background = (hot || IsPressedLook()) ? colors[BTNST_COLOR_BK_IN]
                        : focused                ? colors[BTNST_COLOR_BK_FOCUS]
                                                 : colors[BTNST_COLOR_BK_OUT];
    painter.fillRect(r, background);
}

void CButtonST::DrawBorder(QPainter& painter) {
    QRect r = rect();
    if (!flatLook && (hasFocus() || isDefault())) r.adjust(1, 1, -1, -1);
    const QPalette& pal = palette();
    if (IsPressedLook()) {
        if (!flatLook) {
            painter.setPen(pal.color(QPalette::Dark));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(r.adjusted(0, 0, -1, -1));
        } else {
            DrawEdge(painter, r, pal.color(QPalette::Dark), pal.color(QPalette::Light));
        }
        return;
    }
    if (!flatLook) {
        DrawEdge(painter, r, pal.color(QPalette::Light), pal.color(QPalette::Shadow));
        DrawEdge(painter, r.adjusted(1, 1, -1, -1), pal.color(QPalette::Midlight), pal.color(QPalette::Dark));
    } else if (hot) {
        DrawEdge(painter, r, pal.color(QPalette::Light), pal.color(QPalette::Dark));
    }
}

void CButtonST::DrawContent(QPainter& painter) {
    bool shifted = IsPressedLook() && !flatLook;
    QRect face = rect();
    if (shifted) face.translate(1, 1);

    if (HasImage()) {
        FittedPicture picture = FitPicture(
            image, face.adjusted(kPictureInset, kPictureInset, -kPictureInset, -kPictureInset), this);
        if (picture.pixmap.isNull()) return;
        if (!isEnabled()) {
            QStyleOption option;
            option.initFrom(this);
            picture.pixmap = style()->generatedIconPixmap(QIcon::Disabled, picture.pixmap, &option);
        }
        painter.drawPixmap(picture.rect, picture.pixmap);
        return;
    }

    int flags = Qt::AlignCenter | Qt::TextShowMnemonic;
    painter.setFont(font());
    if (!isEnabled()) {
        painter.setPen(palette().color(QPalette::Light));
        painter.drawText(face.translated(1, 1), flags, text());
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawText(face, flags, text());
        return;
    }
    QColor foreground = (hot || IsPressedLook()) ? colors[BTNST_COLOR_FG_IN]
                        : hasFocus()             ? colors[BTNST_COLOR_FG_FOCUS]
                                                 : colors[BTNST_COLOR_FG_OUT];
    painter.setPen(foreground);
    painter.drawText(face, flags, text());
}

void CButtonST::DrawFocus(QPainter& painter) {
    // Like the platform, the focus cue shows once the keyboard moved the focus.
    if (!hasFocus() || !window()->testAttribute(Qt::WA_KeyboardFocusChange)) return;
    QPen pen(colors[BTNST_COLOR_FG_FOCUS]);
    pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(kFocusInset, kFocusInset, -kFocusInset - 1, -kFocusInset - 1));
}

}  // namespace orvane
