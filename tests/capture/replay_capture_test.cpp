#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "capture/capture_video_fixture.h"
#include "capture/frame_sink.h"
#include "dispatch/sample_grabber_cb.h"
#include "simulation/simulated_camera.h"
#include "simulation/simulated_replay.h"
#include "support/replay_media.h"

namespace orvane {
namespace {

using namespace std::chrono_literals;
using test::ReplayColour;
using test::WaitUntil;

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kFrames = 5;

// The replayed frame a picture shows: the test recording's colour nearest to the pixel (red, green,
// blue), -1 when none is near.
int FrameShown(const uint8_t* rgb) {
    for (int i = 0; i < kFrames; ++i) {
        const test::Rgb c = ReplayColour(i);
        if (std::abs(rgb[0] - c.red) <= 24 && std::abs(rgb[1] - c.green) <= 24 &&
            std::abs(rgb[2] - c.blue) <= 24)
            return i;
    }
    return -1;
}

// Notes which replayed frame every converted frame shows, then hands it on to the dispatcher.
class ShownFrames final : public IFrameSink {
public:
    explicit ShownFrames(IFrameSink& next) : next(next) {}
    void SetFrameSize(int32_t width, int32_t height) override {
        next.SetFrameSize(width, height);
        std::lock_guard lock(shownLock);
        this->width = width;
        this->height = height;
    }
    HRESULT BufferCB(double sampleTime, uint8_t* bits, int32_t length) override {
        {
            std::lock_guard lock(shownLock);
            const uint8_t* bgr = bits + (static_cast<size_t>(height / 2) * width + width / 2) * 3;
            const uint8_t rgb[3] = {bgr[2], bgr[1], bgr[0]};
            shown.push_back(FrameShown(rgb));
        }
        return next.BufferCB(sampleTime, bits, length);
    }
    FrameUse NextFrameUse(int64_t withinMs) override { return next.NextFrameUse(withinMs); }
    // A frame only shown is noted as the replayed frame it shows plus kViewOnly.
    void TurnViewFrame(uint8_t* bits, int32_t frameWidth, int32_t frameHeight) override {
        {
            std::lock_guard lock(shownLock);
            const uint8_t* bgr = bits + (static_cast<size_t>(frameHeight / 2) * frameWidth + frameWidth / 2) * 3;
            const uint8_t rgb[3] = {bgr[2], bgr[1], bgr[0]};
            const int frame = FrameShown(rgb);
            shown.push_back(frame < 0 ? frame : frame + kViewOnly);
        }
        next.TurnViewFrame(bits, frameWidth, frameHeight);
    }
    std::vector<int> Shown() const {
        std::lock_guard lock(shownLock);
        return shown;
    }
    static constexpr int kViewOnly = 100;

private:
    IFrameSink& next;
    mutable std::mutex shownLock;  // guards everything below
    int32_t width = 0;
    int32_t height = 0;
    std::vector<int> shown;
};

// The capture object and the dispatcher over the replay camera, writing below a sandbox: the capture
// object's fixture with a replay camera instead of its own, and no capture size stored, so that photos
// keep the file's frame size.
class ReplayCaptureTest : public test::CaptureVideoTest {
protected:
    ReplayCaptureTest() {
        CSettingParam param = settings.GetUsingParam();
        param.captureresolution = {};
        settings.SetUsingParam(param);
    }
    // The capture object reads `sink`, which goes before the fixture's own members.
    ~ReplayCaptureTest() override { capture.reset(); }

    // Starts the preview of a replay of `file` at 30 frames per second.
    void StartReplay(const std::string& file, int width = kWidth, int height = kHeight) {
        std::string error;
        auto frames = LoadReplayFrames(file, error);
        ASSERT_NE(frames, nullptr) << error;
        capture.reset();
        sim = std::make_unique<SimulatedDeviceFile>(
            std::vector<SimulatedCameraDefinition>{SimulatedCameraDefinition::ReplayCamera(
                SimulatedCameraDefinition::UsbCamera("USB Microscope", "0c45", "6366", "ORV0001", "1"),
                frames, 30)});
        capture = std::make_unique<CCaptureVideo>(
            CaptureVideoServices{sim.get(), &link, &strings, &hive, &sink, nullptr, &recorder});
        capture->SetViewer(&viewer);
        CaptureResolution request;  // no preference: the camera's one size
        ASSERT_EQ(capture->StartPreview(0, nullptr, request), S_OK);
        EXPECT_EQ(request.width, width);
        EXPECT_EQ(request.height, height);
        EXPECT_EQ(capture->StreamingPixelFormat(), frames->pixelFormat);
    }

