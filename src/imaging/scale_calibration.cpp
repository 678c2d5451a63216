#include "imaging/scale_calibration.h"

namespace orvane {

std::string UnitText(LengthUnit unit) {
    switch (unit) {
        case LengthUnit::Nanometre: return "nm";
        case LengthUnit::Micrometre: return "\xC2\xB5m";
        case LengthUnit::Millimetre: return "mm";
    }
    return "";
}

double PixelSizeAt(const Calibration&, int32_t) { return 0; }

ScaleBar ChooseScaleBar(double, int32_t, LengthUnit) { return {}; }

std::string FormatLength(double, LengthUnit) { return ""; }

void DrawScaleBar(uint8_t*, int32_t, int32_t, const ScaleBar&) {}

}  // namespace orvane
