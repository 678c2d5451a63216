#pragma once

#include <QImage>
#include <cstdint>
#include <vector>

#include "base/video_frame.h"

namespace orvane {

// Turns a bottom-up BGR24 frame into an upright picture of any size in one pass (bilinear), so that
// the live pane only blits the result: the work grows with the pixels on screen, not with the camera's
// resolution. The lookup tables are kept from call to call while the sizes stay the same.
class CFrameScaler {
public:
    // Fills `target` (made Format_RGB32 of width x height when it is not) from `frame`. False, leaving
    // `target` untouched, for an incomplete frame or a size that is not positive.
    bool Scale(const VideoFrame& frame, int width, int height, QImage& target);

private:
    void Prepare(int sourceWidth, int sourceHeight, int width, int height);

    int sourceWidth = 0;
    int sourceHeight = 0;
    int targetWidth = 0;
    int targetHeight = 0;
    // Per target column: byte offsets of the two source pixels and the weight of the right one (0..256).
    std::vector<int32_t> columnLeft;
    std::vector<int32_t> columnRight;
    std::vector<int32_t> columnWeight;
    // Per target row, top-down: the two source rows (top-down numbering) and the lower one's weight.
    std::vector<int32_t> rowUpper;
    std::vector<int32_t> rowLower;
    std::vector<int32_t> rowWeight;
    std::vector<uint16_t> blended;  // one source row blended vertically, values x 256
};

}  // namespace orvane
