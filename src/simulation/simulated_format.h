#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <vector>

#include "simulation/simulated_camera.h"

namespace orvane {

// Frame intervals count in 100 ns units, as UVC descriptors give them.
constexpr uint32_t kSimulatedUnitsPerSecond = 10000000;

// The format a simulated video node streams in.
struct SimulatedStreamFormat {
    uint32_t pixelFormat = 0;
    int width = 0;
    int height = 0;
    uint32_t bytesPerLine = 0;
    uint32_t sizeImage = 0;
    uint32_t interval = kSimulatedUnitsPerSecond / 30;  // in 100 ns units
};

// The intervals of a frame size in 100 ns units, fastest first.
std::vector<uint32_t> IntervalsOf(const SimulatedFrameSize& size);
// An interval as uvcvideo hands it out: 333333 gives 1/30, 333667 gives 100/2997.
v4l2_fract SimplifiedInterval(uint32_t interval);

// The camera's first format at its first size; an empty format when it has none.
SimulatedStreamFormat DefaultFormat(const SimulatedCameraDefinition& definition);
// The camera's answer to a wish: its format of that FOURCC (else its first format) and, among its
// sizes, the one nearest in area and shape; `current` when the format has no sizes.
SimulatedStreamFormat NearestFormat(const SimulatedCameraDefinition& definition, const v4l2_pix_format& wish,
                                    const SimulatedStreamFormat& current);
// Sets format.interval to the offered interval nearest to `wish` (the fastest for 0/0); leaves it
// alone when the size offers none.
void SelectFrameRate(const SimulatedCameraDefinition& definition, const v4l2_fract& wish,
                     SimulatedStreamFormat& format);
// The isochronous bandwidth the format needs, in bytes per second.
uint64_t BandwidthNeeded(const SimulatedStreamFormat& format);
void DescribeFormat(const SimulatedStreamFormat& format, v4l2_format& out);

// VIDIOC_ENUM_FMT, VIDIOC_ENUM_FRAMESIZES and VIDIOC_ENUM_FRAMEINTERVALS of a video node: 0 or a
// negative errno.
int EnumerateFormats(const SimulatedCameraDefinition& definition, unsigned long request, void* arg);

}  // namespace orvane
