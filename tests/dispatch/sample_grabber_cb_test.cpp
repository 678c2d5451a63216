#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "base/turbojpeg_handles.h"
#include "dispatch/grabber_fixture.h"
#include "recording/recording_slot.h"
#include "support/photo_resolution.h"

namespace orvane {
namespace {

using test::GrabberFixture;
using test::ListFolder;
using test::ReadFile;

// The photo's pixels as grey values, top row first; empty when it is no JPEG.
std::vector<uint8_t> DecodeGrey(const std::string& jpeg) {
    TjHandle decoder(tjInitDecompress());
    const auto* data = reinterpret_cast<const unsigned char*>(jpeg.data());
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (decoder == nullptr ||
        tjDecompressHeader3(decoder.get(), data, jpeg.size(), &width, &height, &subsampling, &colourspace) != 0) {
        return {};
    }
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
    if (tjDecompress2(decoder.get(), data, jpeg.size(), pixels.data(), width, 0, height, TJPF_GRAY, 0) != 0) {
        return {};
    }
    return pixels;
}

TEST_F(GrabberFixture, IdleFrameIsLeftUntouchedAndNothingIsPosted) {
    const std::vector<uint8_t> before = frame;
    EXPECT_EQ(Deliver(preview), S_OK);
    EXPECT_EQ(frame, before);
    EXPECT_EQ(saver.Pending(), 0u);
    EXPECT_TRUE(SingleShots().empty());
    EXPECT_EQ(viewer.Count(WM_SHOT_DONE) + viewer.Count(WM_TIMED_SHOT_END) + viewer.Count(WM_RECORDING_END),
              0u);
}

TEST_F(GrabberFixture, PendingPhotoIsWrittenAnnouncedAndCleared) {
    viewer.state.shotPending = 1;
    EXPECT_EQ(Deliver(preview), S_OK);
    EXPECT_EQ(viewer.state.shotPending.load(), 0);
    ASSERT_EQ(SingleShots(), std::vector<std::string>{"S20240131_0001.jpg"});
    EXPECT_EQ(viewer.Count(WM_SHOT_DONE), 1u) << "posted once the photo was written";
    ASSERT_EQ(viewer.Saved().size(), 1u);
    EXPECT_EQ(viewer.Saved()[0], box / "media/zentrova/Single Shots/S20240131_0001.jpg");

    EXPECT_EQ(Deliver(preview), S_OK);
    EXPECT_EQ(SingleShots().size(), 1u) << "one request, one photo";
    EXPECT_EQ(viewer.Count(WM_SHOT_DONE), 1u);
}

TEST_F(GrabberFixture, PhotoWithoutAPathStillEndsTheRequestOnce) {
    // The dated layout under a user folder that does not exist cannot form a path.
    SetLayout(1, box / "missing");
    viewer.state.shotPending = 1;
    EXPECT_EQ(Deliver(preview), S_OK);
    EXPECT_EQ(viewer.state.shotPending.load(), 0);
    saver.WaitIdle();
    EXPECT_EQ(viewer.Count(WM_SHOT_DONE), 1u);
    EXPECT_TRUE(viewer.Saved().empty());
    EXPECT_FALSE(test::Exists(box / "missing"));
}

TEST_F(GrabberFixture, NullFrameWithWorkPendingKeepsTheRequest) {
    viewer.state.shotPending = 1;
    EXPECT_EQ(preview.BufferCB(0.0, nullptr, 0), E_POINTER);
    EXPECT_EQ(viewer.state.shotPending.load(), 1);
    EXPECT_EQ(viewer.Count(WM_SHOT_DONE), 0u);
}

TEST_F(GrabberFixture, ShortFrameIsNeverReadAsAWholePicture) {
    viewer.state.shotPending = 1;
    rotation.AddOperation(RotateOp::Rotate180);
    EXPECT_EQ(preview.BufferCB(0.0, frame.data(), static_cast<int32_t>(frame.size() / 2)), S_OK);
    EXPECT_EQ(saver.Pending(), 0u) << "nothing was handed over";
    EXPECT_TRUE(SingleShots().empty());
    EXPECT_EQ(viewer.Count(WM_SHOT_DONE), 1u) << "the request still ends";
}

TEST_F(GrabberFixture, StillPinFrameBecomesAPhotoAndLeavesThePendingRequest) {
    viewer.state.shotPending = 1;
    EXPECT_EQ(Deliver(still), S_OK);
    EXPECT_EQ(viewer.state.shotPending.load(), 1);
    EXPECT_EQ(SingleShots().size(), 1u);
    EXPECT_EQ(viewer.Saved().size(), 1u);
    EXPECT_EQ(viewer.Count(WM_SHOT_DONE), 0u);
}

TEST_F(GrabberFixture, QueuedRotationTurnsTheFrameBeforeItIsUsed) {
    rotation.AddOperation(RotateOp::FlipVertical);
    viewer.state.shotPending = 1;
    EXPECT_EQ(Deliver(preview), S_OK);
    EXPECT_EQ(frame[0], 230) << "the bottom row in memory now holds the former top";
    // Changing the frame after the hand-over does not reach the photo: the saver works on a copy.
    std::fill(frame.begin(), frame.end(), uint8_t{128});
    const std::vector<std::string> shots = SingleShots();
    ASSERT_EQ(shots.size(), 1u);
    const std::vector<uint8_t> pixels = DecodeGrey(ReadFile(box / ("media/zentrova/Single Shots/" + shots[0])));
    ASSERT_EQ(pixels.size(), size_t{kWidth} * kHeight);
    EXPECT_LT(pixels.front(), 60) << "the photo's top row is the former bottom";
    EXPECT_GT(pixels.back(), 200);
}

// Feeds frames at the given times (ms after the start) and returns the times that were taken.
class TimedShotSchedule : public GrabberFixture {
protected:
    std::vector<int64_t> Run(const std::vector<int64_t>& times, int32_t intervalMs, float hours = 1.0f) {
        const int64_t start = clock.NowMs();
        viewer.state.timedShotIntervalMs = intervalMs;
        viewer.state.timedShotHours = hours;
        preview.ResetTimedSeries(start);
        viewer.state.timedShotRunning.store(1, std::memory_order_release);
        std::vector<int64_t> taken;
        for (int64_t t : times) {
            clock.SetNowMs(start + t);
            const int32_t before = preview.timedShotCount.load();
            Deliver(preview);
            if (preview.timedShotCount.load() > before) taken.push_back(t);
        }
        return taken;
    }
};

// What each frame may become decides how it is converted: only shown, recorded, or exact for a photo.
TEST_F(GrabberFixture, EachFrameIsAskedForAsWhatItMayBecome) {
    constexpr int64_t kAhead = 100;
    EXPECT_EQ(preview.NextFrameUse(kAhead), FrameUse::Shown);
    EXPECT_EQ(still.NextFrameUse(kAhead), FrameUse::Photo) << "every frame of the snapshot button is a photo";
    viewer.state.recordingRunning = 1;
    EXPECT_EQ(preview.NextFrameUse(kAhead), FrameUse::Recorded);
    viewer.state.shotPending = 1;
    EXPECT_EQ(preview.NextFrameUse(kAhead), FrameUse::Photo) << "a photo while recording is exact";
    viewer.state.shotPending = 0;
    viewer.state.recordingRunning = 0;

    // A one-minute series of one shot a second: the first frame, then each frame near a due shot.
    const int64_t start = clock.NowMs();
    viewer.state.timedShotIntervalMs = 1000;
    viewer.state.timedShotHours = 1.0f / 60;
    preview.ResetTimedSeries(start);
    viewer.state.timedShotRunning = 1;
    EXPECT_EQ(preview.NextFrameUse(kAhead), FrameUse::Photo);
    Deliver(preview);
    ASSERT_EQ(preview.timedShotCount.load(), 1);
    clock.SetNowMs(start + 500);
    EXPECT_EQ(preview.NextFrameUse(kAhead), FrameUse::Shown);
    clock.SetNowMs(start + 950);
    EXPECT_EQ(preview.NextFrameUse(kAhead), FrameUse::Photo) << "due within the look-ahead";
    clock.SetNowMs(start + 1000);
    Deliver(preview);
    ASSERT_EQ(preview.timedShotCount.load(), 2);
    clock.SetNowMs(start + 1400);
    EXPECT_EQ(preview.NextFrameUse(kAhead), FrameUse::Shown);
    // An overdue shot wants every frame until it is taken.
    clock.SetNowMs(start + 3500);
    EXPECT_EQ(preview.NextFrameUse(kAhead), FrameUse::Photo);
    // The series' end is noticed on a frame as well.
    preview.lastShotMs = start + 59950;
    preview.timedShotCount = 60;
    clock.SetNowMs(start + 59960);
    EXPECT_EQ(preview.NextFrameUse(kAhead), FrameUse::Photo);
    viewer.state.timedShotRunning = 0;
    EXPECT_EQ(preview.NextFrameUse(kAhead), FrameUse::Shown);
    preview.owner = nullptr;
    EXPECT_EQ(preview.NextFrameUse(kAhead), FrameUse::Shown);
}

TEST_F(TimedShotSchedule, SteadyFramesCatchUpWithTheSchedule) {
    std::vector<int64_t> times;
    for (int64_t t = 0; t < 8000; t += 400) times.push_back(t);
    EXPECT_EQ(Run(times, 1000), (std::vector<int64_t>{0, 1200, 2400, 3200, 4400, 5200, 6400, 7200}));
    EXPECT_EQ(preview.timedShotCount.load(), 8);
}

TEST_F(TimedShotSchedule, AfterAStallEveryFrameIsTakenUntilTheCountCatchesUp) {
    std::vector<int64_t> times;
    for (int64_t t = 0; t <= 2000; t += 400) times.push_back(t);
    for (int64_t t = 5500; t <= 8300; t += 400) times.push_back(t);
    EXPECT_EQ(Run(times, 1000), (std::vector<int64_t>{0, 1200, 5500, 5900, 6300, 6700, 7100, 7500, 8300}));
}

TEST_F(TimedShotSchedule, SeriesEndsStrictlyAfterItsDuration) {
    Run({0, 60000}, 1000, 1.0f / 60.0f);
    EXPECT_EQ(viewer.Count(WM_TIMED_SHOT_END), 0u) << "exactly the duration does not end it";
    const int32_t taken = preview.timedShotCount.load();
    clock.SetNowMs(preview.timedStartMs.load() + 61000);
    Deliver(preview);
    EXPECT_EQ(preview.timedShotCount.load(), taken + 1) << "a shot due on the last frame is still taken";
    EXPECT_EQ(viewer.Count(WM_TIMED_SHOT_END), 1u);
    Deliver(preview);
    EXPECT_EQ(viewer.Count(WM_TIMED_SHOT_END), 2u) << "repeated until the viewer stops the series";
}

TEST_F(TimedShotSchedule, SixtyThousandAndOneMillisecondsEndsAOneMinuteSeries) {
    Run({0, 60001}, 1000, 1.0f / 60.0f);
    EXPECT_EQ(viewer.Count(WM_TIMED_SHOT_END), 1u);
}

TEST_F(TimedShotSchedule, SeriesLongerThan49DaysKeepsItsSchedule) {
    const int64_t day = 86'400'000;
    const int64_t start = clock.NowMs();
    viewer.state.timedShotIntervalMs = static_cast<int32_t>(day);
    viewer.state.timedShotHours = 100 * 24.0f;
    preview.ResetTimedSeries(start);
    preview.timedShotCount = 50;
    preview.lastShotMs = start + 50 * day - 2000;
    viewer.state.timedShotRunning = 1;
    // 50 x one day does not fit 32 bits; formed in 32 bits the series would seem behind.
    clock.SetNowMs(start + 50 * day - 1000);
    Deliver(preview);
    EXPECT_EQ(preview.timedShotCount.load(), 50);
    clock.SetNowMs(start + 50 * day + 1);
    Deliver(preview);
    EXPECT_EQ(preview.timedShotCount.load(), 51);
}

using PhotoSaverTest = GrabberFixture;

TEST_F(PhotoSaverTest, TimedShotsAreWrittenInOrderAndWhatWaitsIsWrittenBeforeItEnds) {
    ASSERT_TRUE(locations.BeginTimedShots(settings.GetUsingParam().GetTimedShotsFolder()));
    saver.Stop();
    saver.Start(nullptr);  // nothing reported: only the files count here
    for (int i = 0; i < 3; ++i) {
        frame[0] = static_cast<uint8_t>(i * 100);
        ASSERT_TRUE(saver.EnqueueTimedShot(frame.data(), kWidth, kHeight));
    }
    saver.Stop();
    EXPECT_EQ(ListFolder(box / "media/zentrova/Timed Shots"),
              (std::vector<std::string>{"T20240131_001_0001.jpg", "T20240131_001_0002.jpg",
                                        "T20240131_001_0003.jpg"}));
    EXPECT_FALSE(saver.EnqueueTimedShot(frame.data(), kWidth, kHeight)) << "a stopped saver takes nothing";
}

TEST_F(PhotoSaverTest, AFailedTimedShotEndsTheSeriesDropsTheRestAndKeepsSinglePhotos) {
    SetLayout(1, box / "missing");  // no path can be formed
    for (int i = 0; i < 5; ++i) saver.EnqueueTimedShot(frame.data(), kWidth, kHeight);
    saver.WaitIdle();
    EXPECT_GE(viewer.Count(WM_TIMED_SHOT_END), 1u);
    EXPECT_EQ(saver.PendingTimedShots(), 0u);
    EXPECT_TRUE(viewer.Saved().empty());

    SetLayout(0);
    const size_t ends = viewer.Count(WM_TIMED_SHOT_END);
    saver.EnqueueTimedShot(frame.data(), kWidth, kHeight);
    ASSERT_TRUE(saver.EnqueueSinglePhoto(frame.data(), kWidth, kHeight, true));
    EXPECT_EQ(SingleShots().size(), 1u);
    EXPECT_EQ(viewer.Count(WM_SHOT_DONE), 1u);
    EXPECT_GE(viewer.Count(WM_TIMED_SHOT_END), ends);
}

TEST_F(PhotoSaverTest, EachPhotoKeepsTheSizeItWasHandedWith) {
    ASSERT_TRUE(saver.EnqueueSinglePhoto(frame.data(), kWidth, kHeight, false));
    const std::vector<uint8_t> small(size_t{3} * 32 * 24, 90);
    ASSERT_TRUE(saver.EnqueueSinglePhoto(small.data(), 32, 24, false));
    const std::vector<std::string> shots = SingleShots();
    ASSERT_EQ(shots.size(), 2u);
    // Written at the chosen photo size, scaled from the 32 x 24 picture it was handed (read as
    // anything larger, it would run past the copy's end).
    const std::vector<uint8_t> pixels = DecodeGrey(ReadFile(box / ("media/zentrova/Single Shots/" + shots[1])));
    ASSERT_EQ(pixels.size(), size_t{kWidth} * kHeight);
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](uint8_t v) { return v > 80 && v < 100; }));
}

