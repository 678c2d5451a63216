#include "simulation/simulated_replay.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/av_handles.h"
#include "base/turbojpeg_handles.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace orvane {

namespace {

// What one frame costs beside its bytes (its offset and the vector's slack), so that a file of
// millions of tiny packets meets the limit as well.
constexpr size_t kFrameOverhead = 64;
constexpr double kMaxFramesPerSecond = 1000.0;

std::string AvText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

bool IsYuyv(const AVCodecParameters& codec) {
    if (codec.codec_id != AV_CODEC_ID_RAWVIDEO) return false;
    if (codec.format == AV_PIX_FMT_YUYV422) return true;
    return codec.codec_tag == MKTAG('Y', 'U', 'Y', '2') || codec.codec_tag == MKTAG('Y', 'U', 'Y', 'V');
}

std::string DescribeCodec(const AVCodecParameters& codec) {
    std::string name = avcodec_get_name(codec.codec_id);
    if (codec.codec_id == AV_CODEC_ID_RAWVIDEO && codec.format != AV_PIX_FMT_NONE) {
        if (const char* format = av_get_pix_fmt_name(static_cast<AVPixelFormat>(codec.format)))
            name += std::string(" ") + format;
    }
    return name;
}

// The rate the container states; raw streams and picture sequences state none (FFmpeg makes one up).
FrameRate StatedRate(const AVFormatContext& input, const AVStream& stream) {
    const std::string_view name = input.iformat->name;
    if ((input.iformat->flags & AVFMT_NOTIMESTAMPS) != 0 || name == "mjpeg" ||
        name.find("image2") != std::string_view::npos || name.find("_pipe") != std::string_view::npos)
        return {0, 1};
    for (const AVRational rate : {stream.avg_frame_rate, stream.r_frame_rate}) {
        if (rate.num > 0 && rate.den > 0 && av_q2d(rate) <= kMaxFramesPerSecond) return {rate.num, rate.den};
    }
    return {0, 1};
}

bool SizeFits(int width, int height) {
    return width > 0 && height > 0 && width <= kReplayMaxSide && height <= kReplayMaxSide;
}

class Loader {
public:
    Loader(const std::string& path, std::string& error, size_t memoryLimit)
        : path(path), error(error), memoryLimit(memoryLimit) {}

    std::shared_ptr<const ReplayFrames> Run() {
        AVFormatContext* opened = nullptr;
        if (const int result = avformat_open_input(&opened, path.c_str(), nullptr, nullptr); result < 0) {
            return Fail(result == AVERROR(ENOENT) || result == AVERROR(EACCES) || result == AVERROR(EISDIR)
                            ? "cannot open " + path + ": " + AvText(result)
                            : path + " is not a video file (" + AvText(result) + ")");
        }
        AvInputContext input(opened);
        const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (index < 0) return Fail(path + " holds no video");
        const AVStream& stream = *input->streams[index];
        const AVCodecParameters& codec = *stream.codecpar;
        auto frames = std::make_shared<ReplayFrames>();
        if (codec.codec_id == AV_CODEC_ID_MJPEG) {
            frames->pixelFormat = V4L2_PIX_FMT_MJPEG;
            decoder.reset(tjInitDecompress());
            if (!decoder) return Fail("cannot start the JPEG reader");
        } else if (IsYuyv(codec)) {
            frames->pixelFormat = V4L2_PIX_FMT_YUYV;
            frames->width = codec.width;
            frames->height = codec.height;
            if (!SizeFits(codec.width, codec.height) || codec.width % 2 != 0)
                return Fail(path + ": YUYV frames of " + std::to_string(codec.width) + " x " +
                            std::to_string(codec.height) + " cannot be replayed");
        } else {
            return Fail(path + " holds " + DescribeCodec(codec) +
                        " video; replay takes MJPEG or raw YUYV (yuyv422) only");
        }
        frames->rate = StatedRate(*input, stream);
        if (const int64_t size = avio_size(input->pb); size > 0)
            frames->data.reserve(
                static_cast<size_t>(std::min<int64_t>(size, static_cast<int64_t>(memoryLimit))));

        AvPacketPtr packet(av_packet_alloc());
        if (!packet) return Fail("out of memory");
        for (;;) {
            const int result = av_read_frame(input.get(), packet.get());
            if (result == AVERROR_EOF) break;
            if (result < 0) {
                // A cut-off end is what a recording stopped with Ctrl+C leaves: keep what came before.
                if (frames->Count() > 0) break;
                return Fail("cannot read " + path + ": " + AvText(result));
            }
            const bool ours = packet->stream_index == index;
            const bool kept = !ours || Add(*frames, *packet);
            av_packet_unref(packet.get());
            if (!kept) return nullptr;
        }
        if (frames->Count() == 0) return Fail(path + " holds no frames that can be replayed");
        return frames;
    }

private:
    std::shared_ptr<const ReplayFrames> Fail(std::string message) {
        error = std::move(message);
        return nullptr;
    }

