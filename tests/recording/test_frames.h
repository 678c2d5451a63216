#pragma once

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace orvane::test {

struct Bgr {
    int b = 0;
    int g = 0;
    int r = 0;
};

inline bool Near(const Bgr& a, const Bgr& b, int tolerance = 12) {
    return std::abs(a.b - b.b) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.r - b.r) <= tolerance;
}

// A frame as the camera delivers it: BGR24, bottom row first. Seen upright, its upper half is `top`
// and its lower half `bottom`.
inline std::vector<uint8_t> MakeFrame(int width, int height, Bgr top, Bgr bottom) {
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3);
    for (int row = 0; row < height; ++row) {
        const bool upperHalf = row >= height / 2;  // memory row 0 is the bottom of the picture
        const Bgr& colour = upperHalf ? top : bottom;
        uint8_t* pixel = frame.data() + static_cast<size_t>(row) * width * 3;
        for (int x = 0; x < width; ++x, pixel += 3) {
            pixel[0] = static_cast<uint8_t>(colour.b);
            pixel[1] = static_cast<uint8_t>(colour.g);
            pixel[2] = static_cast<uint8_t>(colour.r);
        }
    }
    return frame;
}

// Frame number `index` of a series whose frames can be told apart after encoding: red above, blue
// below, with the green of the upper half counting up in steps of 12 (numbers 0 to 20).
inline Bgr NumberedTop(int index) { return Bgr{40, 8 + 12 * index, 200}; }
inline const Bgr kBottom{200, 60, 40};
inline int NumberOf(const Bgr& top) { return (top.g - 2) / 12; }  // within 5 of the step

// Noise, which no encoder can squeeze much.
inline std::vector<uint8_t> MakeNoiseFrame(int width, int height, unsigned seed) {
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3);
    std::mt19937 random(seed);
    for (auto& byte : frame) byte = static_cast<uint8_t>(random());
    return frame;
}

}  // namespace orvane::test