// The button on the screen and the camera's own button pressed at the same moment, again and
// again: every photo gets a name of its own and none replaces another.
TEST_F(PhotoSaverTest, TwoPhotoPathsFiredTogetherNeverShareAName) {
    constexpr int kRounds = 200;
    std::vector<uint8_t> stillFrame = frame;
    for (int round = 0; round < kRounds; ++round) {
        viewer.state.shotPending = 1;
        std::thread button([&] { still.BufferCB(0.0, stillFrame.data(), static_cast<int32_t>(stillFrame.size())); });
        Deliver(preview);
        button.join();
    }
    const std::vector<std::string> shots = SingleShots();
    EXPECT_EQ(shots.size(), size_t{2} * kRounds);
    EXPECT_EQ(viewer.Saved().size(), size_t{2} * kRounds);
    EXPECT_EQ(viewer.Count(WM_SHOT_DONE), size_t{kRounds});
    for (const std::string& name : shots) {
        EXPECT_EQ(DecodeGrey(ReadFile(box / ("media/zentrova/Single Shots/" + name))).size(),
                  size_t{kWidth} * kHeight)
            << name;
    }
}

// An output that records what it is handed, with a byte count and a result the test chooses.
class CountingOutput final : public IVideoOutput {
public:
    void Start(const std::string&, FrameRate) override {}
    int32_t Close() override { return 0; }
    int32_t WriteFrame(int32_t width, int32_t height, const uint8_t* bits, int32_t bitsPerPixel,
                       double = 0.0) override {
        ++frames;
        lastFrame.assign(bits, bits + size_t{3} * width * height);
        lastWidth = width, lastHeight = height, lastBits = bitsPerPixel;
        return result;
    }
    std::string GetFileName() const override { return "movie.avi"; }
    uint64_t GetWrittenBytes() const override { return written; }
    std::string GetErrorText() const override { return "Disk full while writing movie.avi"; }

