#pragma once

#include "recording/ffmpeg_output_base.h"

namespace orvane {

// Records ".avi" files: MPEG-4 video (the XviD kind) tagged 'XVID'. Threads as IVideoOutput says.
class FFMPEGAVIOutput : public FFMPEGOutputBase {
public:
    FFMPEGAVIOutput();
};

}  // namespace orvane