    ShownFrames sink{g_previewGrabber};
};

TEST_F(ReplayCaptureTest, ReplayedFramesReachTheDispatcherInOrderAndAPhotoHasTheFilesSize) {
    std::vector<std::string> jpegs, yuyv;
    for (int i = 0; i < kFrames; ++i) {
        jpegs.push_back(test::FlatJpeg(kWidth, kHeight, ReplayColour(i)));
        yuyv.push_back(test::FlatYuyv(kWidth, kHeight, ReplayColour(i)));
    }
    ASSERT_TRUE(test::WriteFile(box / "cam.mjpeg", jpegs[0] + jpegs[1] + jpegs[2] + jpegs[3] + jpegs[4]));
    ASSERT_TRUE(test::WriteVideoFile(box / "yuyv.mkv", "matroska", true, kWidth, kHeight, 30, yuyv));
    for (const char* file : {"cam.mjpeg", "yuyv.mkv"}) {
        SCOPED_TRACE(file);
        StartReplay(box / file);
        const size_t seen = sink.Shown().size();
        ASSERT_TRUE(WaitUntil([&] { return sink.Shown().size() >= seen + 2 * kFrames + 1; }));

        // Each frame shows the file's next one, from the first again after the last; a frame the camera
        // made while no buffer was free is missing, as from a real camera.
        const std::vector<int> shown = sink.Shown();
        const bool lost = capture->GetCaptureStats().lost > 0;
        for (size_t i = seen; i < shown.size(); ++i) {
            ASSERT_GE(shown[i], 0) << i;
            if (i > seen && !lost) {
                EXPECT_EQ(shown[i], (shown[i - 1] + 1) % kFrames) << i;
            }
        }

        // A photo of the replay decodes to the file's frame size.
        const std::vector<std::string> before = test::ListFolder(box / "media/zentrova/Single Shots");
        const size_t done = viewer.Count(WM_SHOT_DONE);
        viewer.state.shotPending = 1;
        ASSERT_TRUE(WaitUntil([&] { return viewer.Count(WM_SHOT_DONE) > done; }));
        std::string photo;
        for (const std::string& name : test::ListFolder(box / "media/zentrova/Single Shots")) {
            if (std::find(before.begin(), before.end(), name) == before.end())
                photo = test::ReadFile(box / ("media/zentrova/Single Shots/" + name));
        }
        ASSERT_FALSE(photo.empty());
        tjhandle decoder = tjInitDecompress();
        int width = 0, height = 0, subsampling = 0, colourspace = 0;
        EXPECT_EQ(tjDecompressHeader3(decoder, reinterpret_cast<unsigned char*>(photo.data()), photo.size(),
                                      &width, &height, &subsampling, &colourspace),
                  0);
        tjDestroy(decoder);
        EXPECT_EQ(width, kWidth);
        EXPECT_EQ(height, kHeight);
        capture->StopPreview();
    }
}

// Counts, from `from` on, how many noted frames were whole and how many only shown; and checks that
// every whole frame follows the frame before it, whether that one was shown only or whole.
struct Timeline {
    int whole = 0;
    int viewOnly = 0;
};
Timeline Follow(const std::vector<int>& shown, size_t from, bool checkOrder) {
    Timeline t;
    for (size_t i = from; i < shown.size(); ++i) {
        EXPECT_GE(shown[i], 0) << i;
        const bool view = shown[i] >= ShownFrames::kViewOnly;
        ++(view ? t.viewOnly : t.whole);
        if (checkOrder && i > from && shown[i - 1] >= 0) {
            EXPECT_EQ(shown[i] % ShownFrames::kViewOnly, (shown[i - 1] % ShownFrames::kViewOnly + 1) % kFrames) << i;
        }
    }
    return t;
}

TEST_F(ReplayCaptureTest, FramesNobodySavesAreDecodedAtTheViewsSizeAndEveryActionGetsWholeFrames) {
    constexpr int kLargeWidth = 640;
    constexpr int kLargeHeight = 480;
    std::string stream;
    for (int i = 0; i < kFrames; ++i) stream += test::FlatJpeg(kLargeWidth, kLargeHeight, ReplayColour(i));
    ASSERT_TRUE(test::WriteFile(box / "large.mjpeg", stream));
    StartReplay(box / "large.mjpeg", kLargeWidth, kLargeHeight);
    test::CaptureTestViewer& v = viewer;
    auto lostSoFar = [&] { return capture->GetCaptureStats().lost; };

    // A pane of a quarter of the width: the decoder's quarter scale, and only shown.
    capture->LiveFrames().SetViewSize(kLargeWidth / 4, kLargeHeight / 4);
    ASSERT_TRUE(WaitUntil([&] { return capture->GetCaptureStats().viewFrames >= 3; }));
    FrameBuffer live;
    ASSERT_TRUE(WaitUntil([&] { return capture->LiveFrames().Take(live) && live.Width() == kLargeWidth / 4; }));
    EXPECT_EQ(live.Height(), kLargeHeight / 4);

    // A photo: the frame right after the request is whole, and so is the photo.
    size_t mark = sink.Shown().size();
    int64_t lost = lostSoFar();
    const size_t done = v.Count(WM_SHOT_DONE);
    v.state.shotPending = 1;
    ASSERT_TRUE(WaitUntil([&] { return v.Count(WM_SHOT_DONE) > done; }));
    ASSERT_TRUE(WaitUntil([&] { return sink.Shown().size() >= mark + 4; }));
    Timeline t = Follow(sink.Shown(), mark > 0 ? mark - 1 : 0, lostSoFar() == lost);
    EXPECT_GE(t.whole, 1);
    const std::vector<std::string> photos = test::ListFolder(box / "media/zentrova/Single Shots");
    ASSERT_EQ(photos.size(), 1u);
    std::string photo = test::ReadFile(box / ("media/zentrova/Single Shots/" + photos[0]));
    tjhandle decoder = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    EXPECT_EQ(tjDecompressHeader3(decoder, reinterpret_cast<unsigned char*>(photo.data()), photo.size(), &width,
                                  &height, &subsampling, &colourspace),
              0);
    tjDestroy(decoder);
    EXPECT_EQ(width, kLargeWidth);
    EXPECT_EQ(height, kLargeHeight);

    // A timed series: its first shot at once, then frames are only shown until the next shot nears.
    v.state.timedShotIntervalMs = 60000;
    v.state.timedShotHours = 1.0f;
    g_previewGrabber.ResetTimedSeries(NowMs());
    v.state.timedShotRunning = 1;
    ASSERT_TRUE(WaitUntil([&] { return g_previewGrabber.timedShotCount.load() == 1; }));
    mark = sink.Shown().size();
    ASSERT_TRUE(WaitUntil([&] { return sink.Shown().size() >= mark + 3; }));
    t = Follow(sink.Shown(), mark, false);
    EXPECT_GE(t.viewOnly, 2) << "frames between timed shots are only shown";
    // The next shot falls due within a frame or two: frames are whole from before it is due.
    mark = sink.Shown().size();
    lost = lostSoFar();
    g_previewGrabber.lastShotMs = NowMs() - 60000 + 60;
    ASSERT_TRUE(WaitUntil([&] { return g_previewGrabber.timedShotCount.load() == 2; }));
    ASSERT_TRUE(WaitUntil([&] { return sink.Shown().size() >= mark + 3; }));
    t = Follow(sink.Shown(), mark > 0 ? mark - 1 : 0, lostSoFar() == lost);
    EXPECT_GE(t.whole, 1);
    v.state.timedShotRunning = 0;

    // A recording: every frame whole while it runs, from the first on.
    mark = sink.Shown().size();
    lost = lostSoFar();
    v.state.recordingRunning = 1;
    ASSERT_TRUE(WaitUntil([&] { return sink.Shown().size() >= mark + 6; }));
    const std::vector<int> shown = sink.Shown();
    t = Follow(shown, mark + 1, lostSoFar() == lost);
    EXPECT_EQ(t.viewOnly, 0);
    v.state.recordingRunning = 0;

    // Without a view size every frame is whole again.
    capture->LiveFrames().SetViewSize(0, 0);
    const int64_t viewFrames = capture->GetCaptureStats().viewFrames;
    ASSERT_TRUE(WaitUntil([&] { return capture->LiveFrames().Take(live) && live.Width() == kLargeWidth; }));
    EXPECT_LE(capture->GetCaptureStats().viewFrames, viewFrames + 1);
    capture->StopPreview();
}

}  // namespace
}  // namespace orvane
