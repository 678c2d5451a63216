#include "widgets/x_splitter_handle.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "widgets/x_splitter_wnd.h"

namespace orvane {

CXSplitterHandle::CXSplitterHandle(Qt::Orientation orientation, CXSplitterWnd* splitter)
    : QSplitterHandle(orientation, splitter), owner(splitter) {
    setMouseTracking(true);
}

QRect CXSplitterHandle::LocalButtonRect() const {
    QRect button = owner->ButtonRect();
    return button.isEmpty() ? QRect() : button.translated(-pos());
}

void CXSplitterHandle::TrackHot(const QPoint& position, Qt::MouseButtons buttons) {
    QRect button = LocalButtonRect();
    bool over = button.contains(position);
    owner->SetButtonHot(over && !(buttons & Qt::LeftButton));
    if (over)
        setCursor(Qt::ArrowCursor);
    else
        setCursor(orientation() == Qt::Horizontal ? Qt::SplitHCursor : Qt::SplitVCursor);
}

void CXSplitterHandle::mousePressEvent(QMouseEvent* event) {
    QPoint position = event->position().toPoint();
    if (LocalButtonRect().contains(position)) {
        if (event->button() == Qt::LeftButton) {
            pressedOnButton = true;
            owner->SetButtonHot(false);
            owner->ToggleCollapse();
        } else if (event->button() == Qt::RightButton) {
            owner->SwitchDirection();
        }
        event->accept();
        return;
    }
    QSplitterHandle::mousePressEvent(event);
}

void CXSplitterHandle::mouseMoveEvent(QMouseEvent* event) {
    TrackHot(event->position().toPoint(), event->buttons());
    // A press that toggled the button must not turn into a drag of the bar.
    if (pressedOnButton) return;
    QSplitterHandle::mouseMoveEvent(event);
}

void CXSplitterHandle::mouseReleaseEvent(QMouseEvent* event) {
    if (pressedOnButton && event->button() == Qt::LeftButton) {
        pressedOnButton = false;
        TrackHot(event->position().toPoint(), event->buttons());
        event->accept();
        return;
    }
    QSplitterHandle::mouseReleaseEvent(event);
}

void CXSplitterHandle::leaveEvent(QEvent* event) {
    QSplitterHandle::leaveEvent(event);
    owner->SetButtonHot(false);
}

void CXSplitterHandle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& pal = palette();
    QRect r = rect();
    painter.fillRect(r, pal.color(QPalette::Button));
    // A raised bar: light edge towards pane 0, shadow towards pane 1.
    if (orientation() == Qt::Horizontal) {
        painter.setPen(pal.color(QPalette::Light));
        painter.drawLine(r.left(), r.top(), r.left(), r.bottom());
        painter.setPen(pal.color(QPalette::Dark));
        painter.drawLine(r.right(), r.top(), r.right(), r.bottom());
    } else {
        painter.setPen(pal.color(QPalette::Light));
        painter.drawLine(r.left(), r.top(), r.right(), r.top());
        painter.setPen(pal.color(QPalette::Dark));
        painter.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    }

    QRect button = LocalButtonRect();
    if (button.isEmpty()) return;
    QPixmap picture = owner->ButtonPicture();
    if (!picture.isNull()) {
        painter.drawPixmap(button.topLeft(), picture);
        return;
    }
    // Without its pictures the button is still there: a plain coloured bar with an arrow.
    QColor face = !isEnabled()           ? QColor(0x9a, 0xa3, 0xad)
                  : owner->IsButtonHot() ? QColor(0xd9, 0x41, 0x3a)
                                         : QColor(0x3a, 0xa5, 0x5d);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(face);
    painter.drawRoundedRect(QRectF(button).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    QPointF c = QRectF(button).center();
    QPainterPath arrow;
    switch (owner->PictureId()) {
        case CXSplitterWnd::kLeftArrowId:
            arrow.moveTo(c.x() - 2, c.y());
            arrow.lineTo(c.x() + 2, c.y() - 4);
            arrow.lineTo(c.x() + 2, c.y() + 4);
            break;
        case CXSplitterWnd::kRightArrowId:
            arrow.moveTo(c.x() + 2, c.y());
            arrow.lineTo(c.x() - 2, c.y() - 4);
            arrow.lineTo(c.x() - 2, c.y() + 4);
            break;
        case CXSplitterWnd::kUpArrowId:
            arrow.moveTo(c.x(), c.y() - 2);
            arrow.lineTo(c.x() - 4, c.y() + 2);
            arrow.lineTo(c.x() + 4, c.y() + 2);
            break;
        default:
            arrow.moveTo(c.x(), c.y() + 2);
            arrow.lineTo(c.x() - 4, c.y() - 2);
            arrow.lineTo(c.x() + 4, c.y() - 2);
            break;
    }
    arrow.closeSubpath();
    painter.setBrush(Qt::white);
    painter.drawPath(arrow);
}

}  // namespace orvane
