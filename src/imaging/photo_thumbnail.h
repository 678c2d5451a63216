#pragma once

#include <cstdint>
#include <string>

#include "imaging/movie_thumbnail.h"
#include "imaging/thumbnail_limits.h"

namespace orvane {

// A photo's thumbnail as the decoder made it.
struct PhotoThumbnail {
    ThumbnailStatus status = ThumbnailStatus::NoPicture;
    int32_t sourceWidth = 0;  // the photo's own size, from its frame header
    int32_t sourceHeight = 0;
    BgrPicture picture;     // upright; empty when the wanted size was empty or status is not Ok
    bool embedded = false;  // the picture is the small one the file carries in its Exif block
};

// A thumbnail of the JPEG photo at `path`, made within `limits`: the file size, the frame header's
// pixel count (a tighter cap for pictures the decoder holds whole) and the number of scans are checked
// before anything is decoded, and progressive pictures are decoded with TurboJPEG's scan limit.
//
// When `embeddedAtLeast` is given and the photo carries an Exif thumbnail of its own aspect that is at
// least embeddedAtLeast(source) in both directions, that small picture is the result, and nothing but
// the start of the file is read. Otherwise the picture is decoded at the smallest TurboJPEG scale that
// still covers wanted(source) (at most its own size). Thread-safe; any number at once.
PhotoThumbnail DecodePhotoThumbnail(const std::string& path, const ThumbnailSizeFunction& wanted,
                                    const ThumbnailLimits& limits,
                                    const ThumbnailSizeFunction& embeddedAtLeast = nullptr);

// The TurboJPEG scale (num / denom, at most 1) with the smallest output that still covers
// targetWidth x targetHeight for a width x height picture; 1 / 1 when none smaller does.
std::pair<int, int> ChooseJpegScale(int32_t width, int32_t height, int32_t targetWidth, int32_t targetHeight);

}  // namespace orvane
