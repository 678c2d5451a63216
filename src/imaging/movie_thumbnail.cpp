#include "imaging/movie_thumbnail.h"

#include <cstring>
#include <memory>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace orvane {

namespace {

struct Deleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

template <class T>
using Owned = std::unique_ptr<T, Deleter>;

// Ends the decode with no picture; caught at the top.
struct NoPicture : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool HasPicture(const AVFrame* frame) { return frame->width > 0 && frame->height > 0; }

// Takes a decoded picture if the decoder has one ready. A decode error ends the search.
bool ReceivePicture(AVCodecContext* decoder, AVFrame* frame) {
    const int received = avcodec_receive_frame(decoder, frame);
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return false;
    if (received < 0) throw NoPicture("decode video error");
    return HasPicture(frame);
}

Owned<AVFrame> DecodeFirstPicture(const std::string& path) {
    AVFormatContext* rawInput = nullptr;
    if (avformat_open_input(&rawInput, path.c_str(), nullptr, nullptr) < 0)
        throw NoPicture("open file error");
    Owned<AVFormatContext> input(rawInput);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) throw NoPicture("get video info error");

    const int streamIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (streamIndex < 0) throw NoPicture("cannot get best stream");
    const AVCodecParameters* parameters = input->streams[streamIndex]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr) throw NoPicture("");
    Owned<AVCodecContext> decoder(avcodec_alloc_context3(codec));
    if (decoder == nullptr || avcodec_parameters_to_context(decoder.get(), parameters) < 0)
        throw NoPicture("open codec error");
    decoder->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) throw NoPicture("open codec error");

    Owned<AVFrame> frame(av_frame_alloc());
    Owned<AVPacket> packet(av_packet_alloc());
    if (frame == nullptr || packet == nullptr) throw NoPicture("alloc frame error");

    while (av_read_frame(input.get(), packet.get()) >= 0) {
        // An empty packet (AVI's filler for a skipped frame) would tell the decoder the stream ended.
        const bool ours = packet->stream_index == streamIndex && packet->size > 0;
        const int sent = ours ? avcodec_send_packet(decoder.get(), packet.get()) : 0;
        av_packet_unref(packet.get());
        if (!ours) continue;
        if (sent < 0 && sent != AVERROR(EAGAIN)) throw NoPicture("decode video error");
        if (ReceivePicture(decoder.get(), frame.get())) return frame;
    }
    // Out of packets: whatever the decoder still holds back.
    if (avcodec_send_packet(decoder.get(), nullptr) >= 0) {
        for (;;) {
            const int received = avcodec_receive_frame(decoder.get(), frame.get());
            if (received < 0) break;
            if (HasPicture(frame.get())) return frame;
        }
    }
    throw NoPicture("no picture");
}

BgrPicture ToBgr(const AVFrame* frame) {
    const int width = frame->width;
    const int height = frame->height;
    Owned<SwsContext> converter(sws_getContext(width, height, static_cast<AVPixelFormat>(frame->format),
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
        const Owned<AVFrame> frame = DecodeFirstPicture(path);
        return ToBgr(frame.get());
    } catch (...) {
        // Unreadable movies have no thumbnail; the reason is of no use to the panel.
        return std::nullopt;
    }
}

}  // namespace orvane
