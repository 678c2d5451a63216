#include "imaging/movie_thumbnail.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavutil/dict.h>
}

#include "base/av_handles.h"
#include "base/unique_fd.h"
#include "imaging/iso_media_check.h"

namespace orvane {

namespace {

// The containers the program records, and nothing else a movie's name may hide.
constexpr const char* kFormats = "avi,mov,mp4";
// Probing reads at most this much and looks at most this far into the stream.
constexpr const char* kProbeBytes = "1048576";
constexpr const char* kAnalyzeMicroseconds = "1000000";
constexpr const char* kMaxStreams = "16";
// A movie gives its first picture within its first few packets; a file that does not is not read on.
constexpr int kMaxVideoPackets = 300;
constexpr int kMaxPackets = 3000;
// More samples than a recording of the largest size holds.
constexpr uint64_t kMaxSamples = 2'000'000;
constexpr auto kDefaultBudget = std::chrono::milliseconds(2000);

// Ends the decode with no picture; caught at the top.
struct NoPicture : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct DictionaryDeleter {
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};

// Asked by FFmpeg in every blocking step: non-zero ends the step with AVERROR_EXIT.
int Interrupted(void* opaque) {
    const auto* limits = static_cast<const ThumbnailLimits*>(opaque);
    return limits->Cancelled() || limits->Expired() ? 1 : 0;
}

bool HasPicture(const AVFrame* frame) { return frame->width > 0 && frame->height > 0; }

void CheckSize(int64_t width, int64_t height, const ThumbnailLimits& limits) {
    if (width * height > limits.maxBufferedPixels) throw NoPicture("picture too large");
}

// Takes a decoded picture if the decoder has one ready. A decode error ends the search.
bool ReceivePicture(AVCodecContext* decoder, AVFrame* frame) {
    const int received = avcodec_receive_frame(decoder, frame);
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return false;
    if (received < 0) throw NoPicture("decode video error");
    return HasPicture(frame);
}

AvInputContext OpenInput(const std::string& path, const ThumbnailLimits& limits) {
    AVFormatContext* raw = avformat_alloc_context();
    if (raw == nullptr) throw NoPicture("open file error");
    raw->interrupt_callback.callback = &Interrupted;
    raw->interrupt_callback.opaque = const_cast<ThumbnailLimits*>(&limits);
    AVDictionary* rawOptions = nullptr;
    av_dict_set(&rawOptions, "format_whitelist", kFormats, 0);
    av_dict_set(&rawOptions, "protocol_whitelist", "file", 0);
    av_dict_set(&rawOptions, "probesize", kProbeBytes, 0);
    av_dict_set(&rawOptions, "analyzeduration", kAnalyzeMicroseconds, 0);
    av_dict_set(&rawOptions, "max_streams", kMaxStreams, 0);
    av_dict_set(&rawOptions, "skip_estimate_duration_from_pts", "1", 0);
    std::unique_ptr<AVDictionary, DictionaryDeleter> options(rawOptions);
    // On failure avformat_open_input frees the context itself.
    AVDictionary* passed = options.release();
    const int opened = avformat_open_input(&raw, path.c_str(), nullptr, &passed);
    options.reset(passed);
    if (opened < 0) throw NoPicture("open file error");
    return AvInputContext(raw);
}

// The decoder options of every stream: one thread, and no picture beyond the limit.
AVDictionary* DecoderOptions(const ThumbnailLimits& limits) {
    AVDictionary* options = nullptr;
    av_dict_set(&options, "threads", "1", 0);
    av_dict_set_int(&options, "max_pixels", limits.maxBufferedPixels, 0);
    return options;
}

AvFramePtr DecodeFirstPicture(const std::string& path, const ThumbnailLimits& limits) {
    {
        // Only regular files (a pipe under a movie's name would hold the open), and ISO media files
        // whose tables stay within bounds.
        UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        struct stat info {};
        if (!file || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
            throw NoPicture("open file error");
        if (!IsoMediaWithinLimits(file.Get(), info.st_size, kMaxSamples)) throw NoPicture("open file error");
    }
    AvInputContext input = OpenInput(path, limits);
    // Stream information decodes pictures: none of a size beyond the limit.
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVCodecParameters* parameters = input->streams[i]->codecpar;
        if (parameters->codec_type == AVMEDIA_TYPE_VIDEO)
            CheckSize(parameters->width, parameters->height, limits);
    }
    std::vector<AVDictionary*> streamOptions(input->nb_streams, nullptr);
    for (AVDictionary*& options : streamOptions) options = DecoderOptions(limits);
    const int found = avformat_find_stream_info(input.get(), streamOptions.data());
    for (AVDictionary*& options : streamOptions) av_dict_free(&options);
    if (found < 0) throw NoPicture("get video info error");

    const int streamIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (streamIndex < 0) throw NoPicture("cannot get best stream");
    const AVCodecParameters* parameters = input->streams[streamIndex]->codecpar;
    CheckSize(parameters->width, parameters->height, limits);
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr) throw NoPicture("");
    AvCodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (decoder == nullptr || avcodec_parameters_to_context(decoder.get(), parameters) < 0)
        throw NoPicture("open codec error");
    decoder->flags |= AV_CODEC_FLAG_LOW_DELAY;
    AVDictionary* options = DecoderOptions(limits);
    const int opened = avcodec_open2(decoder.get(), codec, &options);
    av_dict_free(&options);
    if (opened < 0) throw NoPicture("open codec error");

