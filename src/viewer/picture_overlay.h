#pragma once

#include <QLineF>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <vector>

#include "config/calibration.h"

class QLabel;

namespace orvane {

// What the window draws over the live picture: a crosshair with an optional grid of 10 x 10 cells,
// the scale bar of the active calibration and the measured lines with their lengths. A transparent
// child that covers the video host; it is hidden, and costs nothing, while it has nothing to show.
// Lines are kept in pixels of the capture, so they stay on the picture whatever its size on screen.
// Interface thread only.
class CPictureOverlay final : public QWidget {
    Q_OBJECT

public:
    // Covers `host` (the live picture, letterboxed to the capture's aspect ratio) and follows its size.
    explicit CPictureOverlay(QWidget& host);

    // The capture size in pixels: what the picture on screen shows.
    void SetPictureSize(QSize captureSize);
    QSize PictureSize() const { return pictureSize; }
    // The length of one capture pixel (0: no calibration) and the unit lengths are shown in.
    void SetCalibration(double metresPerPixel, LengthUnit unit);
    double MetresPerPixel() const { return metresPerPixel; }

    void ShowScaleBar(bool show);
    void ShowCrosshair(bool show);
    void ShowGrid(bool show);
    // While measuring, a drag on the picture draws a line; the lines stay until cleared.
    void SetMeasuring(bool measuring);
    bool IsMeasuring() const { return measuring; }

    // The measured lines, in capture pixels, and the length text shown beside each.
    const std::vector<QLineF>& Lines() const { return lines; }
    QString LengthText(const QLineF& line) const;
    // The label beside the index-th line (its accessible name is the length text).
    QLabel* LineLabel(size_t index) const;
    // Adds a line in capture pixels, as a drag would.
    void AddLine(const QLineF& line);
    // Removes the lines; false when there were none.
    bool ClearLines();

    // Where the scale bar is drawn (overlay coordinates) and its text; empty when none is shown.
    QRect ScaleBarRect() const;
    QString ScaleBarText() const;

    // Capture pixels to overlay coordinates and back.
    QPointF ToScreen(QPointF picturePoint) const;
    QPointF ToPicture(QPointF screenPoint) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Shows the overlay only while it has something to draw or a drag to take.
    void UpdateVisibility();
    void PlaceLabels();
    void RefreshLabels();
    // The bar's geometry in overlay coordinates: the bar itself, its text's box, the backing box.
    struct BarLayout {
        QRect bar, text, backing;
        QString caption;
    };
    bool LayoutScaleBar(BarLayout& layout) const;

    QWidget& host;
    QSize pictureSize;
    double metresPerPixel = 0;
    LengthUnit unit = LengthUnit::Micrometre;
    bool scaleBar = false;
    bool crosshair = false;
    bool grid = false;
    bool measuring = false;
    std::vector<QLineF> lines;
    std::vector<QLabel*> labels;
    bool dragging = false;
    QLineF dragLine;
};

}  // namespace orvane
