#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/thumbnail_limits.h"

namespace orvane {

// A picture of 24-bit BGR (bytes blue, green, red), top row first, each row `stride` bytes apart
// (width x 3 rounded up to a multiple of 4, so that window code can wrap it as it stands).
struct BgrPicture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    std::vector<uint8_t> pixels;  // stride x height bytes
};

// A movie's thumbnail as the decoder made it.
struct MovieThumbnail {
    ThumbnailStatus status = ThumbnailStatus::NoPicture;
    int32_t sourceWidth = 0;  // the first picture's own size
    int32_t sourceHeight = 0;
    BgrPicture picture;  // upright, at wanted(source); empty unless status is Ok
};

// The first picture of the best video stream of the movie at `path`, within `limits`, scaled to
// wanted(source) (its own size when `wanted` is null). Only AVI and ISO media (MP4, MOV) files are
// read; the box structure of an MP4 is checked first (see IsoMediaWithinLimits), FFmpeg probes with a
// small probe size and analysis time, streams whose pictures exceed maxBufferedPixels are refused
// before any decoder opens, the decoder refuses larger pictures too, and every blocking step of FFmpeg
// ends at the deadline or when `limits.cancelled` is set. Shows and logs nothing beyond the libraries'
// own diagnostics. Reentrant: any thread, any number at once.
MovieThumbnail DecodeMovieThumbnail(const std::string& path, const ThumbnailSizeFunction& wanted,
                                    const ThumbnailLimits& limits);

// The first picture of the best video stream of the movie at `path`, upright, at its own size; none
// for a file that cannot be opened, holds no video, yields no picture, or is beyond the default
// limits (two seconds at most).
std::optional<BgrPicture> DecodeMovieThumbnail(const std::string& path);

}  // namespace orvane
