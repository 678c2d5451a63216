#include "support/movie_probe.h"

#include <functional>
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

// Opens the best video stream of the file, tells `opened` of it, and hands each decoded picture to
// `picture` until it returns false. False when the file or its stream cannot be opened.
bool DecodePictures(const std::string& path, const std::function<void(const AVStream&)>& opened,
                    const std::function<bool(const AVFrame&, const AVStream&)>& picture) {
    AVFormatContext* rawInput = nullptr;
    if (avformat_open_input(&rawInput, path.c_str(), nullptr, nullptr) < 0) return false;
    std::unique_ptr<AVFormatContext, Deleter> input(rawInput);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) return false;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) return false;
    const AVStream* stream = input->streams[index];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    std::unique_ptr<AVCodecContext, Deleter> decoder(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return false;
    opened(*stream);

    std::unique_ptr<AVPacket, Deleter> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, Deleter> frame(av_frame_alloc());
    bool more = true;
    auto receiveAll = [&] {
        while (more && avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            more = picture(*frame, *stream);
            av_frame_unref(frame.get());
        }
    };
    while (more && av_read_frame(input.get(), packet.get()) >= 0) {
        // AVI fills timestamp gaps with empty chunks; an empty packet would end the decoding.
        if (packet->stream_index == index && packet->size > 0) {
            avcodec_send_packet(decoder.get(), packet.get());
            receiveAll();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decoder.get(), nullptr);
    receiveAll();
    return true;
}

}  // namespace

ProbedMovie ProbeMovie(const std::string& path, int framesPerSecond) {
    ProbedMovie movie;
    DecodePictures(
        path,
        [&](const AVStream& stream) {
            movie.opened = true;
            movie.codecId = stream.codecpar->codec_id;
            movie.codecTag = stream.codecpar->codec_tag;
            movie.width = stream.codecpar->width;
            movie.height = stream.codecpar->height;
            movie.rateFrames = stream.avg_frame_rate.num;
            movie.rateSeconds = stream.avg_frame_rate.den;
            if (stream.duration != AV_NOPTS_VALUE)
                movie.durationSeconds = stream.duration * av_q2d(stream.time_base);
        },
        [&](const AVFrame& frame, const AVStream& stream) {
            movie.frames.push_back(Describe(&frame, stream.time_base, framesPerSecond));
            return true;
        });
    return movie;
}

std::vector<uint8_t> FirstPicture(const std::string& path, int& width, int& height) {
    std::vector<uint8_t> rgb;
    DecodePictures(
        path, [](const AVStream&) {},
        [&](const AVFrame& frame, const AVStream&) {
            std::unique_ptr<SwsContext, Deleter> converter(
                sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), frame.width,
                               frame.height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr));
            if (!converter) return false;
            // Room behind the last row for the scaler's wide writes.
            std::vector<uint8_t> converted(size_t{3} * frame.width * frame.height + 64);
            uint8_t* target[4] = {converted.data()};
            const int stride[4] = {3 * frame.width};
            if (sws_scale(converter.get(), frame.data, frame.linesize, 0, frame.height, target, stride) !=
                frame.height)
                return false;
            converted.resize(size_t{3} * frame.width * frame.height);
            rgb = std::move(converted);
            width = frame.width;
            height = frame.height;
            return false;
        });
    return rgb;
}

}  // namespace orvane::test
