#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "recording/ffmpeg_avi_output.h"
#include "support/movie_probe.h"
#include "recording/observed_output.h"
#include "recording/recording_slot.h"
#include "recording/test_frames.h"
#include "support/sandbox.h"

namespace orvane {
namespace {

// The resource window a finished movie is announced to.
class SavedFileRecorder final : public IResourceWindow {
public:
    void AddSavedFile(const std::string& path) override {
        std::lock_guard<std::mutex> guard(lock);
        files.push_back(path);
    }
    std::vector<std::string> Files() {
        std::lock_guard<std::mutex> guard(lock);
        return files;
    }

private:
    std::mutex lock;  // guards files
    std::vector<std::string> files;
};

class RecordingSlotTest : public ::testing::Test {
protected:
    RecordingSlotTest() : hive(box / "user.conf", box / "factory.conf"), settings(&hive) {
        av_log_set_level(AV_LOG_ERROR);
    }
    ~RecordingSlotTest() override { StopRecording(&saved); }

    void SetMovieFormat(int32_t format) {
        CSettingParam param = settings.GetUsingParam();
        param.movieformat = format;
        settings.SetUsingParam(param);
    }
    // Hands frames to the running recording the way the streaming thread does.
    void FeedFrames(int count) {
        const std::vector<uint8_t> frame = test::MakeFrame(160, 120, test::NumberedTop(1), test::kBottom);
        for (int index = 0; index < count; ++index) {
            std::lock_guard<std::mutex> guard(g_recordingLock);
            ASSERT_NE(g_recordingOutput, nullptr);
            ASSERT_EQ(g_recordingOutput->WriteFrame(160, 120, frame.data(), 24), 0);
            clock.Advance(100);
        }
    }
    std::string RunningFile() {
        std::lock_guard<std::mutex> guard(g_recordingLock);
        return g_recordingOutput != nullptr ? g_recordingOutput->GetFileName() : "";
    }

