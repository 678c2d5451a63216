#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace orvane {

// Owning pointers for the FFmpeg objects. Only code that links FFmpeg includes this header.

struct AvInputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
// A container opened for reading with avformat_open_input.
using AvInputContext = std::unique_ptr<AVFormatContext, AvInputDeleter>;

struct AvOutputDeleter {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr && (context->oformat->flags & AVFMT_NOFILE) == 0)
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
// A container made with avformat_alloc_output_context2; its file, when open, is closed with it.
using AvOutputContext = std::unique_ptr<AVFormatContext, AvOutputDeleter>;

struct AvCodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using AvCodecContextPtr = std::unique_ptr<AVCodecContext, AvCodecDeleter>;

struct AvFrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using AvFramePtr = std::unique_ptr<AVFrame, AvFrameDeleter>;

struct AvPacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketDeleter>;

struct SwsDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using SwsContextPtr = std::unique_ptr<SwsContext, SwsDeleter>;

}  // namespace orvane