    int frames = 0;
    std::vector<uint8_t> lastFrame;
    int32_t lastWidth = 0, lastHeight = 0, lastBits = 0;
    int32_t result = 0;
    uint64_t written = 0;
};

class RecordingStep : public GrabberFixture {
protected:
    RecordingStep() {
        auto out = std::make_unique<CountingOutput>();
        output = out.get();
        std::lock_guard<std::mutex> guard(g_recordingLock);
        g_recordingOutput = std::move(out);
    }
    ~RecordingStep() override {
        std::lock_guard<std::mutex> guard(g_recordingLock);
        g_recordingOutput.reset();
    }
    void SetMaximumMegabytes(int32_t mb) {
        CSettingParam p = settings.GetUsingParam();
        p.moviesizemax = mb;
        settings.SetUsingParam(p);
    }
    CountingOutput* output = nullptr;
};

TEST_F(RecordingStep, FramesReachTheOutputUntilTheSizeLimit) {
    viewer.state.recordingRunning = 1;
    SetMaximumMegabytes(16);
    output->written = 16'777'215;
    Deliver(preview);
    EXPECT_EQ(output->frames, 1);
    EXPECT_EQ(output->lastWidth, kWidth);
    EXPECT_EQ(output->lastHeight, kHeight);
    EXPECT_EQ(output->lastBits, 24);
    EXPECT_EQ(viewer.Count(WM_RECORDING_END), 0u);

    output->written = 16'777'216;
    Deliver(preview);
    Deliver(preview);
    EXPECT_EQ(output->frames, 1) << "a file at its limit takes no more frames";
    EXPECT_EQ(viewer.Count(WM_RECORDING_END), 2u) << "asked on every frame until stopped";
}

