#pragma once

#include <cstdint>

namespace orvane {

// A frame rate as the camera negotiated it: `frames` frames every `seconds` seconds, kept as a
// rational so that 30000/1001 or 2997/100 are recorded exactly and not rounded to 29 or 30. A whole
// number of frames per second converts implicitly.
struct FrameRate {
    int32_t frames = 0;
    int32_t seconds = 1;

    constexpr FrameRate() = default;
    constexpr FrameRate(int32_t framesPerSecond) : frames(framesPerSecond) {}  // NOLINT: implicit on purpose
    constexpr FrameRate(int32_t frames, int32_t seconds) : frames(frames), seconds(seconds) {}

    constexpr bool IsValid() const { return frames > 0 && seconds > 0; }
    // Whole frames per second, rounded down: 29 for 30000/1001. 0 when not valid.
    constexpr int32_t Whole() const { return IsValid() ? frames / seconds : 0; }
    constexpr double PerSecond() const { return IsValid() ? static_cast<double>(frames) / seconds : 0.0; }

    // The rate of a frame interval of `numerator` / `denominator` seconds (V4L2's timeperframe); not
    // valid for an interval of 0.
    static constexpr FrameRate OfInterval(uint32_t numerator, uint32_t denominator) {
        if (numerator == 0 || denominator == 0 || numerator > INT32_MAX || denominator > INT32_MAX)
            return {0, 1};
        return {static_cast<int32_t>(denominator), static_cast<int32_t>(numerator)};
    }

    friend constexpr bool operator==(const FrameRate& a, const FrameRate& b) {
        return a.frames == b.frames && a.seconds == b.seconds;
    }
};

}  // namespace orvane