    // Appends one packet as a frame; false with `error` set when the replay cannot go on.
    bool Add(ReplayFrames& frames, const AVPacket& packet) {
        if (packet.size <= 0) return true;
        const auto bytes = static_cast<size_t>(packet.size);
        if (frames.pixelFormat == V4L2_PIX_FMT_MJPEG) {
            int width = 0, height = 0, subsampling = 0, colourspace = 0;
            if (tjDecompressHeader3(decoder.get(), packet.data, static_cast<unsigned long>(bytes), &width,
                                    &height, &subsampling, &colourspace) != 0 ||
                width <= 0 || height <= 0) {
                ++frames.skipped;
                return true;
            }
            if (frames.width == 0) {
                if (!SizeFits(width, height)) {
                    Fail(path + ": JPEG frames of " + std::to_string(width) + " x " + std::to_string(height) +
                         " cannot be replayed");
                    return false;
                }
                frames.width = width;
                frames.height = height;
            } else if (width != frames.width || height != frames.height) {
                Fail(path + ": frame " + std::to_string(frames.Count() + frames.skipped + 1) + " is " +
                     std::to_string(width) + " x " + std::to_string(height) + ", the first was " +
                     std::to_string(frames.width) + " x " + std::to_string(frames.height) +
                     "; a replay has one frame size");
                return false;
            }
        } else {
            const size_t expected =
                static_cast<size_t>(frames.width) * static_cast<size_t>(frames.height) * 2;
            if (bytes != expected) {
                Fail(path + ": frame " + std::to_string(frames.Count() + 1) + " holds " +
                     std::to_string(bytes) + " bytes, a YUYV frame of " + std::to_string(frames.width) +
                     " x " + std::to_string(frames.height) + " holds " + std::to_string(expected));
                return false;
            }
        }
        used += bytes + kFrameOverhead;
        if (used > memoryLimit) {
            const bool mebibytes = memoryLimit >= (size_t{1} << 20);
            Fail(path + " needs more than " + std::to_string(mebibytes ? memoryLimit >> 20 : memoryLimit) +
                 (mebibytes ? " MiB" : " bytes") +
                 " of memory for its frames; replay holds every frame in memory, so replay a shorter "
                 "piece (ffmpeg -i FILE -t SECONDS -c copy piece.mkv)");
            return false;
        }
        if (frames.offsets.empty()) frames.offsets.push_back(0);
        frames.data.insert(frames.data.end(), packet.data, packet.data + bytes);
        frames.offsets.push_back(frames.data.size());
        frames.largest = std::max(frames.largest, bytes);
        return true;
    }

    const std::string& path;
    std::string& error;
    const size_t memoryLimit;
    size_t used = 0;
    TjHandle decoder;
};

}  // namespace

std::shared_ptr<const ReplayFrames> LoadReplayFrames(const std::string& path, std::string& error,
                                                     size_t memoryLimit) {
    return Loader(path, error, memoryLimit).Run();
}

}  // namespace orvane
