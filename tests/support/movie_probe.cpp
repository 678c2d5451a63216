#include "recording/movie_probe.h"

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace orvane::test {

namespace {

struct Deleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

Bgr MeanColour(const std::vector<uint8_t>& bgr, int width, int firstRow, int rows) {
    int64_t sum[3] = {0, 0, 0};
    for (int row = firstRow; row < firstRow + rows; ++row)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) sum[c] += bgr[(static_cast<size_t>(row) * width + x) * 3 + c];
    const int64_t count = static_cast<int64_t>(rows) * width;
    return Bgr{static_cast<int>(sum[0] / count), static_cast<int>(sum[1] / count),
               static_cast<int>(sum[2] / count)};
}

ProbedFrame Describe(const AVFrame* frame, AVRational timeBase, int framesPerSecond) {
    const int width = frame->width;
    const int height = frame->height;
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
    std::unique_ptr<SwsContext, Deleter> converter(
        sws_getContext(width, height, static_cast<AVPixelFormat>(frame->format), width, height,
                       AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr, nullptr));
    uint8_t* target[4] = {bgr.data()};
    const int stride[4] = {width * 3};
    sws_scale(converter.get(), frame->data, frame->linesize, 0, height, target, stride);

    ProbedFrame described;
    described.pts = av_rescale_q(frame->best_effort_timestamp, timeBase, AVRational{1, framesPerSecond});
    described.top = MeanColour(bgr, width, 0, height / 4);
    described.bottom = MeanColour(bgr, width, height - height / 4, height / 4);
    return described;
}

}  // namespace

ProbedMovie ProbeMovie(const std::string& path, int framesPerSecond) {
    ProbedMovie movie;
    AVFormatContext* rawInput = nullptr;
    if (avformat_open_input(&rawInput, path.c_str(), nullptr, nullptr) < 0) return movie;
    std::unique_ptr<AVFormatContext, Deleter> input(rawInput);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) return movie;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) return movie;
    const AVStream* stream = input->streams[index];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    std::unique_ptr<AVCodecContext, Deleter> decoder(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return movie;
    movie.opened = true;
    movie.codecId = stream->codecpar->codec_id;
    movie.codecTag = stream->codecpar->codec_tag;
    movie.width = stream->codecpar->width;
    movie.height = stream->codecpar->height;
    movie.rateFrames = stream->avg_frame_rate.num;
    movie.rateSeconds = stream->avg_frame_rate.den;
    if (stream->duration != AV_NOPTS_VALUE)
        movie.durationSeconds = stream->duration * av_q2d(stream->time_base);

    std::unique_ptr<AVPacket, Deleter> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, Deleter> frame(av_frame_alloc());
    auto receiveAll = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            movie.frames.push_back(Describe(frame.get(), stream->time_base, framesPerSecond));
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        // AVI fills timestamp gaps with empty chunks; an empty packet would end the decoding.
        if (packet->stream_index == index && packet->size > 0) {
            avcodec_send_packet(decoder.get(), packet.get());
            receiveAll();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decoder.get(), nullptr);
    receiveAll();
    return movie;
}

}  // namespace orvane::test