    test::Sandbox box;
    test::ManualClock clock;
    SavedFileRecorder saved;
    CRegistryHive hive;
    CSettingParamManage settings;
};

TEST_F(RecordingSlotTest, MovieFormatChoosesTheContainerAndStopAnnouncesTheMovie) {
    SetMovieFormat(1);
    ASSERT_TRUE(StartRecording(box / "M0001", 30, settings, &saved));
    EXPECT_EQ(RunningFile(), box / "M0001.mp4");
    FeedFrames(3);

    // Starting again finishes the running recording first.
    SetMovieFormat(0);
    ASSERT_TRUE(StartRecording(box / "M0002", 30, settings, &saved));
    EXPECT_EQ(saved.Files(), (std::vector<std::string>{box / "M0001.mp4"}));
    EXPECT_EQ(RunningFile(), box / "M0002.avi");
    FeedFrames(2);

    StopRecording(&saved);
    EXPECT_EQ(RunningFile(), "");
    EXPECT_EQ(saved.Files(), (std::vector<std::string>{box / "M0001.mp4", box / "M0002.avi"}));
    EXPECT_EQ(test::ProbeMovie(box / "M0001.mp4", 30).frames.size(), 3u);
    EXPECT_EQ(test::ProbeMovie(box / "M0002.avi", 30).frames.size(), 2u);

    StopRecording(&saved);  // nothing runs: nothing happens
    EXPECT_EQ(saved.Files().size(), 2u);
}

TEST_F(RecordingSlotTest, UnknownFormatStartsNothingAndAnEmptyRecordingIsNotAnnounced) {
    SetMovieFormat(0);
    ASSERT_TRUE(StartRecording(box / "M0001", 30, settings, &saved));
    SetMovieFormat(2);
    EXPECT_FALSE(StartRecording(box / "M0002", 30, settings, &saved));
    EXPECT_EQ(RunningFile(), "");
    {
        std::lock_guard<std::mutex> guard(g_recordingLock);
        EXPECT_EQ(g_recordingOutput, nullptr);
    }
    // The first recording got no frame, so it left no file to show.
    EXPECT_TRUE(saved.Files().empty());
    EXPECT_FALSE(test::Exists(box / "M0001.avi"));
}

// What a recording ended by StopRecording in a child process that may write files of at most `limit`
// bytes (0: no limit) told the user.
struct StopOutcome {
    bool told = false;      // an alert "Cannot write file: <file>: File too large"
    bool otherAlert = false;
    bool announced = false;  // AddSavedFile of the movie
};

// `frames` noise frames of 320 x 240 (some 60 KB each once encoded), fewer than the output's queue
// holds: none is dropped.
StopOutcome RecordAndStopInChild(const CSettingParamManage& settings, const std::string& path, int64_t limit,
                                 int frames = 8) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (limit > 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit size{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
            ::setrlimit(RLIMIT_FSIZE, &size);
        }
        int outcome = 0;
        {
            test::AlertRecorder alerts;
            SavedFileRecorder saved;
            test::ManualClock clock;
            if (!StartRecording(path, 30, settings, &saved)) ::_exit(64);
            for (int number = 0; number < frames; ++number) {
                const std::vector<uint8_t> frame = test::MakeNoiseFrame(320, 240, number);
                std::lock_guard<std::mutex> guard(g_recordingLock);
                if (g_recordingOutput == nullptr || g_recordingOutput->WriteFrame(320, 240, frame.data(), 24) != 0)
                    ::_exit(65);
                clock.Advance(34);
            }
            std::string file;
            {
                std::lock_guard<std::mutex> guard(g_recordingLock);
                file = g_recordingOutput->GetFileName();
            }
            StopRecording(&saved);
            for (const std::string& alert : alerts.Alerts()) {
                const bool ours = alert == "Cannot write file: " + file + ": File too large";
                outcome |= ours ? 1 : 2;
            }
            if (saved.Files() == std::vector<std::string>{file}) outcome |= 4;
        }
        ::_exit(outcome);
    }
    const int status = test::WaitForChild(child);
    EXPECT_GE(status, 0);
    EXPECT_LT(status, 8) << "the child failed before it stopped the recording: " << status;
    return StopOutcome{(status & 1) != 0, (status & 2) != 0, (status & 4) != 0};
}

int64_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

TEST_F(RecordingSlotTest, DiskFullAtStopIsToldAndOnlyAPlayableMovieIsAnnounced) {
    for (const int32_t format : {0, 1}) {
        SetMovieFormat(format);
        const std::string extension = format == 0 ? ".avi" : ".mp4";
        SCOPED_TRACE(extension);

        const StopOutcome whole = RecordAndStopInChild(settings, box / "whole", 0);
        EXPECT_FALSE(whole.told || whole.otherAlert);
        EXPECT_TRUE(whole.announced);
        const int64_t wholeSize = FileSize(box / "whole" + extension);
        ASSERT_GT(wholeSize, 20000);

        // The disk fills while Stop writes the last packets and the index: told, and since what
        // reached the disk plays, still announced.
        const StopOutcome cut = RecordAndStopInChild(settings, box / "cut", wholeSize - 16);
        EXPECT_TRUE(cut.told);
        EXPECT_FALSE(cut.otherAlert);
        EXPECT_TRUE(cut.announced);
        const test::ProbedMovie movie = test::ProbeMovie(box / "cut" + extension, 30);
        EXPECT_TRUE(movie.opened);
        EXPECT_GE(movie.frames.size(), 1u);

        // The disk was full before any picture reached it (two frames stay in the file's write buffer
        // until Stop): told, and nothing unplayable is shown.
        const StopOutcome empty = RecordAndStopInChild(settings, box / "empty", 100, 2);
        EXPECT_TRUE(empty.told);
        EXPECT_FALSE(empty.otherAlert);
        EXPECT_FALSE(empty.announced);
        EXPECT_LE(FileSize(box / "empty" + extension), 100);
    }
}

// An AVI output that tells when Close has begun, once armed (Start closes what it had, too).
class ClosingOutput final : public test::ObservedOutput<FFMPEGAVIOutput> {
public:
    void Arm() {
        std::lock_guard<std::mutex> guard(lock);
        armed = true;
    }
    int32_t Close() override {
        {
            std::lock_guard<std::mutex> guard(lock);
            closing = armed;
        }
        changed.notify_all();
        return ObservedOutput::Close();
    }
    bool WaitUntilClosing() {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(20), [this] { return closing; });
    }

private:
    std::mutex lock;  // guards closing
    std::condition_variable changed;
    bool armed = false;
    bool closing = false;
};

TEST_F(RecordingSlotTest, StopFinishesTheFileWithoutHoldingUpTheStreamingThread) {
    auto output = std::make_unique<ClosingOutput>();
    ClosingOutput* observed = output.get();
    observed->Start(box / "M0001", 30);
    observed->Hold();
    const std::vector<uint8_t> frame = test::MakeFrame(160, 120, test::NumberedTop(1), test::kBottom);
    ASSERT_EQ(observed->WriteFrame(160, 120, frame.data(), 24), 0);
    ASSERT_TRUE(observed->WaitUntilHeld());
    {
        std::lock_guard<std::mutex> guard(g_recordingLock);
        g_recordingOutput = std::move(output);
    }

    observed->Arm();
    // Stop waits in Close for the held encoder; meanwhile the next frame's turn at the slot comes at
    // once, and finds no recording.
    std::thread stopper([this] { StopRecording(&saved); });
    const bool closing = observed->WaitUntilClosing();
    auto nextFrame = std::async(std::launch::async, [] {
        std::lock_guard<std::mutex> guard(g_recordingLock);
        return g_recordingOutput == nullptr;
    });
    const bool slotFree = nextFrame.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    observed->Release();
    stopper.join();
    ASSERT_TRUE(closing);
    ASSERT_TRUE(slotFree) << "the slot stayed locked while the file was finished";
    EXPECT_TRUE(nextFrame.get());
    EXPECT_EQ(saved.Files(), (std::vector<std::string>{box / "M0001.avi"}));
    EXPECT_EQ(test::ProbeMovie(box / "M0001.avi", 30).frames.size(), 1u);
}

}  // namespace
}  // namespace orvane
