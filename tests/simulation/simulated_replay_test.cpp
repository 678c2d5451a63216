#include "simulation/simulated_replay.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <sys/mman.h>

#include <cerrno>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "support/replay_media.h"
#include "simulation/simulated_camera.h"
#include "support/hostile_media.h"
#include "support/sandbox.h"

namespace orvane {
namespace {

using test::FlatJpeg;
using test::FlatYuyv;
using test::ReplayColour;
using test::WriteVideoFile;

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kFrames = 4;

std::vector<std::string> JpegFrames(int width = kWidth, int height = kHeight) {
    std::vector<std::string> frames;
    for (int i = 0; i < kFrames; ++i) frames.push_back(FlatJpeg(width, height, ReplayColour(i)));
    return frames;
}

std::vector<std::string> YuyvFrames() {
    std::vector<std::string> frames;
    for (int i = 0; i < kFrames; ++i) frames.push_back(FlatYuyv(kWidth, kHeight, ReplayColour(i)));
    return frames;
}

std::string Joined(const std::vector<std::string>& frames) {
    std::string all;
    for (const std::string& frame : frames) all += frame;
    return all;
}

std::string FrameText(const ReplayFrames& frames, size_t index) {
    return std::string(reinterpret_cast<const char*>(frames.Frame(index)), frames.FrameBytes(index));
}

std::shared_ptr<const ReplayFrames> Load(const std::string& path, std::string& error,
                                         size_t limit = kReplayMemoryLimit) {
    error.clear();
    return LoadReplayFrames(path, error, limit);
}

// A frame as a capture program dequeues it: the buffer's sequence number and its bytes.
struct Dequeued {
    uint32_t sequence;
    std::string bytes;
};

// Streams `count` frames from the first camera of `sim` through its ioctls, as the capture code does.
std::vector<Dequeued> StreamFrames(SimulatedDeviceFile& sim, size_t count) {
    std::vector<Dequeued> got;
    const int fd = sim.Open(sim.Camera(0).VideoNode(), O_RDWR);
    EXPECT_GE(fd, 0);
    v4l2_requestbuffers request{};
    request.count = 4;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    EXPECT_EQ(sim.Ioctl(fd, VIDIOC_REQBUFS, &request), 0);
    std::vector<std::pair<void*, size_t>> maps;
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer b{};
        b.index = i;
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        EXPECT_EQ(sim.Ioctl(fd, VIDIOC_QUERYBUF, &b), 0);
        maps.emplace_back(sim.Mmap(b.length, PROT_READ, MAP_SHARED, fd, b.m.offset), b.length);
        EXPECT_NE(maps.back().first, MAP_FAILED);
        EXPECT_EQ(sim.Ioctl(fd, VIDIOC_QBUF, &b), 0);
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    EXPECT_EQ(sim.Ioctl(fd, VIDIOC_STREAMON, &type), 0);
    while (got.size() < count) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        if (sim.Ioctl(fd, VIDIOC_DQBUF, &b) != 0) {
            ADD_FAILURE() << "DQBUF: " << errno;
            break;
        }
        got.push_back({b.sequence, std::string(static_cast<const char*>(maps[b.index].first), b.bytesused)});
        EXPECT_EQ(sim.Ioctl(fd, VIDIOC_QBUF, &b), 0);
    }
    EXPECT_EQ(sim.Ioctl(fd, VIDIOC_STREAMOFF, &type), 0);
    for (const auto& [address, length] : maps) sim.Munmap(address, length);
    sim.Close(fd);
    return got;
}

class SimulatedReplayTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = box / name;
        EXPECT_TRUE(test::WriteFile(path, content));
        return path;
    }
    test::Sandbox box;
};

