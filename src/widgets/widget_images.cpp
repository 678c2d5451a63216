#include "widgets/widget_images.h"

#include <QDir>
#include <QWidget>

#include "base/module_folder.h"

static void RegisterWidgetsQrc() { Q_INIT_RESOURCE(widgets); }

namespace orvane {

void InitWidgetResources() {
    static bool registered = false;
    if (!registered) {
        RegisterWidgetsQrc();
        registered = true;
    }
}

QString ToolbarImageFolder() {
    return QString::fromStdString(GetModuleFolder()) + QStringLiteral("Resource/Image/");
}

QString RotateImageFolder() { return ToolbarImageFolder() + QStringLiteral("Rotate/"); }

QString ImagePath(const QString& folder, const QString& fileName) {
    if (fileName.isEmpty()) return {};
    if (QDir::isAbsolutePath(fileName)) return fileName;
    return folder + fileName;
}

QRect FitImageRect(const QSize& image, const QRect& target) {
    if (image.isEmpty() || target.isEmpty()) return {};
    QSize fitted = image.scaled(target.size(), Qt::KeepAspectRatio);
    if (fitted.isEmpty()) return {};
    int left = target.left() + (target.width() - fitted.width()) / 2;
    int top = target.top() + (target.height() - fitted.height()) / 2;
    return QRect(QPoint(left, top), fitted);
}

FittedPicture FitPicture(const QImage& image, const QRect& target, const QWidget* widget) {
    FittedPicture result;
    result.rect = FitImageRect(image.size(), target);
    if (image.isNull() || result.rect.isEmpty()) return result;
    qreal ratio = widget ? widget->devicePixelRatioF() : 1.0;
    QSize pixels = (QSizeF(result.rect.size()) * ratio).toSize();
    result.pixmap = QPixmap::fromImage(image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    result.pixmap.setDevicePixelRatio(ratio);
    return result;
}

}  // namespace orvane
