#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::rig {

// The picture the emulated camera sends, as it is meant to be seen (first row = top): the top half
// kTop, the bottom half kBottom, a kMarker square of side height / 8 in the top-left corner, and a
// kBar vertical bar, width / 16 wide, that steps to the right through the right three quarters of
// the picture, one of kPhases positions per frame. The same picture as the simulated camera's, so
// that the checks of a photo hold for both.
class TestPattern {
public:
    struct Colour {
        uint8_t red, green, blue;
    };
    static constexpr Colour kTop{200, 40, 40};
    static constexpr Colour kBottom{40, 40, 200};
    static constexpr Colour kMarker{240, 240, 240};
    static constexpr Colour kBar{40, 200, 40};
    static constexpr int kPhases = 8;

    // RGB24, rows top-down.
    static std::vector<uint8_t> Rgb(int width, int height, int phase);
    // YUYV 4:2:2, BT.601 limited range.
    static std::vector<uint8_t> Yuyv(int width, int height, int phase);
    // A baseline JPEG (4:2:2, quality 90); empty when encoding fails.
    static std::vector<uint8_t> Jpeg(int width, int height, int phase);
    // Jpeg(), kept in `folder` across runs so that only the first feeder of a boot pays for it.
    static std::vector<uint8_t> CachedJpeg(const std::string& folder, int width, int height, int phase);
};

}  // namespace orvane::rig
