#pragma once

#include <cstddef>
#include <cstdint>

namespace orvane {

// What the markers of a JPEG file say before its first scan. Everything is read with bounds checks:
// a damaged file gives valid = false (or fewer facts), never a read outside the bytes.
struct JpegHeader {
    bool valid = false;  // starts with a start-of-image marker and has a frame header
    int32_t width = 0;   // as the frame header states them
    int32_t height = 0;
    int components = 0;
    bool progressive = false;     // SOF2 / SOF6 / SOF10 / SOF14
    bool firstScanSeen = false;   // the first start-of-scan lies within the bytes
    int firstScanComponents = 0;  // fewer than `components`: the picture comes in several scans
    size_t exifOffset = 0;        // the TIFF structure of an "Exif" APP1 segment, from the file start
    size_t exifLength = 0;        // 0: none

    // Whether the decoder has to hold the whole picture's coefficients while it reads.
    bool Buffered() const { return progressive || (firstScanSeen && firstScanComponents < components); }
};

// Reads the markers from the start of `data` up to the first start-of-scan (or the end of the bytes).
JpegHeader ReadJpegHeader(const uint8_t* data, size_t size);

// The number of start-of-scan markers in the whole file, counting no further than `limit` + 1.
int CountJpegScans(const uint8_t* data, size_t size, int limit);

}  // namespace orvane