TEST_F(SimulatedReplayTest, EveryKindOfRecordingLoadsFrameForFrameUntouched) {
    struct Case {
        const char* name;
        std::string path;
        uint32_t pixelFormat;
        FrameRate rate;
        std::vector<std::string> frames;
    };
    const std::vector<std::string> jpegs = JpegFrames();
    const std::vector<std::string> yuyv = YuyvFrames();
    std::vector<Case> cases = {
        {"raw MJPEG stream", Write("cam.mjpeg", Joined(jpegs)), V4L2_PIX_FMT_MJPEG, {0, 1}, jpegs},
        {"AVI with MJPEG", box / "mjpeg.avi", V4L2_PIX_FMT_MJPEG, 15, jpegs},
        {"MKV with MJPEG", box / "mjpeg.mkv", V4L2_PIX_FMT_MJPEG, 25, jpegs},
        {"AVI with YUYV", box / "yuyv.avi", V4L2_PIX_FMT_YUYV, 20, yuyv},
        {"MKV with YUYV", box / "yuyv.mkv", V4L2_PIX_FMT_YUYV, 10, yuyv},
    };
    for (const Case& c : cases) {
        if (c.path.ends_with(".mjpeg")) continue;
        ASSERT_TRUE(WriteVideoFile(c.path, c.path.ends_with(".avi") ? "avi" : "matroska",
                                   c.pixelFormat == V4L2_PIX_FMT_YUYV, kWidth, kHeight, c.rate.frames,
                                   c.frames))
            << c.name;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        const auto frames = Load(c.path, error);
        ASSERT_NE(frames, nullptr) << error;
        EXPECT_EQ(frames->pixelFormat, c.pixelFormat);
        EXPECT_EQ(frames->width, kWidth);
        EXPECT_EQ(frames->height, kHeight);
        EXPECT_EQ(frames->rate.PerSecond(), c.rate.PerSecond());
        EXPECT_EQ(frames->skipped, 0);
        ASSERT_EQ(frames->Count(), c.frames.size());
        for (size_t i = 0; i < c.frames.size(); ++i) EXPECT_EQ(FrameText(*frames, i), c.frames[i]) << i;
    }
}

TEST_F(SimulatedReplayTest, ReplayCameraOffersOneFormatAndSendsTheFramesInOrderOverAndOver) {
    const std::vector<std::string> jpegs = JpegFrames();
    const std::string yuyvPath = box / "yuyv.avi";
    ASSERT_TRUE(WriteVideoFile(yuyvPath, "avi", true, kWidth, kHeight, 15, YuyvFrames()));
    for (const std::string& path : {Write("cam.mjpeg", Joined(jpegs)), yuyvPath}) {
        SCOPED_TRACE(path);
        std::string error;
        const auto frames = Load(path, error);
        ASSERT_NE(frames, nullptr) << error;
        const SimulatedCameraDefinition microscope =
            SimulatedCameraDefinition::UsbCamera("USB Microscope", "0c45", "6366", "ORV0001", "1");
        // The raw stream states no rate (30 then); the AVI's 15 gives way to the one asked for.
        const bool avi = path == yuyvPath;
        SimulatedDeviceFile sim(
            {SimulatedCameraDefinition::ReplayCamera(microscope, frames, avi ? FrameRate(60) : FrameRate())});
        const int fd = sim.Open(sim.Camera(0).VideoNode(), O_RDWR);
        ASSERT_GE(fd, 0);
        v4l2_fmtdesc format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        ASSERT_EQ(sim.Ioctl(fd, VIDIOC_ENUM_FMT, &format), 0);
        EXPECT_EQ(format.pixelformat, frames->pixelFormat);
        format.index = 1;
        EXPECT_NE(sim.Ioctl(fd, VIDIOC_ENUM_FMT, &format), 0);
        v4l2_frmsizeenum size{};
        size.pixel_format = frames->pixelFormat;
        ASSERT_EQ(sim.Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size), 0);
        EXPECT_EQ(size.discrete.width, static_cast<uint32_t>(kWidth));
        EXPECT_EQ(size.discrete.height, static_cast<uint32_t>(kHeight));
        size.index = 1;
        EXPECT_NE(sim.Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size), 0);
        v4l2_frmivalenum interval{};
        interval.pixel_format = frames->pixelFormat;
        interval.width = kWidth;
        interval.height = kHeight;
        ASSERT_EQ(sim.Ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval), 0);
        EXPECT_EQ(interval.discrete.numerator, 1u);
        EXPECT_EQ(interval.discrete.denominator, avi ? 60u : 30u);
        // Whatever is asked for, the camera stays at the file's format and size.
        v4l2_format wish{};
        wish.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        wish.fmt.pix = {1920, 1080, V4L2_PIX_FMT_YUYV + V4L2_PIX_FMT_MJPEG - frames->pixelFormat};
        ASSERT_EQ(sim.Ioctl(fd, VIDIOC_S_FMT, &wish), 0);
        EXPECT_EQ(wish.fmt.pix.pixelformat, frames->pixelFormat);
        EXPECT_EQ(wish.fmt.pix.width, static_cast<uint32_t>(kWidth));
        EXPECT_GE(wish.fmt.pix.sizeimage, frames->largest);
        sim.Close(fd);

        // Each buffer holds the file's frame for its sequence number, byte for byte, past the end.
        const std::vector<Dequeued> got = StreamFrames(sim, 2 * kFrames + 2);
        ASSERT_GE(got.size(), 2u * kFrames + 2);
        EXPECT_GE(got.back().sequence, 2u * kFrames);
        for (const Dequeued& frame : got)
            EXPECT_EQ(frame.bytes, FrameText(*frames, frame.sequence % kFrames));
    }
}

