#include "imaging/movie_thumbnail.h"

#include <cstring>
#include <stdexcept>

#include "base/av_handles.h"
#include "recording/first_video_frame.h"

namespace orvane {

namespace {

// Ends the decode with no picture; caught at the top.
struct NoPicture : std::runtime_error {
    using std::runtime_error::runtime_error;
};

BgrPicture ToBgr(const AVFrame* frame) {
    const int width = frame->width;
    const int height = frame->height;
    SwsContextPtr converter(sws_getContext(width, height, static_cast<AVPixelFormat>(frame->format),
                                               width, height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr,
                                               nullptr));
    if (converter == nullptr) throw NoPicture("convert error");
    // swscale's vector code writes whole groups of pixels and leaves the last few of each row unwritten
    // when the row is not long enough to take the overhang: convert into generous rows, then copy.
    const int convertedStride = ((width + 63) & ~63) * 3;
    std::vector<uint8_t> converted(static_cast<size_t>(convertedStride) * static_cast<size_t>(height));
    uint8_t* target[4] = {converted.data(), nullptr, nullptr, nullptr};
    const int targetStride[4] = {convertedStride, 0, 0, 0};
    if (sws_scale(converter.get(), frame->data, frame->linesize, 0, height, target, targetStride) != height)
        throw NoPicture("convert error");

    BgrPicture picture;
    picture.width = width;
    picture.height = height;
    picture.stride = (width * 3 + 3) & ~3;
    picture.pixels.resize(static_cast<size_t>(picture.stride) * static_cast<size_t>(height));
    for (int row = 0; row < height; ++row)
        std::memcpy(picture.pixels.data() + static_cast<size_t>(row) * picture.stride,
                    converted.data() + static_cast<size_t>(row) * convertedStride,
                    static_cast<size_t>(width) * 3);
    return picture;
}

}  // namespace

std::optional<BgrPicture> DecodeMovieThumbnail(const std::string& path) {
    try {
        const AvFramePtr frame = DecodeFirstVideoFrame(path);
        if (frame == nullptr) return std::nullopt;
        return ToBgr(frame.get());
    } catch (...) {
        // Unreadable movies have no thumbnail; the reason is of no use to the panel.
        return std::nullopt;
    }
}

}  // namespace orvane
