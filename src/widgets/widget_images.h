#pragma once

#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QString>

class QWidget;

namespace orvane {

// Pictures compiled into the program (the widgets' .qrc). Call InitWidgetResources() once before the
// first use when the program links the widget kit statically; the kit's own classes do it themselves.
inline constexpr const char* kAppIconPath = ":/orvane/icons/128.png";          // window icon, 128 x 128
inline constexpr const char* kMovieMarkerIconPath = ":/orvane/icons/153.png";  // 32 x 32 play disc
inline constexpr const char* kSplitterLeftArrowPath = ":/orvane/splitter/142.png";
inline constexpr const char* kSplitterRightArrowPath = ":/orvane/splitter/143.png";
inline constexpr const char* kSplitterUpArrowPath = ":/orvane/splitter/141.png";
inline constexpr const char* kSplitterDownArrowPath = ":/orvane/splitter/139.png";

// Registers the compiled-in pictures; safe to call any number of times, UI thread only.
void InitWidgetResources();

// Folder of the toolbar pictures: the program's folder + "Resource/Image/", ending with "/".
QString ToolbarImageFolder();
// Folder of the rotate button's and rotate menu's pictures: ... + "Resource/Image/Rotate/".
QString RotateImageFolder();

// folder + fileName, or fileName alone when it already is an absolute path. Empty for an empty name.
QString ImagePath(const QString& folder, const QString& fileName);

// The largest rectangle of the image's aspect ratio inside target, centred in it; the limiting side
// fills target. Empty when either size is empty.
QRect FitImageRect(const QSize& image, const QRect& target);

// The picture scaled (smoothly) to fit target and the rectangle to draw it in, for the device pixel
// ratio of widget. A null image gives a null pixmap.
struct FittedPicture {
    QPixmap pixmap;
    QRect rect;
};
FittedPicture FitPicture(const QImage& image, const QRect& target, const QWidget* widget);

}  // namespace orvane