TEST_F(SimulatedReplayTest, BadAndHostileFilesAreRefusedWithTheirReason) {
    std::vector<std::string> mixed = JpegFrames();
    mixed[2] = FlatJpeg(kWidth * 2, kHeight, ReplayColour(2));
    ASSERT_TRUE(WriteVideoFile(box / "headers_only.avi", "avi", false, kWidth, kHeight, 15, {}));
    ASSERT_TRUE(WriteVideoFile(box / "nv12.avi", "avi", false, kWidth, kHeight, 15,
                               {std::string(kWidth * kHeight * 3 / 2, '\x40')}, AV_PIX_FMT_NV12));
    ASSERT_TRUE(WriteVideoFile(box / "short_yuyv.mkv", "matroska", true, kWidth, kHeight, 15,
                               {FlatYuyv(kWidth, kHeight, ReplayColour(0)), std::string(100, '\x10')}));
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {
        {box / "missing.mjpeg", "No such file"},
        {box.Path(), "cannot open"},
        {Write("notes.txt", "a few words, no picture\n"), "not a video"},
        {Write("notes.mjpeg", "a few words, no picture\n"), "no frames"},
        {Write("empty.mjpeg", ""), "no frames"},
        {box / "headers_only.avi", "no frames"},
        {Write("noise.mjpeg", std::string("\xFF\xD8\xFF") + std::string(5000, '\x5A')), "no frames"},
        {box / "nv12.avi", "replay takes MJPEG or raw YUYV"},
        {box / "short_yuyv.mkv", "frame 2 holds 100 bytes"},
        {Write("mixed.mjpeg", Joined(mixed)), "frame 3 is 128 x 48, the first was 64 x 48"},
        {Write("huge.avi", test::MjpegAvi(16, 16, 65500, 65500)), "65500 x 65500 cannot be replayed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string error;
        EXPECT_EQ(Load(c.path, error), nullptr);
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }

    // A file whose frames would not fit in the memory allowed names the limit.
    std::string error;
    const std::string big = Write("big.mjpeg", Joined(JpegFrames()));
    EXPECT_EQ(Load(big, error, 1000), nullptr);
    EXPECT_NE(error.find("more than 1000 bytes"), std::string::npos) << error;
    EXPECT_NE(Load(big, error, 1 << 20), nullptr) << error;

    // A picture without a readable header among good ones is left out; the others replay.
    std::vector<std::string> damaged = JpegFrames();
    damaged.insert(damaged.begin() + 1, std::string("\xFF\xD8") + std::string(200, '\0') + "\xFF\xD9");
    ASSERT_TRUE(WriteVideoFile(box / "damaged.avi", "avi", false, kWidth, kHeight, 15, damaged));
    const auto frames = Load(box / "damaged.avi", error);
    ASSERT_NE(frames, nullptr) << error;
    ASSERT_EQ(frames->Count(), static_cast<size_t>(kFrames));
    EXPECT_EQ(frames->skipped, 1);
    EXPECT_EQ(FrameText(*frames, 1), JpegFrames()[1]);
}

}  // namespace
}  // namespace orvane
