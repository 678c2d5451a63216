#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recording/test_frames.h"

namespace orvane::test {

struct ProbedFrame {
    int64_t pts = 0;  // in frames of the rate given to ProbeMovie
    Bgr top;          // mean colour of the upper quarter of the upright picture
    Bgr bottom;       // mean colour of the lower quarter
};

// What libavformat and libavcodec make of a movie file.
struct ProbedMovie {
    bool opened = false;
    int codecId = 0;
    uint32_t codecTag = 0;
    int width = 0;
    int height = 0;
    int rateFrames = 0;               // the stream's frame rate as the container states it: rateFrames frames
    int rateSeconds = 0;              // every rateSeconds seconds
    double durationSeconds = 0;       // of the stream, as the container states it
    std::vector<ProbedFrame> frames;  // every picture the decoder gave, in order
};

// Demuxes and decodes the best video stream to its end (or to the first unreadable byte).
ProbedMovie ProbeMovie(const std::string& path, int framesPerSecond);

// The first picture of the best video stream as upright RGB24 rows, top first, and its size; empty when
// none decodes.
std::vector<uint8_t> FirstPicture(const std::string& path, int& width, int& height);

inline uint32_t FourCc(const char (&text)[5]) {
    return static_cast<uint32_t>(text[0]) | (static_cast<uint32_t>(text[1]) << 8) |
           (static_cast<uint32_t>(text[2]) << 16) | (static_cast<uint32_t>(text[3]) << 24);
}

}  // namespace orvane::test
