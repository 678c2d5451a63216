#pragma once

#include "recording/ffmpeg_output_base.h"

namespace orvane {

// Records ".mp4" files: MPEG-4 video, fragmented so that a file cut short stays readable.
// Threads as IVideoOutput says.
class FFMPEGOutput : public FFMPEGOutputBase {
public:
    FFMPEGOutput();
};

}  // namespace orvane
