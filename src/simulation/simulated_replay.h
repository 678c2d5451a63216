#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/frame_rate.h"

namespace orvane {

// The frames of a recorded camera stream, held in memory so that the simulated camera's frame thread
// only copies them: MJPG frames exactly as the file holds them, YUYV frames as packed 4:2:2 rows.
struct ReplayFrames {
    uint32_t pixelFormat = 0;  // V4L2_PIX_FMT_MJPEG or V4L2_PIX_FMT_YUYV
    int width = 0;
    int height = 0;
    FrameRate rate;               // the file's own frame rate; not valid when the file states none
    int skipped = 0;              // MJPG frames left out because their header could not be read
    size_t largest = 0;           // bytes of the largest frame
    std::vector<uint8_t> data;    // every frame, one after the other
    std::vector<size_t> offsets;  // where frame i starts in data; one more entry for the end

    size_t Count() const { return offsets.empty() ? 0 : offsets.size() - 1; }
    const uint8_t* Frame(size_t index) const { return data.data() + offsets[index]; }
    size_t FrameBytes(size_t index) const { return offsets[index + 1] - offsets[index]; }
};

// How much memory a replay may take by default: the frames' bytes plus a little per frame.
constexpr size_t kReplayMemoryLimit = size_t{1} << 30;
// The largest frame side a replay accepts.
constexpr int kReplayMaxSide = 16384;

// Reads every frame of `path`: a raw MJPEG stream (JPEG pictures one after the other), or an AVI,
// MKV or other container FFmpeg reads that holds MJPEG or raw YUYV video. Nothing is decoded or
// re-encoded. Returns null with a message for the user in `error` when the file is missing, is not a
// video, holds another kind of video or no frame, has frames of differing sizes, or needs more than
// `memoryLimit` bytes. Any thread; slow for a large file.
std::shared_ptr<const ReplayFrames> LoadReplayFrames(const std::string& path, std::string& error,
                                                     size_t memoryLimit = kReplayMemoryLimit);

}  // namespace orvane
