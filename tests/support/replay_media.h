#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::test {

// Recorded camera streams for the replay tests, made here with TurboJPEG and libavformat.

struct Rgb {
    uint8_t red, green, blue;
};

// The colour of frame `index` of a test recording: far enough apart to tell after a lossy round trip.
Rgb ReplayColour(int index);
// A JPEG of width x height in one flat colour.
std::string FlatJpeg(int width, int height, Rgb colour);
// A packed YUYV frame (BT.601, limited range) of width x height in one flat colour.
std::string FlatYuyv(int width, int height, Rgb colour);

// Writes `packets` as the one video stream of a container ("avi", "matroska") without touching
// their bytes: MJPEG when yuyv is false, else raw YUYV, at framesPerSecond. Another raw format can
// be named with rawPixelFormat (an AVPixelFormat). False when FFmpeg refuses.
bool WriteVideoFile(const std::string& path, const char* container, bool yuyv, int width, int height,
                    int framesPerSecond, const std::vector<std::string>& packets, int rawPixelFormat = -1);

}  // namespace orvane::test
