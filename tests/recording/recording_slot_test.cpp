#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "recording/movie_probe.h"
#include "recording/recording_slot.h"
#include "recording/saved_file_sink.h"
#include "recording/test_frames.h"
#include "support/sandbox.h"

namespace orvane {
namespace {

class SavedFileRecorder final : public IResourceWindow {
public:
    SavedFileRecorder() { SetSavedFileSink(this); }
    ~SavedFileRecorder() override { SetSavedFileSink(nullptr); }
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
    ~RecordingSlotTest() override { StopRecording(); }

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
    ASSERT_TRUE(StartRecording(box / "M0001", 30, settings));
    EXPECT_EQ(RunningFile(), box / "M0001.mp4");
    FeedFrames(3);

    // Starting again finishes the running recording first.
    SetMovieFormat(0);
    ASSERT_TRUE(StartRecording(box / "M0002", 30, settings));
    EXPECT_EQ(saved.Files(), (std::vector<std::string>{box / "M0001.mp4"}));
    EXPECT_EQ(RunningFile(), box / "M0002.avi");
    FeedFrames(2);

    StopRecording();
    EXPECT_EQ(RunningFile(), "");
    EXPECT_EQ(saved.Files(), (std::vector<std::string>{box / "M0001.mp4", box / "M0002.avi"}));
    EXPECT_EQ(test::ProbeMovie(box / "M0001.mp4", 30).frames.size(), 3u);
    EXPECT_EQ(test::ProbeMovie(box / "M0002.avi", 30).frames.size(), 2u);

    StopRecording();  // nothing runs: nothing happens
    EXPECT_EQ(saved.Files().size(), 2u);
}

TEST_F(RecordingSlotTest, UnknownFormatStartsNothingAndAnEmptyRecordingIsNotAnnounced) {
    SetMovieFormat(0);
    ASSERT_TRUE(StartRecording(box / "M0001", 30, settings));
    SetMovieFormat(2);
    EXPECT_FALSE(StartRecording(box / "M0002", 30, settings));
    EXPECT_EQ(RunningFile(), "");
    {
        std::lock_guard<std::mutex> guard(g_recordingLock);
        EXPECT_EQ(g_recordingOutput, nullptr);
    }
    // The first recording got no frame, so it left no file to show.
    EXPECT_TRUE(saved.Files().empty());
    EXPECT_FALSE(test::Exists(box / "M0001.avi"));
}

}  // namespace
}  // namespace orvane
