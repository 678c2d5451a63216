#include "widgets/picture_box.h"

#include <QPainter>

namespace orvane {

CPictureBox::CPictureBox(QWidget* parent) : QWidget(parent) {}

void CPictureBox::SetImage(const QString& path) {
    fileName = path;
    QImage loaded;
    if (loaded.load(path)) bitmap = std::move(loaded);
    update();
}

void CPictureBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect client = rect().normalized();
    painter.fillRect(client, Qt::white);
    if (fileName.isEmpty() || bitmap.isNull()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(client, bitmap);
}

}  // namespace orvane
