#include "viewer/status_prompt.h"

#include "base/text.h"
#include "viewer_fixture.h"

namespace orvane::test {
namespace {

class StatusPromptTest : public ViewerFixture {
protected:
    // Somewhere over the picture, away from every button.
    QPoint Empty() const { return QPoint(viewer->width() / 2, viewer->height() / 2); }
    QPoint Over(int id) const { return Button(id)->geometry().center(); }
    std::string Tick() {
        viewer->UpdatePrompt(Empty(), false);
        return PromptText();
    }
    std::string Hover(int id) {
        viewer->UpdatePrompt(Over(id), true);
        return PromptText();
    }
    std::string Size(int32_t w, int32_t h) { return Format("%d X %d", w, h); }
};

TEST_F(StatusPromptTest, ButtonsExplainThemselvesInEveryState) {
    AddCamera();
    Open();
    SetCaptureResolution(640, 480);
    CSettingParam param = settings.GetUsingParam();
    param.moviesize = CaptureResolution{320, 240, 0, false};
    settings.SetUsingParam(param);
    const std::string r = Size(640, 480);

    EXPECT_EQ(Hover(viewer_id::kTakePhoto), Format(Text("ui_prompt_in_take_a_photo_btn", ""), r));
    EXPECT_EQ(Hover(viewer_id::kTimedShot), Format(Text("ui_prompt_in_start_timed_shot_btn", ""), r));
    EXPECT_EQ(Hover(viewer_id::kRecording),
              Format(Text("ui_prompt_in_start_recording_btn", ""), Size(320, 240)));
    EXPECT_EQ(Hover(viewer_id::kSettings), Text("ui_prompt_in_setting_btn", ""));
    EXPECT_EQ(Hover(viewer_id::kAbout), Text("ui_prompt_in_about_btn", ""));
    EXPECT_EQ(Hover(viewer_id::kExit), Text("ui_prompt_in_exit_btn", ""));

    viewer->OnTimedShot();
    EXPECT_EQ(Hover(viewer_id::kTimedShot), Text("ui_prompt_in_stop_timed_shot_btn", ""));
    EXPECT_EQ(Hover(viewer_id::kExit), Text("ui_prompt_in_exit_btn", ""));
    viewer->OnTimedShot();

    // Over no button a mouse movement leaves the line as it is.
    const int writes = viewer->Prompt().Writes();
    viewer->UpdatePrompt(Empty(), true);
    EXPECT_EQ(PromptText(), Text("ui_prompt_in_exit_btn", ""));
    EXPECT_EQ(viewer->Prompt().Writes(), writes);
    // The tick shows the state; the same text twice is written once.
    EXPECT_EQ(Tick(), Format(Text("ui_prompt_doing_preview", ""), r));
    Tick();
    EXPECT_EQ(viewer->Prompt().Writes(), writes + 1);
}

TEST_F(StatusPromptTest, TimedSeriesShowsTotalAndRemainingMinutes) {
    AddCamera();
    Open();
    SetCaptureResolution(640, 480);
    CSettingParam param = settings.GetUsingParam();
    param.timedshot.shotstype = Hour;
    param.timedshot.shotsvalue = 1;
    param.timedshot.timestype = Minute;
    param.timedshot.timesvalue = 5;
    settings.SetUsingParam(param);

    ManualClock clock;
    viewer->OnTimedShot();
    ASSERT_EQ(State().timedShotRunning.load(), 1);
    const std::string format = Text("ui_prompt_doing_timed_shot", "");
    clock.Advance(60000);
    EXPECT_EQ(Tick(), Format(format, Size(640, 480), 5, 4));
    clock.Advance(3 * 60000 + 59000);
    EXPECT_EQ(Tick(), Format(format, Size(640, 480), 5, 1));
    viewer->OnTimedShot();
}

TEST_F(StatusPromptTest, RecordingDotsGrowOnceATickAndStartAgainAfterTheRecording) {
    AddCamera();
    Open();
    SetCaptureResolution(640, 480);
    viewer->OnRecording();
    ASSERT_EQ(State().recordingRunning.load(), 1);
    const std::string base = Format(Text("ui_prompt_doing_recording", ""), Size(640, 480));
    const char* dots[] = {"", "\u25CF", "\u25CF\u25CF", "\u25CF\u25CF\u25CF", ""};
    for (const char* expected : dots) EXPECT_EQ(Tick(), base + expected);
    // Mouse movements do not move the dots.
    viewer->UpdatePrompt(Empty(), true);
    EXPECT_EQ(viewer->Prompt().RecordingDots(), 1);

    viewer->OnRecording();
    Tick();
    EXPECT_EQ(viewer->Prompt().RecordingDots(), 0);
    viewer->OnRecording();
    EXPECT_EQ(Tick(), base);
    viewer->OnRecording();
}

TEST_F(StatusPromptTest, PhotoPendingIsShownUntilItIsTaken) {
    AddCamera();
    Open();
    SetCaptureResolution(640, 480);
    cameras.Camera(0).SetSlowSource(60000);
    Pump(100);
    State().shotPending.store(1);  // as the wireless button does
    EXPECT_EQ(Tick(), Format(Text("ui_prompt_doing_taking_a_shot", ""), Size(640, 480)));
    cameras.Camera(0).SetSlowSource(0);
    ASSERT_TRUE(WaitFor([&] { return State().shotPending.load() == 0; }));
}

TEST_F(StatusPromptTest, WithoutAPreviewTheCaptureButtonsShowTheErrorText) {
    Open(false);
    const std::string noCamera = Text("ui_alert_no_camera", "");
    for (int id : {viewer_id::kTakePhoto, viewer_id::kTimedShot, viewer_id::kRecording})
        EXPECT_EQ(Hover(id), noCamera);
    EXPECT_EQ(Tick(), noCamera);

    AddCamera();
    ASSERT_TRUE(WaitFor([&] { return viewer->HasCurrentDevice(); }));
    cameras.Camera(0).SetBusy(true);
    viewer->PreviewDevice(0, {});
    ASSERT_FALSE(viewer->HasCurrentDevice());
    const std::string cannot = Text("ui_alert_not_preview_device", "");
    for (int id : {viewer_id::kTakePhoto, viewer_id::kTimedShot, viewer_id::kRecording})
        EXPECT_EQ(Hover(id), cannot);
    EXPECT_EQ(Tick(), cannot);
    EXPECT_EQ(Hover(viewer_id::kSettings), Text("ui_prompt_in_setting_btn", ""));
}

TEST_F(StatusPromptTest, TheTimerRefreshesTheLineEverySecond) {
    AddCamera();
    Open();
    EXPECT_TRUE(viewer->Prompt().IsRunning());
    ASSERT_TRUE(WaitFor([&] { return !PromptText().empty(); }, 3000));
}

}  // namespace
}  // namespace orvane::test
