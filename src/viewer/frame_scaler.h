#pragma once

#include <QImage>
#include <cstdint>
#include <vector>

#include "base/video_frame.h"

namespace orvane {

// Turns a bottom-up BGR24 frame into an upright picture of any size in one pass (bilinear), so that
// the live pane only blits the result: the work grows with the pixels on screen, not with the camera's
// resolution. Per target row the two nearest source rows are blended into one (libyuv's SIMD loop),
// then the columns are sampled from that row, four pixels per step where the processor can.
class CFrameScaler {
public:
    // Fills `target` (made Format_RGB32 of width x height when it is not) from `frame`. False, leaving
    // `target` untouched, for an incomplete frame or a size that is not positive.
    bool Scale(const VideoFrame& frame, int width, int height, QImage& target);

    // Column sampling without the processor's vector instructions, for comparing the two ways.
    void UsePlainColumns(bool plain) { plainColumns = plain; }

private:
    void Prepare(int sourceWidth, int sourceHeight, int width, int height);

    int sourceWidth = 0;
    int sourceHeight = 0;
    int targetWidth = 0;
    int targetHeight = 0;
    bool plainColumns = false;
    // Per target column: byte offset of the left one of two neighbouring source pixels, and the
    // weights of the left and right one (together 64) as the vector loop reads them, two columns in
    // 16 bytes: left, right, left, right, left, right, 0, 0 for each.
    std::vector<int32_t> columnLeft;
    std::vector<uint8_t> columnWeights;
    // Per target row, top-down: the two source rows (top-down numbering) and the lower one's weight
    // out of 256.
    std::vector<int32_t> rowUpper;
    std::vector<int32_t> rowLower;
    std::vector<int32_t> rowWeight;
    std::vector<uint8_t> blended;  // two source rows blended into one, with room to read 8 bytes at a time
};

}  // namespace orvane