    AvFramePtr frame(av_frame_alloc());
    AvPacketPtr packet(av_packet_alloc());
    if (frame == nullptr || packet == nullptr) throw NoPicture("alloc frame error");

    int videoPackets = 0;
    for (int packets = 0; packets < kMaxPackets && videoPackets < kMaxVideoPackets; ++packets) {
        if (Interrupted(const_cast<ThumbnailLimits*>(&limits))) throw NoPicture("interrupted");
        if (av_read_frame(input.get(), packet.get()) < 0) break;
        // An empty packet (AVI's filler for a skipped frame) would tell the decoder the stream ended.
        const bool ours = packet->stream_index == streamIndex && packet->size > 0;
        const int sent = ours ? avcodec_send_packet(decoder.get(), packet.get()) : 0;
        av_packet_unref(packet.get());
        if (!ours) continue;
        ++videoPackets;
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

BgrPicture ToBgr(const AVFrame* frame, int targetWidth, int targetHeight) {
    const int width = frame->width;
    const int height = frame->height;
    // Shrinking by much averages whole areas; at the same size the Part's bicubic filter is kept.
    const int flags = targetWidth * 2 <= width ? SWS_AREA : SWS_BICUBIC;
    SwsContextPtr converter(sws_getContext(width, height, static_cast<AVPixelFormat>(frame->format),
                                           targetWidth, targetHeight, AV_PIX_FMT_BGR24, flags, nullptr,
                                           nullptr, nullptr));
    if (converter == nullptr) throw NoPicture("convert error");
    // swscale's vector code writes whole groups of pixels and leaves the last few of each row unwritten
    // when the row is not long enough to take the overhang: convert into generous rows, then copy.
    const int convertedStride = ((targetWidth + 63) & ~63) * 3;
    std::vector<uint8_t> converted(static_cast<size_t>(convertedStride) * static_cast<size_t>(targetHeight));
    uint8_t* target[4] = {converted.data(), nullptr, nullptr, nullptr};
    const int targetStride[4] = {convertedStride, 0, 0, 0};
    if (sws_scale(converter.get(), frame->data, frame->linesize, 0, height, target, targetStride) !=
        targetHeight)
        throw NoPicture("convert error");

    BgrPicture picture;
    picture.width = targetWidth;
    picture.height = targetHeight;
    picture.stride = (targetWidth * 3 + 3) & ~3;
    picture.pixels.resize(static_cast<size_t>(picture.stride) * static_cast<size_t>(targetHeight));
    for (int row = 0; row < targetHeight; ++row)
        std::memcpy(picture.pixels.data() + static_cast<size_t>(row) * picture.stride,
                    converted.data() + static_cast<size_t>(row) * convertedStride,
                    static_cast<size_t>(targetWidth) * 3);
    return picture;
}

}  // namespace

MovieThumbnail DecodeMovieThumbnail(const std::string& path, const ThumbnailSizeFunction& wanted,
                                    const ThumbnailLimits& limits) {
    MovieThumbnail result;
    try {
        const AvFramePtr frame = DecodeFirstPicture(path, limits);
        CheckSize(frame->width, frame->height, limits);
        result.sourceWidth = frame->width;
        result.sourceHeight = frame->height;
        auto [width, height] = wanted ? wanted(frame->width, frame->height)
                                      : std::pair<int32_t, int32_t>{frame->width, frame->height};
        if (width > 0 && height > 0) {
            // Never larger than the limit allows, whatever the caller asks for.
            CheckSize(width, height, limits);
            result.picture = ToBgr(frame.get(), width, height);
        }
        result.status = ThumbnailStatus::Ok;
    } catch (...) {
        // Unreadable movies have no thumbnail; the reason is of no use to the panel.
        result = {};
        result.status = limits.Cancelled() ? ThumbnailStatus::Cancelled : ThumbnailStatus::NoPicture;
    }
    return result;
}

std::optional<BgrPicture> DecodeMovieThumbnail(const std::string& path) {
    MovieThumbnail thumbnail = DecodeMovieThumbnail(path, nullptr, ThumbnailLimits::Within(kDefaultBudget));
    if (thumbnail.status != ThumbnailStatus::Ok) return std::nullopt;
    return std::move(thumbnail.picture);
}

}  // namespace orvane
