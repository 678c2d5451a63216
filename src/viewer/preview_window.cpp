#include "viewer/preview_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPainter>

#include "config/setting_param_manage.h"
#include "viewer/video_host.h"
#include "viewer/viewer_controls.h"
#include "viewer/viewer_events.h"

namespace orvane {

CPreviewWindow::CPreviewWindow(const CSettingParamManage& settings_, QWidget* parent)
    : QWidget(parent), settings(settings_) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    videoHost = new CVideoHost(this);
    videoHost->setObjectName(QStringLiteral("videoHost"));
    videoHost->setProperty("controlId", viewer_id::kVideoHostId);
    videoHost->setGeometry(VideoArea());
    videoHost->show();
}

QRect CPreviewWindow::ComputeVideoArea(const QRect& client, const CaptureResolution& resolution) {
    const int w = client.width();
    const int h = client.height();
    if (resolution.width <= 0 || resolution.height <= 0 || w <= 0 || h <= 0) return client;
    const double a = static_cast<double>(resolution.height) / static_cast<double>(resolution.width);
    int pictureWidth;
    int pictureHeight;
    if (static_cast<double>(h) / static_cast<double>(w) > a) {
        pictureWidth = w;
        pictureHeight = static_cast<int>(w * a);
    } else {
        pictureHeight = h;
        pictureWidth = static_cast<int>(h / a);
    }
    const int left = client.left() + (w - pictureWidth) / 2;
    const int top = client.top() + (h - pictureHeight) / 2;
    return QRect(left, top, pictureWidth, pictureHeight);
}

QRect CPreviewWindow::VideoArea() const {
    return ComputeVideoArea(rect(), settings.GetUsingParam().GetCaptureResolution());
}

void CPreviewWindow::FitVideoArea() {
    if (videoHost == nullptr) return;
    videoHost->setGeometry(VideoArea());
    videoHost->update();
}

void CPreviewWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (videoHost == nullptr) return;
    videoHost->setGeometry(VideoArea());
    if (messageTarget != nullptr) {
        QEvent fit(ViewerEventType(WM_FIT_VIDEO_WINDOW));
        QCoreApplication::sendEvent(messageTarget, &fit);
    }
}

void CPreviewWindow::paintEvent(QPaintEvent*) {
    // Only the bands beside the picture; the host paints itself.
    QPainter painter(this);
    painter.fillRect(rect(), QColor(24, 24, 24));
}

}  // namespace orvane
