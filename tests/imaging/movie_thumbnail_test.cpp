#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include "imaging/movie_thumbnail.h"
#include "recording/ffmpeg_avi_output.h"
#include "recording/ffmpeg_output.h"
#include "recording/observed_output.h"
#include "recording/test_frames.h"
#include "support/sandbox.h"

namespace orvane {
namespace {

using test::Bgr;
using test::MakeFrame;

const Bgr kRed{30, 30, 220};
const Bgr kBlue{220, 40, 30};
const Bgr kGreen{40, 200, 40};

Bgr MeanColour(const BgrPicture& picture, int firstRow, int rows, int firstColumn, int columns) {
    int64_t sum[3] = {0, 0, 0};
    for (int row = firstRow; row < firstRow + rows; ++row)
        for (int x = firstColumn; x < firstColumn + columns; ++x)
            for (int c = 0; c < 3; ++c)
                sum[c] += picture.pixels[static_cast<size_t>(row) * picture.stride + x * 3 + c];
    const int64_t count = static_cast<int64_t>(rows) * columns;
    return Bgr{static_cast<int>(sum[0] / count), static_cast<int>(sum[1] / count),
               static_cast<int>(sum[2] / count)};
}

// Upper quarter `top`, lower quarter `bottom`, right to the last column.
void ExpectUpright(const BgrPicture* picture, int width, int height, Bgr top, Bgr bottom) {
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->width, width);
    EXPECT_EQ(picture->height, height);
    EXPECT_EQ(picture->stride % 4, 0);
    EXPECT_GE(picture->stride, width * 3);
    ASSERT_EQ(picture->pixels.size(), static_cast<size_t>(picture->stride) * height);
    EXPECT_TRUE(test::Near(MeanColour(*picture, 0, height / 4, 0, width), top));
    EXPECT_TRUE(test::Near(MeanColour(*picture, height - height / 4, height / 4, 0, width), bottom));
    EXPECT_TRUE(test::Near(MeanColour(*picture, 0, height / 4, width - 4, 4), top));
    EXPECT_TRUE(test::Near(MeanColour(*picture, height - height / 4, height / 4, width - 4, 4), bottom));
}

void ExpectUpright(const std::optional<BgrPicture>& picture, int width, int height, Bgr top, Bgr bottom) {
    ExpectUpright(picture ? &*picture : nullptr, width, height, top, bottom);
}
void ExpectUpright(const BgrPicture& picture, int width, int height, Bgr top, Bgr bottom) {
    ExpectUpright(&picture, width, height, top, bottom);
}

bool Truncate(const std::string& path, off_t size) { return ::truncate(path.c_str(), size) == 0; }

off_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

struct Deleter {
    void operator()(AVFormatContext* context) const {
        avio_closep(&context->pb);
        avformat_free_context(context);
    }
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

// An AVI whose first stream is sound and, with `withVideo`, whose second stream holds two pictures
// of 160 x 120, the first one red above and blue below. The sound comes first in the file.
bool WriteMovieWithSound(const std::string& path, bool withVideo) {
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "avi", path.c_str()) < 0) return false;
    std::unique_ptr<AVFormatContext, Deleter> format(raw);
    AVStream* sound = avformat_new_stream(format.get(), nullptr);
    sound->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    sound->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
    sound->codecpar->sample_rate = 8000;
    av_channel_layout_default(&sound->codecpar->ch_layout, 1);
    sound->codecpar->bits_per_coded_sample = 16;
    sound->codecpar->block_align = 2;
    sound->codecpar->bit_rate = 128000;
    sound->time_base = AVRational{1, 8000};

    std::unique_ptr<AVCodecContext, Deleter> encoder;
    AVStream* video = nullptr;
    if (withVideo) {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
        encoder.reset(avcodec_alloc_context3(codec));
        encoder->width = 160;
        encoder->height = 120;
        encoder->time_base = AVRational{1, 10};
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        if (avcodec_open2(encoder.get(), codec, nullptr) < 0) return false;
        video = avformat_new_stream(format.get(), nullptr);
        avcodec_parameters_from_context(video->codecpar, encoder.get());
        video->time_base = encoder->time_base;
    }
    if (avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return false;
    if (avformat_write_header(format.get(), nullptr) < 0) return false;

    std::unique_ptr<AVPacket, Deleter> packet(av_packet_alloc());
    for (int index = 0; index < 3; ++index) {
        std::vector<uint8_t> silence(1600);
        av_new_packet(packet.get(), static_cast<int>(silence.size()));
        std::copy(silence.begin(), silence.end(), packet->data);
        packet->stream_index = sound->index;
        packet->pts = packet->dts = av_rescale_q(index * 800, AVRational{1, 8000}, sound->time_base);
        av_write_frame(format.get(), packet.get());
        av_packet_unref(packet.get());
    }
    if (withVideo) {
        std::unique_ptr<AVFrame, Deleter> picture(av_frame_alloc());
        picture->format = AV_PIX_FMT_YUV420P;
        picture->width = 160;
        picture->height = 120;
        av_frame_get_buffer(picture.get(), 0);
        std::unique_ptr<SwsContext, Deleter> converter(sws_getContext(
            160, 120, AV_PIX_FMT_BGR24, 160, 120, AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr));
        for (int index = 0; index < 2; ++index) {
            const std::vector<uint8_t> frame = MakeFrame(160, 120, index == 0 ? kRed : kGreen, kBlue);
            const uint8_t* source[1] = {frame.data() + 119 * 480};
            const int stride[1] = {-480};
            av_frame_make_writable(picture.get());
            sws_scale(converter.get(), source, stride, 0, 120, picture->data, picture->linesize);
            picture->pts = index;
            avcodec_send_frame(encoder.get(), picture.get());
            while (avcodec_receive_packet(encoder.get(), packet.get()) >= 0) {
                packet->stream_index = video->index;
                av_packet_rescale_ts(packet.get(), encoder->time_base, video->time_base);
                av_write_frame(format.get(), packet.get());
                av_packet_unref(packet.get());
            }
        }
    }
    return av_write_trailer(format.get()) >= 0;
}

class MovieThumbnailTest : public ::testing::Test {
protected:
    MovieThumbnailTest() { av_log_set_level(AV_LOG_QUIET); }