TEST_F(RecordingStep, LargestLimitIsFourGigabytes) {
    viewer.state.recordingRunning = 1;
    SetMaximumMegabytes(4096);
    output->written = 4'294'967'295;
    Deliver(preview);
    EXPECT_EQ(output->frames, 1);
    output->written = 4'294'967'296;
    Deliver(preview);
    EXPECT_EQ(output->frames, 1);
}

TEST_F(RecordingStep, WriteFailureShowsTheOutputsTextAndEndsTheRecording) {
    viewer.state.recordingRunning = 1;
    output->result = -1;
    Deliver(preview);
    ASSERT_EQ(alerts.Alerts().size(), 1u);
    EXPECT_EQ(alerts.Alerts()[0], "Disk full while writing movie.avi");
    EXPECT_EQ(viewer.Count(WM_RECORDING_END), 1u);
}

TEST_F(RecordingStep, OneFrameServesPhotoSeriesAndRecording) {
    viewer.state.shotPending = 1;
    preview.ResetTimedSeries(clock.NowMs());
    viewer.state.timedShotRunning = 1;
    viewer.state.recordingRunning = 1;
    ASSERT_TRUE(locations.BeginTimedShots(settings.GetUsingParam().GetTimedShotsFolder()));
    Deliver(preview);
    EXPECT_EQ(output->frames, 1);
    EXPECT_EQ(SingleShots().size(), 1u);
    EXPECT_EQ(TimedShots().size(), 1u);
}

