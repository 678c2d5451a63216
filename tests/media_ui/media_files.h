#pragma once

#include <QColor>
#include <QImage>
#include <string>

namespace orvane::test {

// Something like a picture from the microscope: a lit disc of `tint` with round cells on a dark
// field. `seed` moves the cells, so that pictures of one tint still differ.
QImage MakeSpecimen(int width, int height, QColor tint, int seed = 0);
// One colour all over.
QImage MakeFlat(int width, int height, QColor colour);

// Writes the picture as a JPEG of quality 90 with TurboJPEG; false on failure.
bool WriteJpeg(const std::string& path, const QImage& picture);
// Writes a short MPEG-4 movie (AVI, or MP4 for a path ending in ".mp4") whose every frame is the
// picture, through the recording's own encoder; false on failure.
bool WriteMovie(const std::string& path, const QImage& picture, int frames = 3);

// The mean colour of the picture inside the rectangle.
QColor MeanColour(const QImage& image, const QRect& area);
// Whether two colours are within `tolerance` on each channel.
bool Near(const QColor& a, const QColor& b, int tolerance = 24);

}  // namespace orvane::test
