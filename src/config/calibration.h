#pragma once

#include <cstdint>
#include <string>

namespace orvane {

// The unit a calibration was typed in, and the unit its scale bar and measured lengths are shown in.
enum class LengthUnit { Nanometre, Micrometre, Millimetre };

// One calibration of a camera: the length of one pixel at the capture width it was made at, and the
// unit the user typed the known length in.
struct Calibration {
    std::string name;
    double metresPerPixel = 0;
    int32_t atWidth = 0;
    LengthUnit unit = LengthUnit::Micrometre;
};

}  // namespace orvane
