#include "recording/first_video_frame.h"

namespace orvane {

namespace {

bool HasPicture(const AVFrame* frame) { return frame->width > 0 && frame->height > 0; }

}  // namespace

AvFramePtr DecodeFirstVideoFrame(const std::string& path) {
    AVFormatContext* rawInput = nullptr;
    if (avformat_open_input(&rawInput, path.c_str(), nullptr, nullptr) < 0) return nullptr;
    AvInputContext input(rawInput);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) return nullptr;

    const int streamIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (streamIndex < 0) return nullptr;
    const AVCodecParameters* parameters = input->streams[streamIndex]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr) return nullptr;
    AvCodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (decoder == nullptr || avcodec_parameters_to_context(decoder.get(), parameters) < 0) return nullptr;
    decoder->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return nullptr;

    AvFramePtr frame(av_frame_alloc());
    AvPacketPtr packet(av_packet_alloc());
    if (frame == nullptr || packet == nullptr) return nullptr;

    while (av_read_frame(input.get(), packet.get()) >= 0) {
        // An empty packet (AVI's filler for a skipped frame) would tell the decoder the stream ended.
        const bool ours = packet->stream_index == streamIndex && packet->size > 0;
        const int sent = ours ? avcodec_send_packet(decoder.get(), packet.get()) : 0;
        av_packet_unref(packet.get());
        if (!ours) continue;
        if (sent < 0 && sent != AVERROR(EAGAIN)) return nullptr;
        const int received = avcodec_receive_frame(decoder.get(), frame.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) continue;
        if (received < 0) return nullptr;
        if (HasPicture(frame.get())) return frame;
    }
    // Out of packets: whatever the decoder still holds back.
    if (avcodec_send_packet(decoder.get(), nullptr) >= 0) {
        while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            if (HasPicture(frame.get())) return frame;
        }
    }
    return nullptr;
}

bool IsPlayableMovie(const std::string& path) { return DecodeFirstVideoFrame(path) != nullptr; }

}  // namespace orvane
