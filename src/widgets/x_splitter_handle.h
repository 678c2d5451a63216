#pragma once

#include <QSplitterHandle>

namespace orvane {

class CXSplitterWnd;

// The bar of a CXSplitterWnd with its collapse button: a left click on the button collapses or
// restores, a right click switches the direction, the button is hot while the pointer rests on it with
// the left button up; anywhere else the bar drags as usual.
class CXSplitterHandle : public QSplitterHandle {
    Q_OBJECT

public:
    CXSplitterHandle(Qt::Orientation orientation, CXSplitterWnd* splitter);

    // The collapse button in handle coordinates.
    QRect LocalButtonRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void TrackHot(const QPoint& position, Qt::MouseButtons buttons);

    CXSplitterWnd* owner;
    bool pressedOnButton = false;
};

}  // namespace orvane
