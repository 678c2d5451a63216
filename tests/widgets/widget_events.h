#pragma once

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>

namespace orvane::test {

// Delivers a mouse event to widget at pos (widget coordinates) as the window system would.
inline void SendMouse(QWidget* widget, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton,
                      Qt::MouseButtons buttons = Qt::NoButton) {
    QPointF local(pos);
    QPointF global(widget->mapToGlobal(pos));
    QMouseEvent event(type, local, local, global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

inline void Press(QWidget* w, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
    SendMouse(w, QEvent::MouseButtonPress, pos, button, button);
}
inline void Release(QWidget* w, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
    SendMouse(w, QEvent::MouseButtonRelease, pos, button, Qt::NoButton);
}
inline void Click(QWidget* w, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
    Press(w, pos, button);
    Release(w, pos, button);
}
inline void Move(QWidget* w, QPoint pos, Qt::MouseButtons buttons = Qt::NoButton) {
    SendMouse(w, QEvent::MouseMove, pos, Qt::NoButton, buttons);
}

inline void Enter(QWidget* w, QPoint pos) {
    QPointF local(pos);
    QEnterEvent event(local, local, QPointF(w->mapToGlobal(pos)));
    QApplication::sendEvent(w, &event);
}
inline void Leave(QWidget* w) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(w, &event);
}

// What the widget paints now, at one device pixel per logical pixel.
inline QImage Render(QWidget* w) { return w->grab().toImage().convertToFormat(QImage::Format_RGB32); }

}  // namespace orvane::test
