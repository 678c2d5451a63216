#include "viewer/video_host.h"

#include <QImage>
#include <QMetaObject>
#include <QPainter>
#include <cmath>

#include "capture/frame_mailbox.h"

namespace orvane {

namespace {

// The frame's pixels as an image, without a copy; rows stay bottom-up.
QImage WrapFrame(const FrameBuffer& frame) {
    return QImage(frame.Bits(), frame.Width(), frame.Height(), 3 * frame.Width(), QImage::Format_BGR888);
}

}  // namespace

CVideoHost::CVideoHost(QWidget* parent) : QWidget(parent) {
    // The window's keys (Space, R, T) act while the picture has the focus; a click gives it back.
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

CVideoHost::~CVideoHost() { Attach(nullptr); }

void CVideoHost::Attach(CFrameMailbox* newMailbox) {
    if (mailbox != nullptr) {
        mailbox->SetNotify(nullptr);
        mailbox->SetViewSize(0, 0);
    }
    mailbox = newMailbox;
    if (mailbox == nullptr) return;
    StateViewSize();
    // Runs on the capture thread: post the wake-up and return.
    mailbox->SetNotify(
        [this] { QMetaObject::invokeMethod(this, &CVideoHost::TakeFrame, Qt::QueuedConnection); });
    TakeFrame();
}

void CVideoHost::ClearPicture() {
    frame = FrameBuffer();
    scaled = QImage();
    scaledIsCurrent = false;
    update();
}

QImage CVideoHost::CurrentPicture() const {
    if (frame.Empty()) return {};
    return WrapFrame(frame).mirrored(false, true);
}

void CVideoHost::StateViewSize() {
    if (mailbox == nullptr) return;
    const qreal ratio = devicePixelRatioF();
    mailbox->SetViewSize(static_cast<int32_t>(std::lround(width() * ratio)),
                         static_cast<int32_t>(std::lround(height() * ratio)));
}

void CVideoHost::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    StateViewSize();
}

void CVideoHost::TakeFrame() {
    if (mailbox == nullptr || !mailbox->Take(frame)) return;
    ++framesTaken;
    scaledIsCurrent = false;
    update();
}

void CVideoHost::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (frame.Empty()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // Scaled and turned upright in one pass at the size on screen, then only blitted.
    const qreal ratio = devicePixelRatioF();
    const int w = static_cast<int>(std::lround(width() * ratio));
    const int h = static_cast<int>(std::lround(height() * ratio));
    if (!scaledIsCurrent || scaled.width() != w || scaled.height() != h) {
        if (!scaler.Scale(frame.Frame(), w, h, scaled)) {
            painter.fillRect(rect(), Qt::black);
            return;
        }
        scaled.setDevicePixelRatio(ratio);
        scaledIsCurrent = true;
    }
    painter.drawImage(QPoint(0, 0), scaled);
}

}  // namespace orvane
