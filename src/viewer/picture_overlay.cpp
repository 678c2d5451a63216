#include "viewer/picture_overlay.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "imaging/scale_calibration.h"

namespace orvane {

namespace {

constexpr int kGridCells = 10;
constexpr int kBarMargin = 12;     // between the scale bar's box and the picture's edges
constexpr int kBarPadding = 6;     // inside the box
constexpr int kBarThickness = 5;
constexpr double kShortestLine = 2.0;  // screen pixels; a shorter drag is a click, not a line
const QColor kLineColor(255, 214, 10);
const QColor kShadow(0, 0, 0, 170);

// A line that reads on light and dark pictures: a dark band under a light one.
void DrawOutlined(QPainter& painter, const QLineF& line, const QColor& color, qreal width) {
    painter.setPen(QPen(kShadow, width + 2, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(line);
    painter.setPen(QPen(color, width, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(line);
}

}  // namespace

CPictureOverlay::CPictureOverlay(QWidget& host_) : QWidget(&host_), host(host_) {
    setObjectName(QStringLiteral("pictureOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setGeometry(host.rect());
    host.installEventFilter(this);
    hide();
}

void CPictureOverlay::SetPictureSize(QSize captureSize) {
    if (captureSize == pictureSize) return;
    pictureSize = captureSize;
    // Lines made at another size would not lie on the same things.
    if (!lines.empty()) ClearLines();
    update();
}

void CPictureOverlay::SetCalibration(double metresPerPixel_, LengthUnit unit_) {
    metresPerPixel = std::isfinite(metresPerPixel_) && metresPerPixel_ > 0 ? metresPerPixel_ : 0;
    unit = unit_;
    RefreshLabels();
    UpdateVisibility();
    update();
}

void CPictureOverlay::ShowScaleBar(bool show) {
    scaleBar = show;
    UpdateVisibility();
    update();
}

void CPictureOverlay::ShowCrosshair(bool show) {
    crosshair = show;
    UpdateVisibility();
    update();
}

void CPictureOverlay::ShowGrid(bool show) {
    grid = show;
    UpdateVisibility();
    update();
}

void CPictureOverlay::SetMeasuring(bool measuring_) {
    measuring = measuring_;
    setAttribute(Qt::WA_TransparentForMouseEvents, !measuring);
    setCursor(measuring ? Qt::CrossCursor : Qt::ArrowCursor);
    if (!measuring) {
        dragging = false;
        ClearLines();
    }
    UpdateVisibility();
}

QString CPictureOverlay::LengthText(const QLineF& line) const {
    const double pixels = line.length();
    if (metresPerPixel > 0) return QString::fromStdString(FormatLength(pixels * metresPerPixel, unit));
    return QStringLiteral("%1 px").arg(std::lround(pixels));
}

QLabel* CPictureOverlay::LineLabel(size_t index) const { return index < labels.size() ? labels[index] : nullptr; }

void CPictureOverlay::AddLine(const QLineF& line) {
    lines.push_back(line);
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("measureLabel"));
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(QStringLiteral(
        "QLabel { color: white; background: rgba(0, 0, 0, 170); padding: 1px 4px; border-radius: 3px; }"));
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    labels.push_back(label);
    RefreshLabels();
    label->show();
    UpdateVisibility();
    update();
}

bool CPictureOverlay::ClearLines() {
    if (lines.empty()) return false;
    lines.clear();
    for (QLabel* label : labels) delete label;
    labels.clear();
    UpdateVisibility();
    update();
    return true;
}

QPointF CPictureOverlay::ToScreen(QPointF p) const {
    if (pictureSize.isEmpty()) return p;
    return QPointF(p.x() * width() / pictureSize.width(), p.y() * height() / pictureSize.height());
}

QPointF CPictureOverlay::ToPicture(QPointF p) const {
    if (pictureSize.isEmpty() || width() <= 0 || height() <= 0) return p;
    return QPointF(p.x() * pictureSize.width() / width(), p.y() * pictureSize.height() / height());
}

void CPictureOverlay::RefreshLabels() {
    for (size_t i = 0; i < labels.size(); ++i) {
        const QString text = LengthText(lines[i]);
        labels[i]->setText(text);
        labels[i]->setAccessibleName(text);
        labels[i]->adjustSize();
    }
    PlaceLabels();
}

void CPictureOverlay::PlaceLabels() {
    for (size_t i = 0; i < labels.size(); ++i) {
        const QLineF line(ToScreen(lines[i].p1()), ToScreen(lines[i].p2()));
        QLabel* label = labels[i];
        // Beside the line's middle, off the line on the side its normal points to, kept on the picture.
        QPointF normal = line.normalVector().unitVector().p2() - line.p1();
        if (normal.y() > 0) normal = -normal;
        // Far enough along the normal that the label's box stays clear of the line.
        const double clear = 6 + std::abs(normal.x()) * label->width() / 2 + std::abs(normal.y()) * label->height() / 2;
        const QPointF anchor = line.center() + normal * clear;
        int x = static_cast<int>(anchor.x()) - label->width() / 2;
        int y = static_cast<int>(anchor.y()) - label->height() / 2;
        x = std::clamp(x, 0, std::max(0, width() - label->width()));
        y = std::clamp(y, 0, std::max(0, height() - label->height()));
        label->move(x, y);
    }
}

bool CPictureOverlay::LayoutScaleBar(BarLayout& layout) const {
    if (!scaleBar || metresPerPixel <= 0 || pictureSize.isEmpty() || width() <= 0) return false;
    const ScaleBar chosen = ChooseScaleBar(metresPerPixel, pictureSize.width(), unit);
    if (chosen.metres <= 0 || chosen.pixels <= 0) return false;
    const int length = static_cast<int>(std::lround(chosen.pixels * width() / pictureSize.width()));
    layout.caption = QString::fromStdString(chosen.text);
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    const int textWidth = metrics.horizontalAdvance(layout.caption);
    const int boxWidth = std::max(length, textWidth) + 2 * kBarPadding;
    const int boxHeight = kBarPadding + metrics.height() + 3 + kBarThickness + kBarPadding;
    layout.backing = QRect(width() - kBarMargin - boxWidth, height() - kBarMargin - boxHeight, boxWidth, boxHeight);
    const int right = layout.backing.right() - kBarPadding;
    layout.bar = QRect(right - length + 1, layout.backing.bottom() - kBarPadding - kBarThickness + 1, length,
                       kBarThickness);
    layout.text = QRect(layout.bar.center().x() - textWidth / 2, layout.backing.top() + kBarPadding, textWidth,
                        metrics.height());
    return true;
}

QRect CPictureOverlay::ScaleBarRect() const {
    BarLayout layout;
    return LayoutScaleBar(layout) ? layout.bar : QRect();
}

QString CPictureOverlay::ScaleBarText() const {
    BarLayout layout;
    return LayoutScaleBar(layout) ? layout.caption : QString();
}

void CPictureOverlay::UpdateVisibility() {
    const bool needed = crosshair || grid || measuring || !lines.empty() || (scaleBar && metresPerPixel > 0);
    if (needed == isVisible()) return;
    if (needed) {
        setGeometry(host.rect());
        PlaceLabels();
        show();
        raise();
    } else {
        hide();
    }
}

bool CPictureOverlay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &host && event->type() == QEvent::Resize) {
        setGeometry(host.rect());
        PlaceLabels();
    }
    return false;
}

void CPictureOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const int w = width();
    const int h = height();
    if (grid) {
        painter.setPen(QPen(QColor(255, 255, 255, 130), 1));
        for (int i = 1; i < kGridCells; ++i) {
            const int x = w * i / kGridCells;
            const int y = h * i / kGridCells;
            painter.drawLine(x, 0, x, h);
            painter.drawLine(0, y, w, y);
        }
    }
    if (crosshair) {
        const qreal cx = w / 2 + 0.5;
        const qreal cy = h / 2 + 0.5;
        DrawOutlined(painter, QLineF(cx, 0, cx, h), Qt::white, 1);
        DrawOutlined(painter, QLineF(0, cy, w, cy), Qt::white, 1);
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    auto drawLine = [&](const QLineF& picture) {
        const QLineF line(ToScreen(picture.p1()), ToScreen(picture.p2()));
        DrawOutlined(painter, line, kLineColor, 2);
        // Short ticks across both ends.
        const QLineF normal = line.length() > 0 ? line.normalVector().unitVector() : QLineF();
        const QPointF tick = (normal.p2() - normal.p1()) * 5;
        for (const QPointF& end : {line.p1(), line.p2()}) DrawOutlined(painter, QLineF(end - tick, end + tick), kLineColor, 2);
    };
    for (const QLineF& line : lines) drawLine(line);
    if (dragging) drawLine(dragLine);
    BarLayout bar;
    if (LayoutScaleBar(bar)) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 150));
        painter.drawRoundedRect(bar.backing, 4, 4);
        painter.setBrush(Qt::white);
        painter.drawRect(bar.bar);
        QFont bold = font();
        bold.setBold(true);
        painter.setFont(bold);
        painter.setPen(Qt::white);
        painter.drawText(bar.text, Qt::AlignCenter, bar.caption);
    }
}

void CPictureOverlay::mousePressEvent(QMouseEvent* event) {
    if (!measuring || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPointF at = ToPicture(event->position());
    dragLine = QLineF(at, at);
    dragging = true;
    event->accept();
}

void CPictureOverlay::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging) return;
    dragLine.setP2(ToPicture(event->position()));
    update();
}

void CPictureOverlay::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging || event->button() != Qt::LeftButton) return;
    dragging = false;
    dragLine.setP2(ToPicture(event->position()));
    const QLineF onScreen(ToScreen(dragLine.p1()), ToScreen(dragLine.p2()));
    if (onScreen.length() >= kShortestLine) AddLine(dragLine);
    update();
}

}  // namespace orvane
