#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace orvane {

// The small picture that every photo carries in its Exif block: it fits into 160 x 120 (120 x 160
// for a portrait picture) keeping the picture's aspect, so that file managers, image viewers and our
// own thumbnail panel can show the photo without decoding it.
constexpr int32_t kExifThumbnailLongSide = 160;
constexpr int32_t kExifThumbnailShortSide = 120;

// The physical resolution a photo declares: pixels per centimetre across and down. Without one (0)
// the Exif block says 72 pixels per inch.
struct PhotoDensity {
    double xPerCm = 0;
    double yPerCm = 0;
    bool IsSet() const { return xPerCm > 0 && yPerCm > 0; }
};

// The size of the small picture for a width x height picture: at least 1 x 1; (0, 0) for an empty
// picture.
std::pair<int32_t, int32_t> ExifThumbnailSize(int32_t width, int32_t height);

// An APP1 "Exif" segment, marker and length included, for a photo of width x height made from 24-bit
// BGR rows `stride` bytes apart (the first row in memory is the bottom one when `bottomUp`): the
// picture's size, orientation "upright", and in the second image directory a small JPEG of the
// picture, upright. Empty when the picture is unusable or the small JPEG does not fit a segment.
// With a density, both image directories give it as XResolution / YResolution in centimetres.
std::vector<uint8_t> MakeExifThumbnailSegment(const uint8_t* bgr, int32_t width, int32_t height,
                                              int32_t stride, bool bottomUp, const PhotoDensity& density = {});

// The JPEG file `jpeg` (size bytes) with `segment` placed after its start marker and its JFIF header
// (when it has one): the bytes to write. The JPEG unchanged when the segment is empty or the bytes do
// not start like a JPEG.
std::vector<uint8_t> InsertJpegSegment(const uint8_t* jpeg, size_t size, const std::vector<uint8_t>& segment);

// The JPEG file with a small picture of the photo in an Exif segment, as MakeExifThumbnailSegment and
// InsertJpegSegment make it.
std::vector<uint8_t> WithExifThumbnail(const uint8_t* jpeg, size_t size, const uint8_t* bgr, int32_t width,
                                       int32_t height, bool bottomUp, const PhotoDensity& density = {});

// Where the embedded JPEG lies in an Exif block, relative to the block's TIFF header.
struct ExifThumbnailLocation {
    size_t offset = 0;
    size_t length = 0;
};

// Finds the JPEG thumbnail of the second image directory in the TIFF structure of an Exif block (the
// bytes after "Exif\0\0"). Made for hostile input: every offset and count is checked against `size`,
// and anything damaged, looping or out of range gives none.
std::optional<ExifThumbnailLocation> FindExifThumbnail(const uint8_t* tiff, size_t size);

}  // namespace orvane
