#include "simulation/simulated_format.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "simulation/simulated_kernel_text.h"
#include "simulation/simulated_replay.h"

namespace orvane {

namespace {

constexpr uint32_t kMjpgBandwidthShare = 6;  // MJPG needs a sixth of the uncompressed bandwidth

bool IsCompressed(uint32_t pixelFormat) {
    return pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG;
}

void FillSizes(SimulatedStreamFormat& f) {
    f.bytesPerLine = IsCompressed(f.pixelFormat) ? 0 : static_cast<uint32_t>(f.width) * 2;
    f.sizeImage = static_cast<uint32_t>(f.width) * f.height * 2;
}

uint32_t DefaultInterval(const SimulatedFrameSize& size) {
    const std::vector<uint32_t> intervals = IntervalsOf(size);
    return intervals.empty() ? kSimulatedUnitsPerSecond / 30 : intervals[0];
}

SimulatedStreamFormat FormatOf(uint32_t pixelFormat, const SimulatedFrameSize& size) {
    SimulatedStreamFormat f;
    f.pixelFormat = pixelFormat;
    f.width = size.width;
    f.height = size.height;
    FillSizes(f);
    f.interval = DefaultInterval(size);
    return f;
}

// A replayed MJPG frame may be larger than the buffer size a camera would state for its size.
SimulatedStreamFormat FitReplay(const SimulatedCameraDefinition& definition, SimulatedStreamFormat f) {
    if (definition.replay && IsCompressed(f.pixelFormat)) {
        const size_t largest = std::min<size_t>(definition.replay->largest, UINT32_MAX);
        f.sizeImage = std::max(f.sizeImage, static_cast<uint32_t>(largest));
    }
    return f;
}

const SimulatedFormat* FindFormat(const SimulatedCameraDefinition& definition, uint32_t pixelFormat) {
    for (const SimulatedFormat& f : definition.formats) {
        if (f.pixelFormat == pixelFormat) return &f;
    }
    return nullptr;
}

const SimulatedFrameSize* FindSize(const SimulatedCameraDefinition& definition, uint32_t pixelFormat,
                                   int width, int height) {
    const SimulatedFormat* f = FindFormat(definition, pixelFormat);
    if (f == nullptr) return nullptr;
    for (const SimulatedFrameSize& size : f->sizes) {
        if (size.width == width && size.height == height) return &size;
    }
    return nullptr;
}

}  // namespace

std::vector<uint32_t> IntervalsOf(const SimulatedFrameSize& size) {
    if (!size.intervals.empty()) return size.intervals;
    std::vector<uint32_t> intervals;
    for (int fps : size.framesPerSecond) {
        if (fps > 0)
            intervals.push_back((kSimulatedUnitsPerSecond + static_cast<uint32_t>(fps) / 2) /
                                static_cast<uint32_t>(fps));
    }
    return intervals;
}

// uvcvideo hands intervals out as the continued-fraction approximation it makes of interval / 10^7
// (at most 8 terms, stopping at a term of 333 or more).
v4l2_fract SimplifiedInterval(uint32_t interval) {
    constexpr unsigned kTerms = 8;
    constexpr uint32_t kThreshold = 333;
    uint32_t terms[kTerms] = {};
    uint32_t x = interval;
    uint32_t y = kSimulatedUnitsPerSecond;
    unsigned n = 0;
    for (; n < kTerms && y != 0; ++n) {
        terms[n] = x / y;
        if (terms[n] >= kThreshold) {
            if (n < 2) ++n;
            break;
        }
        const uint32_t r = x - terms[n] * y;
        x = y;
        y = r;
    }
    uint32_t numerator = 0;
    uint32_t denominator = 1;
    for (unsigned i = n; i > 0; --i) {
        const uint32_t r = denominator;
        denominator = terms[i - 1] * denominator + numerator;
        numerator = r;
    }
    return {denominator, numerator};
}

SimulatedStreamFormat DefaultFormat(const SimulatedCameraDefinition& definition) {
    if (definition.formats.empty() || definition.formats[0].sizes.empty()) return {};
    return FitReplay(definition, FormatOf(definition.formats[0].pixelFormat, definition.formats[0].sizes[0]));
}

SimulatedStreamFormat NearestFormat(const SimulatedCameraDefinition& definition, const v4l2_pix_format& wish,
                                    const SimulatedStreamFormat& current) {
    const SimulatedFormat* f = FindFormat(definition, wish.pixelformat);
    if (f == nullptr) f = &definition.formats.front();
    const SimulatedFrameSize* best = nullptr;
    uint64_t bestDistance = UINT64_MAX;
    for (const SimulatedFrameSize& size : f->sizes) {
        const uint64_t w = static_cast<uint32_t>(size.width), h = static_cast<uint32_t>(size.height);
        const uint64_t overlap = std::min<uint64_t>(w, wish.width) * std::min<uint64_t>(h, wish.height);
        const uint64_t distance = w * h + uint64_t{wish.width} * wish.height - 2 * overlap;
        if (distance < bestDistance) best = &size, bestDistance = distance;
    }
    if (best == nullptr) return current;
    return FitReplay(definition, FormatOf(f->pixelFormat, *best));
}

void SelectFrameRate(const SimulatedCameraDefinition& definition, const v4l2_fract& wish,
                     SimulatedStreamFormat& format) {
    const SimulatedFrameSize* size = FindSize(definition, format.pixelFormat, format.width, format.height);
    if (size == nullptr) return;
    const std::vector<uint32_t> offered = IntervalsOf(*size);
    if (offered.empty()) return;
    if (wish.numerator == 0 || wish.denominator == 0) {
        format.interval = offered[0];
        return;
    }
    // As uvcvideo: the wish in 100 ns units, then the nearest interval the camera offers.
    const uint64_t wished = uint64_t{wish.numerator} * kSimulatedUnitsPerSecond / wish.denominator;
    uint64_t bestDistance = UINT64_MAX;
    for (uint32_t interval : offered) {
        const uint64_t distance = interval > wished ? interval - wished : wished - interval;
        if (distance < bestDistance) bestDistance = distance, format.interval = interval;
    }
}

uint64_t BandwidthNeeded(const SimulatedStreamFormat& f) {
    const uint64_t perFrame = uint64_t{f.sizeImage} / (IsCompressed(f.pixelFormat) ? kMjpgBandwidthShare : 1);
    return perFrame * kSimulatedUnitsPerSecond / std::max<uint32_t>(1, f.interval);
}

void DescribeFormat(const SimulatedStreamFormat& f, v4l2_format& out) {
    std::memset(&out.fmt.pix, 0, sizeof out.fmt.pix);
    out.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    out.fmt.pix.width = static_cast<uint32_t>(f.width);
    out.fmt.pix.height = static_cast<uint32_t>(f.height);
    out.fmt.pix.pixelformat = f.pixelFormat;
    out.fmt.pix.field = V4L2_FIELD_NONE;
    out.fmt.pix.bytesperline = f.bytesPerLine;
    out.fmt.pix.sizeimage = f.sizeImage;
    out.fmt.pix.colorspace = V4L2_COLORSPACE_SRGB;
    out.fmt.pix.priv = V4L2_PIX_FMT_PRIV_MAGIC;
}

int EnumerateFormats(const SimulatedCameraDefinition& definition, unsigned long request, void* arg) {
    constexpr uint32_t kCapture = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    switch (request) {
        case VIDIOC_ENUM_FMT: {
            auto& desc = *static_cast<v4l2_fmtdesc*>(arg);
            if (desc.type != kCapture || desc.index >= definition.formats.size()) return -EINVAL;
            const SimulatedFormat& f = definition.formats[desc.index];
            const uint32_t index = desc.index;
            std::memset(&desc, 0, sizeof desc);
            desc.index = index;
            desc.type = kCapture;
            desc.pixelformat = f.pixelFormat;
            if (IsCompressed(f.pixelFormat)) desc.flags = V4L2_FMT_FLAG_COMPRESSED;
            CopyText(reinterpret_cast<char*>(desc.description), sizeof desc.description, f.description);
            return 0;
        }

        case VIDIOC_ENUM_FRAMESIZES: {
            auto& sizes = *static_cast<v4l2_frmsizeenum*>(arg);
            const SimulatedFormat* f = FindFormat(definition, sizes.pixel_format);
            if (f == nullptr || sizes.index >= f->sizes.size()) return -EINVAL;
            sizes.type = V4L2_FRMSIZE_TYPE_DISCRETE;
            sizes.discrete.width = static_cast<uint32_t>(f->sizes[sizes.index].width);
            sizes.discrete.height = static_cast<uint32_t>(f->sizes[sizes.index].height);
            return 0;
        }

        case VIDIOC_ENUM_FRAMEINTERVALS: {
            auto& intervals = *static_cast<v4l2_frmivalenum*>(arg);
            const SimulatedFrameSize* size =
                FindSize(definition, intervals.pixel_format, static_cast<int>(intervals.width),
                         static_cast<int>(intervals.height));
            if (size == nullptr) return -EINVAL;
            const std::vector<uint32_t> offered = IntervalsOf(*size);
            if (intervals.index >= offered.size()) return -EINVAL;
            intervals.type = V4L2_FRMIVAL_TYPE_DISCRETE;
            intervals.discrete = SimplifiedInterval(offered[intervals.index]);
            return 0;
        }

        default:
            return -ENOTTY;
    }
}

}  // namespace orvane
