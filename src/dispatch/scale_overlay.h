#pragma once

#include <atomic>
#include <cstdint>

#include "imaging/scale_calibration.h"

namespace orvane {

// What the frame path knows of the active calibration: the pixel size at the capture resolution, the
// unit, and whether the scale bar is drawn into photos and movies. One per viewer, handed to the
// grabber and the photo saver. Thread-safe: the interface thread sets it, the streaming threads and the
// saver read it.
class CScaleOverlay {
public:
    // Interface thread: the pixel size at the capture width (metres), the unit and the burn-in choice.
    // A pixel size that is not positive and finite clears.
    void Set(double metresPerPixelAtCapture, LengthUnit unit, bool burnIn);
    // Interface thread: no calibration.
    void Clear();

    // Any thread: the pixel size at the capture width; 0 without a calibration.
    double MetresPerPixel() const { return metresPerPixel.load(std::memory_order_acquire); }
    // Any thread: whether the bar is drawn into saved pictures (false without a calibration).
    bool BurnIn() const { return burnIn.load(std::memory_order_acquire); }
    LengthUnit Unit() const { return unit.load(std::memory_order_acquire); }

private:
    std::atomic<double> metresPerPixel{0};
    std::atomic<LengthUnit> unit{LengthUnit::Micrometre};
    std::atomic<bool> burnIn{false};
};

}  // namespace orvane
