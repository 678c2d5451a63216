#include "support/replay_media.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/av_handles.h"
#include "base/turbojpeg_handles.h"

namespace orvane::test {

Rgb ReplayColour(int index) {
    static constexpr Rgb kColours[] = {{220, 30, 30},  {30, 200, 30},  {30, 30, 220},   {220, 220, 30},
                                       {30, 200, 200}, {200, 30, 200}, {240, 240, 240}, {20, 20, 20}};
    return kColours[index % 8];
}

std::string FlatJpeg(int width, int height, Rgb colour) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = colour.red;
        rgb[i + 1] = colour.green;
        rgb[i + 2] = colour.blue;
    }
    TjHandle encoder(tjInitCompress());
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjCompress2(encoder.get(), rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_422, 90, 0) !=
        0)
        return {};
    TjBuffer owned(out);
    return std::string(reinterpret_cast<const char*>(out), size);
}

std::string FlatYuyv(int width, int height, Rgb c) {
    const auto clamp = [](double v) { return static_cast<char>(std::clamp(std::lround(v), 0L, 255L)); };
    const double y = 16 + 0.257 * c.red + 0.504 * c.green + 0.098 * c.blue;
    const double u = 128 - 0.148 * c.red - 0.291 * c.green + 0.439 * c.blue;
    const double v = 128 + 0.439 * c.red - 0.368 * c.green - 0.071 * c.blue;
    std::string frame;
    frame.reserve(static_cast<size_t>(width) * height * 2);
    for (int i = 0; i < width * height / 2; ++i) frame += {clamp(y), clamp(u), clamp(y), clamp(v)};
    return frame;
}

bool WriteVideoFile(const std::string& path, const char* container, bool yuyv, int width, int height,
                    int framesPerSecond, const std::vector<std::string>& packets, int rawPixelFormat) {
    AVFormatContext* made = nullptr;
    if (avformat_alloc_output_context2(&made, nullptr, container, path.c_str()) < 0) return false;
    AvOutputContext output(made);
    AVStream* stream = avformat_new_stream(output.get(), nullptr);
    if (stream == nullptr) return false;
    AVCodecParameters& codec = *stream->codecpar;
    codec.codec_type = AVMEDIA_TYPE_VIDEO;
    codec.width = width;
    codec.height = height;
    if (yuyv || rawPixelFormat >= 0) {
        codec.codec_id = AV_CODEC_ID_RAWVIDEO;
        codec.format = rawPixelFormat >= 0 ? rawPixelFormat : AV_PIX_FMT_YUYV422;
        codec.codec_tag = avcodec_pix_fmt_to_codec_tag(static_cast<AVPixelFormat>(codec.format));
    } else {
        codec.codec_id = AV_CODEC_ID_MJPEG;
        codec.format = AV_PIX_FMT_YUVJ422P;
    }
    stream->time_base = {1, framesPerSecond};
    stream->avg_frame_rate = {framesPerSecond, 1};
    if (avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return false;
    if (avformat_write_header(output.get(), nullptr) < 0) return false;
    AvPacketPtr packet(av_packet_alloc());
    for (size_t i = 0; i < packets.size(); ++i) {
        if (av_new_packet(packet.get(), static_cast<int>(packets[i].size())) < 0) return false;
        std::memcpy(packet->data, packets[i].data(), packets[i].size());
        packet->stream_index = stream->index;
        packet->flags |= AV_PKT_FLAG_KEY;
        packet->pts = packet->dts = static_cast<int64_t>(i);
        packet->duration = 1;
        av_packet_rescale_ts(packet.get(), {1, framesPerSecond}, stream->time_base);
        const int result = av_interleaved_write_frame(output.get(), packet.get());
        av_packet_unref(packet.get());
        if (result < 0) return false;
    }
    return av_write_trailer(output.get()) == 0;
}

}  // namespace orvane::test
