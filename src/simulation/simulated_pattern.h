#pragma once

#include <cstdint>
#include <optional>

#include "simulation/simulated_camera.h"
#include "simulation/simulated_format.h"

namespace orvane {

// The positions the test pattern's bar steps through before it starts again at the left.
constexpr int kSimulatedBarPhases = 8;

// Writes one frame of the test pattern (see SimulatedCamera) with the bar at `phase` into `target`,
// which holds format.sizeImage bytes; MJPG frames are damaged as `damage` says. Returns the bytes
// used. Any thread; the JPEGs are encoded once per size and phase and shared by every camera.
uint32_t RenderTestPattern(const SimulatedStreamFormat& format, int phase, std::optional<CorruptFrame> damage,
                           uint8_t* target);

}  // namespace orvane
