#include "recording/movie_file_encoder.h"

#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/rational.h>
}

#include <libyuv/convert.h>

namespace orvane {

namespace {

constexpr int kRounding = AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX;
constexpr int kMaxTimeBaseDenominator = 65535;

}  // namespace

MovieFileEncoder::MovieFileEncoder() = default;
MovieFileEncoder::~MovieFileEncoder() = default;

bool MovieFileEncoder::Open(const std::string& fileName, const MovieContainer& container, int32_t frameWidth,
                            int32_t frameHeight, FrameRate rate, std::string& errorText) {
    format.reset();
    codec.reset();
    stream = nullptr;

    // The containers' own default video codecs vary with the FFmpeg build (H.264 for MP4 where
    // libx264 is present); the recording is MPEG-4 video (AV_CODEC_ID_MPEG4) in both.
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    const AVOutputFormat* output = av_guess_format(container.formatName, nullptr, nullptr);
    if (encoder == nullptr || output == nullptr) {
        errorText = "Codec not found";
        return false;
    }
    AVFormatContext* rawFormat = nullptr;
    if (avformat_alloc_output_context2(&rawFormat, output, nullptr, fileName.c_str()) < 0 ||
        rawFormat == nullptr) {
        errorText = "Codec not found";
        return false;
    }
    AvOutputContext newFormat(rawFormat);

    errorText = "Codec not open codec";
    AVStream* newStream = avformat_new_stream(newFormat.get(), nullptr);
    AvCodecContextPtr newCodec(avcodec_alloc_context3(encoder));
    if (newStream == nullptr || newCodec == nullptr) return false;
    newStream->id = static_cast<int>(newFormat->nb_streams) - 1;

    AVCodecContext* c = newCodec.get();
    c->codec_tag = container.codecTag;
    c->width = frameWidth;
    c->height = frameHeight;
    // MPEG-4 video carries time bases with a denominator of at most 16 bits.
    AVRational period{0, 1};
    if (rate.IsValid())
        av_reduce(&period.num, &period.den, rate.seconds, rate.frames, kMaxTimeBaseDenominator);
    c->time_base = period;
    c->framerate = AVRational{period.den, period.num};
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->max_b_frames = 0;
    if ((output->flags & AVFMT_GLOBALHEADER) != 0) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // Slices on every core keep a 1080p stream at 30 fps on two cores; 0 lets the library count them.
    c->thread_type = FF_THREAD_SLICE;
    c->thread_count = 0;
    if (frameWidth <= 0 || frameHeight <= 0 || period.num <= 0 || avcodec_open2(c, encoder, nullptr) < 0)
        return false;
    if (avcodec_parameters_from_context(newStream->codecpar, c) < 0) return false;
    newStream->time_base = c->time_base;
    newStream->avg_frame_rate = c->framerate;

    AvPacketPtr newPacket(av_packet_alloc());
    if (newPacket == nullptr) return false;

    errorText = "Cannot open file";
    if ((output->flags & AVFMT_NOFILE) == 0 &&
        avio_open(&newFormat->pb, fileName.c_str(), AVIO_FLAG_WRITE) < 0)
        return false;
    AVDictionary* options = nullptr;
    av_dict_parse_string(&options, container.muxerOptions, "=", ":", 0);
    const int header = avformat_write_header(newFormat.get(), &options);
    av_dict_free(&options);
    if (header < 0 || (newFormat->pb != nullptr && newFormat->pb->error < 0)) {
        newFormat.reset();
        std::remove(fileName.c_str());
        return false;
    }

    errorText.clear();
    format = std::move(newFormat);
    codec = std::move(newCodec);
    packet = std::move(newPacket);
    stream = newStream;
    width = frameWidth;
    height = frameHeight;
    return true;
}

bool MovieFileEncoder::ConvertFrame(const uint8_t* bgrBottomUp, int32_t frameWidth, int32_t frameHeight,
                                    AvFramePtr& picture) {
    AVFrame* p = picture.get();
    if (p == nullptr || p->width != frameWidth || p->height != frameHeight || av_frame_is_writable(p) == 0) {
        picture.reset(av_frame_alloc());
        p = picture.get();
        if (p == nullptr) return false;
        p->format = AV_PIX_FMT_YUV420P;
        p->width = frameWidth;
        p->height = frameHeight;
        if (av_frame_get_buffer(p, 0) < 0) {
            picture.reset();
            return false;
        }
    }
    // BT.601 with studio range, as the encoder expects by default; the negative height reads the
    // bottom-up frame from its last row, the top of the picture.
    libyuv::RGB24ToI420(bgrBottomUp, 3 * frameWidth, p->data[0], p->linesize[0], p->data[1], p->linesize[1],
                        p->data[2], p->linesize[2], frameWidth, -frameHeight);
    return true;
}

MovieFileEncoder::EncodeResult MovieFileEncoder::Encode(int64_t pts, AVFrame& picture) {
    EncodeResult result;
    if (format == nullptr || picture.width != width || picture.height != height) return result;
    picture.pts = pts;
    // Encoder errors lose the frame only; the file goes on.
    if (avcodec_send_frame(codec.get(), &picture) >= 0) result.writeError = WritePackets(result);
    return result;
}

int MovieFileEncoder::WritePackets(EncodeResult& result) {
    int writeError = 0;
    while (avcodec_receive_packet(codec.get(), packet.get()) >= 0) {
        AVPacket* p = packet.get();
        p->stream_index = stream->index;
        if (p->duration == 0) p->duration = 1;
        p->pts =
            av_rescale_q_rnd(p->pts, codec->time_base, stream->time_base, static_cast<AVRounding>(kRounding));
        p->dts =
            av_rescale_q_rnd(p->dts, codec->time_base, stream->time_base, static_cast<AVRounding>(kRounding));
        p->duration = av_rescale_q(p->duration, codec->time_base, stream->time_base);
        result.packetBytes += static_cast<uint64_t>(p->size);
        av_write_frame(format.get(), p);
        av_packet_unref(p);
        // A muxer may refuse one packet; an I/O error means nothing more reaches the file.
        if (format->pb != nullptr && format->pb->error < 0) writeError = format->pb->error;
    }
    return writeError;
}

int MovieFileEncoder::Finish() {
    if (format == nullptr) return 0;
    int result = 0;
    if (avcodec_send_frame(codec.get(), nullptr) >= 0) {
        EncodeResult drained;
        result = WritePackets(drained);
    }
    const int trailer = av_write_trailer(format.get());
    if (result == 0 && trailer < 0) result = trailer;
    if (format->pb != nullptr && (format->oformat->flags & AVFMT_NOFILE) == 0) {
        avio_flush(format->pb);
        if (result == 0 && format->pb->error < 0) result = format->pb->error;
        const int closed = avio_closep(&format->pb);
        if (result == 0 && closed < 0) result = closed;
    }
    packet.reset();
    codec.reset();
    format.reset();
    stream = nullptr;
    return result;
}

std::string MovieFileEncoder::ErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

}  // namespace orvane
