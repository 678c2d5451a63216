#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "recording/ffmpeg_avi_output.h"
#include "recording/ffmpeg_output.h"
#include "support/movie_probe.h"
#include "recording/observed_output.h"
#include "recording/test_frames.h"
#include "support/sandbox.h"

namespace orvane {
namespace {

using test::Bgr;
using test::MakeFrame;
using test::NumberedTop;
using test::ObservedOutput;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFps = 30;

template <class Output>
struct Container;
template <>
struct Container<FFMPEGAVIOutput> {
    static constexpr const char* kExtension = ".avi";
    static uint32_t Tag() { return test::FourCc("XVID"); }
};
template <>
struct Container<FFMPEGOutput> {
    static constexpr const char* kExtension = ".mp4";
    static uint32_t Tag() { return test::FourCc("mp4v"); }
};

int64_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

template <class Output>
class VideoOutputTest : public ::testing::Test {
protected:
    VideoOutputTest() { av_log_set_level(AV_LOG_ERROR); }

    std::string Path() const { return box / "movie"; }
    std::string File() const { return Path() + Container<Output>::kExtension; }
    int32_t Write(IVideoOutput& output, int number, double sampleTime = 0.0) {
        const std::vector<uint8_t> frame = MakeFrame(kWidth, kHeight, NumberedTop(number), test::kBottom);
        return output.WriteFrame(kWidth, kHeight, frame.data(), 24, sampleTime);
    }
    // The numbers of the frames in the file, as told by their colours.
    static std::vector<int> Numbers(const test::ProbedMovie& movie) {
        std::vector<int> numbers;
        for (const auto& frame : movie.frames) numbers.push_back(test::NumberOf(frame.top));
        return numbers;
    }
    static std::vector<int64_t> Timestamps(const test::ProbedMovie& movie) {
        std::vector<int64_t> pts;
        for (const auto& frame : movie.frames) pts.push_back(frame.pts);
        return pts;
    }

