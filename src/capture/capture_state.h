#pragma once

#include <atomic>
#include <cstdint>

namespace orvane {

// What the main viewer wants done with the frames. The viewer writes an action's parameters before
// the flag that enables it (release); the dispatcher reads the flag first (acquire).
struct CaptureState {
    std::atomic<int32_t> shotPending{0};
    std::atomic<int32_t> timedShotRunning{0};
    std::atomic<int32_t> recordingRunning{0};
    // Set by the dispatcher when it ends the recording at the maximum file size.
    std::atomic<int32_t> recordingLimitReached{0};
    std::atomic<int32_t> timedShotIntervalMs{0};
    std::atomic<float> timedShotHours{1.0f};
};

}  // namespace orvane