// --- the scale bar and the resolution of what is saved --------------------------------------------

// Where two top-down grey pictures of the fixture's size differ by more than the encoder's noise.
struct Differences {
    int64_t inCorner = 0;  // in the lower half, right of the first quarter (a small picture's bar is wide)
    int64_t elsewhere = 0;
};

Differences Compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int32_t w, int32_t h) {
    Differences d;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            if (std::abs(int{a[size_t(y) * w + x]} - int{b[size_t(y) * w + x]}) <= 6) continue;
            (x >= w / 4 && y >= h / 2 ? d.inCorner : d.elsewhere) += 1;
        }
    }
    return d;
}

class ScaleInPhotos : public GrabberFixture {
protected:
    // The newest single photo, as written.
    std::string TakePhoto(CSampleGrabberCB& grabber) {
        const size_t before = SingleShots().size();
        if (grabber.stillPin == 0) viewer.state.shotPending = 1;
        Deliver(grabber);
        const std::vector<std::string> shots = SingleShots();
        EXPECT_EQ(shots.size(), before + 1);
        return shots.empty() ? std::string() : ReadFile(box / ("media/zentrova/Single Shots/" + shots.back()));
    }
};

TEST_F(ScaleInPhotos, CalibratedPhotosCarryTheirResolutionAndTheBarOnlyWhenBurnedIn) {
    const std::string plain = TakePhoto(preview);
    const test::PhotoResolution none = test::ReadPhotoResolution(plain);
    EXPECT_EQ(none.jfifUnit, 0);

    // 1 um per pixel at the capture size: 10000 pixels per centimetre.
    scale.Set(1e-6, LengthUnit::Micrometre, false);
    for (CSampleGrabberCB* grabber : {&preview, &still}) {
        const std::string photo = TakePhoto(*grabber);
        const test::PhotoResolution r = test::ReadPhotoResolution(photo);
        EXPECT_EQ(r.jfifUnit, 2);
        EXPECT_EQ(r.jfifX, 10000);
        EXPECT_EQ(r.jfifY, 10000);
        EXPECT_EQ(r.exifUnit, 3);
        EXPECT_NEAR(r.exifX, 10000, 1e-9);
        EXPECT_EQ(DecodeGrey(photo), DecodeGrey(plain)) << "no bar while it is not burned in";
    }

    scale.Set(1e-6, LengthUnit::Micrometre, true);
    for (CSampleGrabberCB* grabber : {&preview, &still}) {
        const std::string photo = TakePhoto(*grabber);
        EXPECT_EQ(test::ReadPhotoResolution(photo).jfifX, 10000);
        const Differences d = Compare(DecodeGrey(photo), DecodeGrey(plain), kWidth, kHeight);
        EXPECT_GT(d.inCorner, 50) << "the bar in the lower right corner";
        EXPECT_EQ(d.elsewhere, 0);
    }

    // At a larger saved size the resolution follows the size written, and so does the bar.
    CSettingParam p = settings.GetUsingParam();
    p.captureresolution = {kWidth * 2, kHeight * 2, 0, false};
    settings.SetUsingParam(p);
    const std::string large = TakePhoto(preview);
    EXPECT_EQ(test::ReadPhotoResolution(large).jfifX, 20000);
    scale.Clear();
    const Differences d = Compare(DecodeGrey(large), DecodeGrey(TakePhoto(preview)), kWidth * 2, kHeight * 2);
    EXPECT_GT(d.inCorner, 50);
    EXPECT_EQ(d.elsewhere, 0);
}