    // A second of 322 x 240 (rows of 966 bytes, not a multiple of 4), every frame kept; only the first
    // frame is red above.
    template <class Output>
    std::string Record(const std::string& name) {
        test::ObservedOutput<Output> output;
        output.Start(box / name, 30);
        for (int index = 0; index < 30; ++index) {
            const std::vector<uint8_t> frame = MakeFrame(322, 240, index == 0 ? kRed : kGreen, kBlue);
            EXPECT_EQ(output.WriteFrame(322, 240, frame.data(), 24), 0);
            EXPECT_TRUE(output.WaitEncoded(index + 1));
            clock.Advance(34);
        }
        output.Close();
        return output.GetFileName();
    }

    test::Sandbox box;
    test::ManualClock clock;
};

TEST_F(MovieThumbnailTest, RecordedMovieGivesItsFirstFrameUprightEvenWhenCutShort) {
    for (const std::string& movie : {Record<FFMPEGAVIOutput>("M0001"), Record<FFMPEGOutput>("M0002")}) {
        SCOPED_TRACE(movie);
        std::optional<BgrPicture> first;
        std::optional<BgrPicture> second;
        std::thread other([&] { second = DecodeMovieThumbnail(movie); });
        first = DecodeMovieThumbnail(movie);
        other.join();
        ExpectUpright(first, 322, 240, kRed, kBlue);
        ASSERT_TRUE(second.has_value());
        EXPECT_EQ(second->pixels, first->pixels);

        ASSERT_TRUE(Truncate(movie, FileSize(movie) / 2));
        ExpectUpright(DecodeMovieThumbnail(movie), 322, 240, kRed, kBlue);
    }
}

TEST_F(MovieThumbnailTest, MovieWithSoundGivesThePictureOfItsVideo) {
    const std::string movie = box / "sound.avi";
    ASSERT_TRUE(WriteMovieWithSound(movie, true));
    ExpectUpright(DecodeMovieThumbnail(movie), 160, 120, kRed, kBlue);
}

TEST_F(MovieThumbnailTest, UnreadableFilesHaveNoThumbnail) {
    EXPECT_FALSE(DecodeMovieThumbnail(box / "missing.avi").has_value());

    ASSERT_TRUE(test::WriteFile(box / "empty.mp4", ""));
    EXPECT_FALSE(DecodeMovieThumbnail(box / "empty.mp4").has_value());

    const std::vector<uint8_t> noise = test::MakeNoiseFrame(100, 100, 7);
    ASSERT_TRUE(test::WriteFile(box / "noise.avi", std::string(noise.begin(), noise.end())));
    EXPECT_FALSE(DecodeMovieThumbnail(box / "noise.avi").has_value());

    ASSERT_TRUE(WriteMovieWithSound(box / "sound-only.avi", false));
    EXPECT_FALSE(DecodeMovieThumbnail(box / "sound-only.avi").has_value());

    const std::string movie = Record<FFMPEGAVIOutput>("M0003");
    ASSERT_TRUE(Truncate(movie, 300));  // inside the header: no picture left
    EXPECT_FALSE(DecodeMovieThumbnail(movie).has_value());
}

TEST_F(MovieThumbnailTest, ThumbnailsComeAtTheWantedSizeWithinTheirLimits) {
    const std::string movie = Record<FFMPEGOutput>("M0004");
    const auto wanted = [](int32_t, int32_t) { return std::pair<int32_t, int32_t>(134, 100); };
    MovieThumbnail thumbnail =
        DecodeMovieThumbnail(movie, wanted, ThumbnailLimits::Within(std::chrono::seconds(10)));
    ASSERT_EQ(thumbnail.status, ThumbnailStatus::Ok);
    EXPECT_EQ(thumbnail.sourceWidth, 322);
    EXPECT_EQ(thumbnail.sourceHeight, 240);
    ExpectUpright(thumbnail.picture, 134, 100, kRed, kBlue);

    // Out of time before it starts, or no longer wanted.
    ThumbnailLimits late;
    late.deadline = ThumbnailLimits::Clock::now();
    EXPECT_EQ(DecodeMovieThumbnail(movie, wanted, late).status, ThumbnailStatus::NoPicture);
    std::atomic<bool> cancelled{true};
    ThumbnailLimits unwanted;
    unwanted.cancelled = &cancelled;
    EXPECT_EQ(DecodeMovieThumbnail(movie, wanted, unwanted).status, ThumbnailStatus::Cancelled);
    // Frames larger than the limit are refused, whatever the container.
    ThumbnailLimits small;
    small.maxBufferedPixels = 320 * 240;
    EXPECT_EQ(DecodeMovieThumbnail(movie, wanted, small).status, ThumbnailStatus::NoPicture);
    // Any other container under a movie's name is not read.
    const std::string matroska = box / "other.avi";
    ASSERT_TRUE(test::WriteFile(matroska, std::string("\x1a\x45\xdf\xa3", 4) + std::string(200, '\0')));
    EXPECT_EQ(
        DecodeMovieThumbnail(matroska, wanted, ThumbnailLimits::Within(std::chrono::seconds(10))).status,
        ThumbnailStatus::NoPicture);
}

}  // namespace
}  // namespace orvane
