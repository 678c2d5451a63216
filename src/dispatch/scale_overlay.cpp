#include "dispatch/scale_overlay.h"

#include <cmath>

namespace orvane {

void CScaleOverlay::Set(double metresPerPixelAtCapture, LengthUnit newUnit, bool newBurnIn) {
    if (!(metresPerPixelAtCapture > 0) || !std::isfinite(metresPerPixelAtCapture)) {
        Clear();
        return;
    }
    unit.store(newUnit, std::memory_order_release);
    burnIn.store(newBurnIn, std::memory_order_release);
    metresPerPixel.store(metresPerPixelAtCapture, std::memory_order_release);
}

void CScaleOverlay::Clear() {
    metresPerPixel.store(0, std::memory_order_release);
    burnIn.store(false, std::memory_order_release);
}

}  // namespace orvane