TEST_F(ScaleInPhotos, BarIsDrawnAfterTheFrameIsTurned) {
    rotation.AddOperation(RotateOp::Rotate180);
    const std::string turned = TakePhoto(preview);
    rotation.AddOperation(RotateOp::Rotate180);
    scale.Set(1e-6, LengthUnit::Micrometre, true);
    const std::string marked = TakePhoto(preview);
    const Differences d = Compare(DecodeGrey(marked), DecodeGrey(turned), kWidth, kHeight);
    EXPECT_GT(d.inCorner, 50) << "the bar stands where the user sees the lower right corner";
    EXPECT_EQ(d.elsewhere, 0);
}

TEST_F(RecordingStep, BurnedInBarReachesTheMovieButNotTheFrameItself) {
    viewer.state.recordingRunning = 1;
    const std::vector<uint8_t> source = frame;
    scale.Set(1e-6, LengthUnit::Micrometre, false);
    Deliver(preview);
    EXPECT_EQ(output->lastFrame, source) << "a calibration alone does not mark the movie";

    scale.Set(1e-6, LengthUnit::Micrometre, true);
    Deliver(preview);
    ASSERT_EQ(output->frames, 2);
    EXPECT_EQ(frame, source) << "the frame goes on to the live picture unmarked";
    std::vector<uint8_t> expected = source;
    DrawScaleBar(expected.data(), kWidth, kHeight, ChooseScaleBar(1e-6, kWidth, LengthUnit::Micrometre));
    ASSERT_NE(expected, source);
    EXPECT_EQ(output->lastFrame, expected);

    scale.Clear();
    Deliver(preview);
    EXPECT_EQ(output->lastFrame, source);
}

}  // namespace
}  // namespace orvane
