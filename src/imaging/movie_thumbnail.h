#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// A picture of 24-bit BGR (bytes blue, green, red), top row first, each row `stride` bytes apart
// (width x 3 rounded up to a multiple of 4, so that window code can wrap it as it stands).
struct BgrPicture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    std::vector<uint8_t> pixels;  // stride x height bytes
};

// The first picture of the best video stream of the movie at `path`, upright, at its own size; none
// for a file that cannot be opened, holds no video, or yields no picture. Shows and logs nothing
// beyond the libraries' own diagnostics. Reentrant: any thread, any number at once.
std::optional<BgrPicture> DecodeMovieThumbnail(const std::string& path);

}  // namespace orvane
