#pragma once

#include <cstdint>
#include <string>

#include "config/calibration.h"

namespace orvane {

// One unit in metres.
double UnitMetres(LengthUnit unit);

// "nm", "µm" or "mm" (UTF-8).
std::string UnitText(LengthUnit unit);

// The length of one pixel at captureWidth: metresPerPixel x atWidth / captureWidth (the scale follows
// the ratio of widths). 0 when the calibration or the width is unusable.
double PixelSizeAt(const Calibration& calibration, int32_t captureWidth);

// A bar of a round length to draw over a picture.
struct ScaleBar {
    double metres = 0;   // its length; 0: no bar
    double pixels = 0;   // its length in pixels of the picture
    std::string text;    // its caption, such as "100 µm"
};

// The round length (1, 2 or 5 x 10^n of `unit`) closest to, and not above, a fifth of pictureWidth.
// No bar (metres 0, empty text) when the pixel size or the width is unusable.
ScaleBar ChooseScaleBar(double metresPerPixel, int32_t pictureWidth, LengthUnit unit);

// A measured length in `unit` with three significant digits, such as "12.3 µm".
std::string FormatLength(double metres, LengthUnit unit);

// Burns the bar and its caption into the lower right corner of a BGR24 picture whose first row in
// memory is the bottom one: white on a dark backing box, legible on light and dark pictures, sized
// with the picture's height. Nothing is drawn for no bar or a picture too small to hold it.
void DrawScaleBar(uint8_t* bgrBottomUp, int32_t width, int32_t height, const ScaleBar& bar);

}  // namespace orvane