    test::Sandbox box;
    test::ManualClock clock;
};

using Outputs = ::testing::Types<FFMPEGAVIOutput, FFMPEGOutput>;
TYPED_TEST_SUITE(VideoOutputTest, Outputs);

TYPED_TEST(VideoOutputTest, RecordedMovieIsUprightMpeg4WithEveryAcceptedFrame) {
    ObservedOutput<TypeParam> output;
    output.Start(this->Path(), kFps);
    EXPECT_EQ(output.GetFileName(), this->File());
    EXPECT_FALSE(test::Exists(this->File()));

    // Ten frames one by one, then eleven in a burst that Close must drain.
    for (int number = 0; number < 21; ++number) {
        ASSERT_EQ(this->Write(output, number), 0);
        if (number == 0) {
            EXPECT_TRUE(test::Exists(this->File()));
        }
        if (number < 10) {
            ASSERT_TRUE(output.WaitEncoded(number + 1));
        }
        this->clock.Advance(33);
    }
    EXPECT_EQ(output.Close(), 0);
    EXPECT_GT(output.GetWrittenBytes(), 0u);
    EXPECT_LE(static_cast<int64_t>(output.GetWrittenBytes()), FileSize(this->File()));

    const test::ProbedMovie movie = test::ProbeMovie(this->File(), kFps);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.codecId, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(movie.codecTag, Container<TypeParam>::Tag());
    EXPECT_EQ(movie.width, kWidth);
    EXPECT_EQ(movie.height, kHeight);
    ASSERT_EQ(movie.frames.size(), 21u);
    for (int number = 0; number < 21; ++number) {
        const test::ProbedFrame& frame = movie.frames[number];
        EXPECT_EQ(frame.pts, number);
        EXPECT_TRUE(test::Near(frame.top, NumberedTop(number)))
            << "frame " << number << " top g " << frame.top.g;
        EXPECT_TRUE(test::Near(frame.bottom, test::kBottom))
            << "frame " << number << " bottom b " << frame.bottom.b;
    }
}

// A busy machine hands frames over late and in bunches; stamped by when the camera made them, every
// frame keeps its own place. A camera clock that jumps is followed from the jump on.
TYPED_TEST(VideoOutputTest, FramesTheCameraStampedKeepTheirPlaceHoweverLateTheyArrive) {
    ObservedOutput<TypeParam> output;
    output.Start(this->Path(), kFps);
    const double cameraStart = 5000.25;  // the driver's clock has its own origin
    // Arrivals (ms after the start) that put frames 1 and 2 into the same period, and 4 far behind.
    const int64_t arrivals[] = {0, 50, 60, 100, 190, 200, 205, 233};
    int64_t now = 0;
    for (int number = 0; number < 8; ++number) {
        this->clock.Advance(arrivals[number] - now);
        now = arrivals[number];
        ASSERT_EQ(this->Write(output, number, cameraStart + number / 30.0), 0);
        ASSERT_TRUE(output.WaitEncoded(number + 1));
    }
    // The camera's clock jumps back by an hour: taken afresh from the arrival.
    this->clock.Advance(267 - now);
    ASSERT_EQ(this->Write(output, 8, cameraStart - 3600.0), 0);
    ASSERT_TRUE(output.WaitEncoded(9));
    this->clock.Advance(33);
    ASSERT_EQ(this->Write(output, 9, cameraStart - 3600.0 + 1 / 30.0), 0);
    ASSERT_TRUE(output.WaitEncoded(10));
    ASSERT_EQ(output.Close(), 0);

    const test::ProbedMovie movie = test::ProbeMovie(this->File(), kFps);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(this->Timestamps(movie), (std::vector<int64_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(this->Numbers(movie), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

// A camera at 29.97 frames per second: its movie says 30000 frames every 1001 seconds, so that 300
// frames last 10.01 s and not the 10.34 s a rounded 29 fps would make of them.
TYPED_TEST(VideoOutputTest, NegotiatedRateIsRecordedExactlyAsARational) {
    ObservedOutput<TypeParam> output;
    output.Start(this->Path(), FrameRate{30000, 1001});
    int64_t elapsedUs = 0;
    for (int number = 0; number < 30; ++number) {
        ASSERT_EQ(this->Write(output, number), 0);
        ASSERT_TRUE(output.WaitEncoded(number + 1));
        const int64_t nextUs = (number + 1) * int64_t{1001000000} / 30000;
        this->clock.Advance(nextUs / 1000 - elapsedUs / 1000);
        elapsedUs = nextUs;
    }
    ASSERT_EQ(output.Close(), 0);
    const test::ProbedMovie movie = test::ProbeMovie(this->File(), kFps);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.rateFrames, 30000);
    EXPECT_EQ(movie.rateSeconds, 1001);
    ASSERT_EQ(movie.frames.size(), 30u);
    EXPECT_NEAR(movie.durationSeconds, 30 * 1001.0 / 30000, 0.002);
}

TYPED_TEST(VideoOutputTest, FirstFrameOpensTheFileAndAFailedOpenIsTriedAgain) {
    {
        TypeParam unused;
        unused.Start(this->Path(), kFps);
        EXPECT_EQ(unused.Close(), 0);
        EXPECT_FALSE(test::Exists(this->File()));
    }

    TypeParam output;
    const std::string folder = this->box / "later";
    output.Start(folder + "/movie", kFps);
    EXPECT_LT(this->Write(output, 0), 0);
    EXPECT_EQ(output.GetErrorText(), "Cannot open file");
    EXPECT_EQ(output.WriteFrame(0, 0, nullptr, 24), -1);
    EXPECT_EQ(output.GetErrorText(), "Codec not open codec");

    ASSERT_TRUE(test::MakeFolders(folder));
    EXPECT_EQ(this->Write(output, 0), 0);
    EXPECT_EQ(output.GetErrorText(), "");
    EXPECT_EQ(output.Close(), 0);
    const test::ProbedMovie movie =
        test::ProbeMovie(folder + "/movie" + Container<TypeParam>::kExtension, kFps);
    EXPECT_EQ(movie.frames.size(), 1u);
}

// Muxers refuse a timestamp that does not advance, and the frames after a refused one would refer to
// a picture missing from the file: such frames never reach the encoder. So do frames of another size.
TYPED_TEST(VideoOutputTest, FramesFasterThanTheFrameRateOrOfAnotherSizeAreDropped) {
    ObservedOutput<TypeParam> output;
    output.Start(this->Path(), kFps);
    const int64_t start = this->clock.NowMs();
    const int64_t arrivalMs[] = {0, 10, 20, 40, 55, 70, 100, 1000, 1016, 1017};
    for (int number = 0; number < 10; ++number) {
        this->clock.SetNowMs(start + arrivalMs[number]);
        ASSERT_EQ(this->Write(output, number), 0);
    }
    const std::vector<uint8_t> small = MakeFrame(kWidth / 2, kHeight / 2, NumberedTop(12), test::kBottom);
    this->clock.SetNowMs(start + 1100);
    EXPECT_EQ(output.WriteFrame(kWidth / 2, kHeight / 2, small.data(), 24), 0);
    this->clock.SetNowMs(start + 1200);
    ASSERT_EQ(this->Write(output, 10), 0);
    EXPECT_EQ(output.Close(), 0);

    const test::ProbedMovie movie = test::ProbeMovie(this->File(), kFps);
    EXPECT_EQ(this->Numbers(movie), (std::vector<int>{0, 2, 4, 6, 7, 9, 10}));
    EXPECT_EQ(this->Timestamps(movie), (std::vector<int64_t>{0, 1, 2, 3, 30, 31, 36}));
    EXPECT_EQ(output.Encoded(), 7u);
}

TYPED_TEST(VideoOutputTest, TwelfthFrameAtAFullQueueIsDropped) {
    ObservedOutput<TypeParam> output;
    output.Hold();
    output.Start(this->Path(), kFps);
    ASSERT_EQ(this->Write(output, 0), 0);
    ASSERT_TRUE(output.WaitUntilHeld());  // the worker holds frame 0; the queue is empty

    for (int number = 1; number <= 12; ++number) {
        this->clock.Advance(34);
        EXPECT_EQ(this->Write(output, number), 0) << number;  // 1 to 11 wait, 12 is dropped
    }
    output.Release();
    ASSERT_TRUE(output.WaitEncoded(12));
    this->clock.Advance(34);
    ASSERT_EQ(this->Write(output, 13), 0);
    EXPECT_EQ(output.Close(), 0);

    const test::ProbedMovie movie = test::ProbeMovie(this->File(), kFps);
    EXPECT_EQ(this->Numbers(movie), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13}));
    EXPECT_EQ(this->Timestamps(movie), (std::vector<int64_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13}));
}

// Records noise frames in a child process whose files may not grow beyond `limit` bytes (0: no
// limit). The child exits 0 when the recording reported that the file could no longer be written,
// 1 when it did not, 2 when the report came with another text.
template <class Output>
pid_t RecordInChild(const std::string& path, int64_t limit, int frames) {
    const pid_t child = ::fork();
    if (child != 0) return child;
    if (limit > 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit size{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        ::setrlimit(RLIMIT_FSIZE, &size);
    }
    int status = 1;
    {
        test::ManualClock clock;
        ObservedOutput<Output> output;
        output.Start(path, kFps);
        for (int number = 0; number < frames; ++number) {
            const std::vector<uint8_t> frame = test::MakeNoiseFrame(kWidth, kHeight, number);
            if (output.WriteFrame(kWidth, kHeight, frame.data(), 24) < 0) {
                status = output.GetErrorText().rfind("Cannot write file", 0) == 0 ? 0 : 2;
                break;
            }
            output.WaitEncoded(number + 1);
            clock.Advance(34);
        }
        output.Close();
    }
    ::_exit(status);
}

// The child's exit status, or -1 when it had to be killed after a minute.
int WaitForChild(pid_t child) { return test::WaitForChild(child, std::chrono::minutes(1)); }

TYPED_TEST(VideoOutputTest, FullDiskEndsTheRecordingAndKeepsWhatWasWritten) {
    constexpr int kFrames = 48;
    const std::string whole = this->box / "whole";
    ASSERT_EQ(WaitForChild(RecordInChild<TypeParam>(whole, 0, kFrames)), 1);
    const int64_t wholeSize = FileSize(whole + Container<TypeParam>::kExtension);
    ASSERT_GT(wholeSize, 0);

    const int64_t limit = wholeSize / 2;
    ASSERT_EQ(WaitForChild(RecordInChild<TypeParam>(this->Path(), limit, kFrames)), 0);
    EXPECT_LE(FileSize(this->File()), limit);

    // What reached the disk still plays: the first frames, in order, up to the cut.
    const test::ProbedMovie movie = test::ProbeMovie(this->File(), kFps);
    ASSERT_TRUE(movie.opened);
    EXPECT_GE(movie.frames.size(), 4u);
    EXPECT_LT(movie.frames.size(), static_cast<size_t>(kFrames));
    for (size_t index = 0; index < movie.frames.size(); ++index) EXPECT_EQ(movie.frames[index].pts, index);
}

}  // namespace
}  // namespace orvane
