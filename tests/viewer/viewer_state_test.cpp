#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <filesystem>

#include "base/text.h"
#include "dispatch/sample_grabber_cb.h"
#include "viewer/status_prompt.h"
#include "viewer_fixture.h"
#include "widgets/bc_menu.h"
#include "widgets/cool_btn.h"

namespace orvane::test {
namespace {

using Buttons = std::vector<bool>;
const Buttons kAllOn{true, true, true, true, true};

class ViewerStateTest : public ViewerFixture {
protected:
    void SetUp() override {
        AddCamera();
        Open();
    }
    // The exit, full-screen and rotate buttons are never disabled by the controller.
    void ExpectFixedButtonsEnabled() {
        EXPECT_TRUE(Enabled(viewer_id::kExit));
        EXPECT_TRUE(Enabled(viewer_id::kFullScreen));
        EXPECT_TRUE(viewer->ViewerLayout().RotateButton()->isEnabled());
    }
};

TEST_F(ViewerStateTest, FirstPreviewStartsFromTheEventLoopWithTheVendorsCamera) {
    EXPECT_EQ(viewer->CurrentIdentity().rfind("usb#vid_0c45&pid_6366", 0), 0u) << viewer->CurrentIdentity();
    EXPECT_FALSE(viewer->GetResolutionList().empty());
    // No size was stored: the largest listed format of at most 2048 pixels across is taken, and a
    // request without interpolation comes back with the connected size.
    const CaptureResolution used = settings.GetUsingParam().GetCaptureResolution();
    EXPECT_EQ(used.width, 640);
    EXPECT_EQ(used.height, 480);
    EXPECT_EQ(ActionButtons(), kAllOn);
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(ViewerStateTest, PhotoDisablesTheFiveButtonsUntilItIsWritten) {
    Button(viewer_id::kTakePhoto)->click();
    EXPECT_EQ(State().shotPending.load(), 1);
    EXPECT_EQ(ActionButtons(), Buttons(5, false));
    ExpectFixedButtonsEnabled();

    ASSERT_TRUE(WaitFor([&] { return State().shotPending.load() == 0 && Enabled(viewer_id::kTakePhoto); }));
    EXPECT_EQ(ActionButtons(), kAllOn);
    const std::vector<std::string> photos = Folder("Single Shots");
    ASSERT_EQ(photos.size(), 1u);
    QImage photo;
    ASSERT_TRUE(photo.load(QString::fromStdString(box / ("media/zentrova/Single Shots/" + photos[0]))));
    EXPECT_EQ(photo.width(), 640);
    EXPECT_EQ(photo.height(), 480);
}

TEST_F(ViewerStateTest, TimedSeriesKeepsOnlyItsOwnButtonAndEndsOnEveryEndMessage) {
    CSettingParam param = settings.GetUsingParam();
    param.timedshot.shotstype = Minute;
    param.timedshot.shotsvalue = 60;
    param.timedshot.timestype = Day;
    param.timedshot.timesvalue = 2;
    settings.SetUsingParam(param);

    Button(viewer_id::kTimedShot)->click();
    EXPECT_EQ(State().timedShotRunning.load(), 1);
    EXPECT_EQ(State().timedShotIntervalMs.load(), 1000);
    EXPECT_FLOAT_EQ(State().timedShotHours.load(), 48.0f);
    EXPECT_EQ(ActionButtons(), (Buttons{false, true, false, false, false}));
    EXPECT_EQ(Caption(viewer_id::kTimedShot), Text("ui_view_btn_stop_timed_shot", "Stop Timed Shot"));
    ExpectFixedButtonsEnabled();
    ASSERT_TRUE(WaitFor([&] { return !Folder("Timed Shots").empty(); }));

    viewer->PostViewerMessage(WM_TIMED_SHOT_END);
    viewer->PostViewerMessage(WM_TIMED_SHOT_END);
    Pump(50);
    EXPECT_EQ(State().timedShotRunning.load(), 0);
    EXPECT_EQ(Caption(viewer_id::kTimedShot), Text("ui_view_btn_take_timed_shot", "Start Timed Shot"));
    EXPECT_EQ(ActionButtons(), kAllOn);

    // A late end message must not touch an action started since.
    Button(viewer_id::kRecording)->click();
    ASSERT_EQ(State().recordingRunning.load(), 1);
    viewer->PostViewerMessage(WM_TIMED_SHOT_END);
    Pump(50);
    EXPECT_EQ(ActionButtons(), (Buttons{false, false, true, false, false}));
    Button(viewer_id::kRecording)->click();
}

TEST_F(ViewerStateTest, TimedShotIntervalsFollowTheSchedule) {
    struct Case {
        int32_t shotsType, shots, timesType, times;
        int32_t interval;
        float hours;
    } cases[] = {
        {Hour, 7, Minute, 30, 514285, 0.5f},
        {Day, 1, Hour, 3, 86400000, 3.0f},
        {Minute, 1, Minute, 10, 60000, 10.0f / 60.0f},
    };
    for (const Case& c : cases) {
        CSettingParam param = settings.GetUsingParam();
        param.timedshot.shotstype = c.shotsType;
        param.timedshot.shotsvalue = c.shots;
        param.timedshot.timestype = c.timesType;
        param.timedshot.timesvalue = c.times;
        settings.SetUsingParam(param);
        viewer->OnTimedShot();
        EXPECT_EQ(State().timedShotIntervalMs.load(), c.interval);
        EXPECT_FLOAT_EQ(State().timedShotHours.load(), c.hours);
        viewer->OnTimedShot();
        EXPECT_EQ(State().timedShotRunning.load(), 0);
    }
}

TEST_F(ViewerStateTest, InvalidTimedShotSettingsStartNothing) {
    CSettingParam param = settings.GetUsingParam();
    param.timedshot.shotstype = Minute;
    param.timedshot.shotsvalue = 61;  // above the factory range
    settings.SetUsingParam(param);
    viewer->OnTimedShot();
    EXPECT_EQ(State().timedShotRunning.load(), 0);
    EXPECT_EQ(alerts.Alerts(), std::vector<std::string>{Text("ui_alert_timed_shot_setting", "")});
    EXPECT_EQ(ActionButtons(), kAllOn);
}

TEST_F(ViewerStateTest, RecordingRestartsAtTheMovieSizeAndBackWithoutInterpolation) {
    settings.SetCaptureResolution(CaptureResolution{640, 480, 0, true});
    CSettingParam param = settings.GetUsingParam();
    param.moviesize = CaptureResolution{320, 240, 0, false};
    settings.SetUsingParam(param);

    Button(viewer_id::kRecording)->click();
    ASSERT_EQ(State().recordingRunning.load(), 1);
    EXPECT_EQ(viewer->ResolutionBeforeRecording(), (CaptureResolution{640, 480, 0, true}));
    EXPECT_EQ(settings.GetUsingParam().GetCaptureResolution().width, 320);
    EXPECT_EQ(Caption(viewer_id::kRecording), Text("ui_view_btn_stop_recording", "Stop Recording"));
    EXPECT_EQ(ActionButtons(), (Buttons{false, false, true, false, false}));
    const int64_t before = FramesSeen();
    ASSERT_TRUE(WaitFor([&] { return FramesSeen() > before + 10; }));

    viewer->PostViewerMessage(WM_RECORDING_END);
    viewer->PostViewerMessage(WM_RECORDING_END);
    Pump(50);
    EXPECT_EQ(State().recordingRunning.load(), 0);
    EXPECT_EQ(settings.GetUsingParam().GetCaptureResolution(), (CaptureResolution{640, 480, 0, false}));
    EXPECT_EQ(Caption(viewer_id::kRecording), Text("ui_view_btn_take_recording", "Start Recording"));
    EXPECT_EQ(ActionButtons(), kAllOn);
    const std::vector<std::string> movies = Folder("Movies");
    ASSERT_EQ(movies.size(), 1u);
    EXPECT_GT(std::filesystem::file_size(box / ("media/zentrova/Movies/" + movies[0])), 1000u);
}

TEST_F(ViewerStateTest, RecordingAtTheCaptureSizeKeepsThePreviewRunning) {
    CSettingParam param = settings.GetUsingParam();
    param.moviesize = CaptureResolution{640, 480, 0, false};
    settings.SetUsingParam(param);
    ASSERT_TRUE(WaitFor([&] { return viewer->CaptureSession().GetCaptureStats().frames >= 5; }));
    // The capture thread's counters start again at every preview start.
    const int64_t before = viewer->CaptureSession().GetCaptureStats().frames;
    viewer->OnRecording();
    ASSERT_EQ(State().recordingRunning.load(), 1);
    EXPECT_GE(viewer->CaptureSession().GetCaptureStats().frames, before);
    viewer->OnRecording();
    EXPECT_EQ(State().recordingRunning.load(), 0);
    EXPECT_GE(viewer->CaptureSession().GetCaptureStats().frames, before);
}

TEST_F(ViewerStateTest, ARecordingThatCannotStartLeavesNoFlagAndTheOldSize) {
    CSettingParam param = settings.GetUsingParam();
    param.movieformat = 7;  // neither AVI nor MP4
    param.moviesize = CaptureResolution{320, 240, 0, false};
    settings.SetUsingParam(param);
    viewer->OnRecording();
    EXPECT_EQ(State().recordingRunning.load(), 0);
    EXPECT_EQ(Caption(viewer_id::kRecording), Text("ui_view_btn_take_recording", ""));
    EXPECT_EQ(ActionButtons(), kAllOn);
    EXPECT_EQ(settings.GetUsingParam().GetCaptureResolution().width, 640);
    EXPECT_TRUE(viewer->CaptureSession().IsStreaming());
}

TEST_F(ViewerStateTest, WirelessButtonPhotoDuringARecordingEnablesTheFiveButtons) {
    viewer->OnRecording();
    ASSERT_EQ(State().recordingRunning.load(), 1);
    State().shotPending.store(1);  // what the wireless link does for the device's shutter button
    ASSERT_TRUE(WaitFor([&] { return State().shotPending.load() == 0 && Enabled(viewer_id::kTakePhoto); }));
    EXPECT_EQ(ActionButtons(), kAllOn);
    EXPECT_EQ(State().recordingRunning.load(), 1);
    viewer->OnRecording();
}

TEST_F(ViewerStateTest, MissingStorageFolderStopsEveryCaptureCommand) {
    CSettingParam param = settings.GetUsingParam();
    param.SetResourcesPath(box / "gone");
    settings.SetUsingParam(param);
    const std::string expected =
        Format(Text("ui_alert_not_exist_resource_location", ""), settings.GetUsingParam().GetMoviesFolder());
    viewer->OnTakePhoto();
    viewer->OnTimedShot();
    viewer->OnRecording();
    EXPECT_EQ(alerts.Alerts(), std::vector<std::string>(3, expected));
    EXPECT_EQ(State().shotPending.load() + State().timedShotRunning.load() + State().recordingRunning.load(),
              0);
    EXPECT_EQ(ActionButtons(), kAllOn);
}

TEST_F(ViewerStateTest, FailedPreviewLeavesNoDeviceAndTheCannotPreviewText) {
    cameras.Camera(0).SetBusy(true);
    EXPECT_FALSE(viewer->PreviewDevice(0, CaptureResolution{320, 240, 0, false}));
    EXPECT_FALSE(viewer->HasCurrentDevice());
    EXPECT_TRUE(viewer->GetResolutionList().empty());
    alerts.Clear();
    viewer->OnTakePhoto();
    EXPECT_EQ(alerts.Alerts(), std::vector<std::string>{Text("ui_alert_not_preview_device", "")});
    EXPECT_EQ(State().shotPending.load(), 0);
    // Indexes that name no device change nothing.
    cameras.Camera(0).SetBusy(false);
    EXPECT_FALSE(viewer->PreviewDevice(-1, {}));
    EXPECT_FALSE(viewer->PreviewDevice(1, {}));
    EXPECT_FALSE(viewer->HasCurrentDevice());
    EXPECT_TRUE(viewer->PreviewDevice(0, {}));
}

TEST_F(ViewerStateTest, RotationCommandsAccumulateAndMoveTheCheckMark) {
    BCMenu& menu = viewer->ViewerLayout().RotateButton()->Menu();
    viewer->OnRotateCommand(viewer_id::kRotateRight90);
    viewer->OnRotateCommand(viewer_id::kFlipHorizontal);
    EXPECT_EQ(rotation.GetOperationCount(), 2);
    EXPECT_EQ(viewer->CheckedRotateItem(), viewer_id::kFlipHorizontal);
    EXPECT_TRUE(menu.IsChecked(viewer_id::kFlipHorizontal));
    EXPECT_FALSE(menu.IsChecked(viewer_id::kRotateRight90));
    // Choosing from the menu goes the same way.
    menu.FindCommand(viewer_id::kRotate180)->trigger();
    Pump(20);
    EXPECT_EQ(rotation.GetOperationCount(), 3);
    EXPECT_TRUE(menu.IsChecked(viewer_id::kRotate180));
    EXPECT_FALSE(menu.IsChecked(viewer_id::kFlipHorizontal));
    // A new preview starts unturned, and the menu no longer claims a turn.
    ASSERT_TRUE(viewer->PreviewDevice(0, {}));
    EXPECT_EQ(rotation.GetOperationCount(), 0);
    EXPECT_EQ(viewer->CheckedRotateItem(), 0);
    EXPECT_FALSE(menu.IsChecked(viewer_id::kRotate180));
}

TEST_F(ViewerStateTest, EnterAndEscapeNeverCloseTheViewer) {
    Button(viewer_id::kExit)->setFocus();
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        for (QWidget* target :
             {static_cast<QWidget*>(viewer.get()), static_cast<QWidget*>(Button(viewer_id::kExit))}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &press);
        }
    }
    Pump(20);
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_TRUE(questions.empty());
    viewer->reject();
    EXPECT_TRUE(viewer->isVisible());
}

TEST_F(ViewerStateTest, ExitAsksWithTheTextOfTheRunningAction) {
    confirmAnswer = false;
    viewer->OnTimedShot();
    EXPECT_FALSE(viewer->ConfirmExit());
    viewer->OnTimedShot();
    viewer->OnRecording();
    EXPECT_FALSE(viewer->ConfirmExit());
    viewer->OnRecording();
    Button(viewer_id::kExit)->click();
    EXPECT_EQ(questions, (std::vector<std::string>{Text("ui_alert_exit_system_doing_timedshot", ""),
                                                   Text("ui_alert_exit_system_doing_recording", ""),
                                                   Text("ui_alert_exit_system", "")}));
    EXPECT_EQ(questionCaptions[0], Text("ui_view_btn_exit_system", ""));
    // Cancel changes nothing.
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_TRUE(viewer->CaptureSession().IsStreaming());
    EXPECT_TRUE(viewer->Prompt().IsRunning());
}

TEST_F(ViewerStateTest, ExitOnOkStopsEverythingAndEndsTheDialog) {
    viewer->OnRecording();
    ASSERT_EQ(State().recordingRunning.load(), 1);
    Pump(300);
    confirmAnswer = true;
    EXPECT_TRUE(viewer->close());
    EXPECT_FALSE(viewer->isVisible());
    EXPECT_EQ(viewer->result(), QDialog::Accepted);
    EXPECT_EQ(State().recordingRunning.load(), 0);
    EXPECT_FALSE(viewer->CaptureSession().HasVideoWindow());
    EXPECT_FALSE(viewer->Prompt().IsRunning());
    EXPECT_EQ(Folder("Movies").size(), 1u);
}

size_t ThreadCount() { return ListFolder("/proc/self/task").size(); }

TEST_F(ViewerStateTest, ClosingLeavesNoThreadBehind) {
    // The capture, saver, recording and wireless threads all end with the viewer; what the window
    // system keeps for itself was started by the first viewer already.
    viewer->OnTimedShot();
    viewer->OnTimedShot();
    viewer->OnRecording();
    Pump(200);
    confirmAnswer = true;
    ASSERT_TRUE(viewer->ConfirmExit());
    viewer.reset();
    QCoreApplication::processEvents();
    const size_t before = ThreadCount();
    Open();
    ASSERT_TRUE(viewer->PreviewDevice(0, {}));
    viewer->OnRecording();
    Pump(200);
    EXPECT_GT(ThreadCount(), before);
    ASSERT_TRUE(viewer->ConfirmExit());
    viewer.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(ThreadCount(), before);
}

class NoCameraTest : public ViewerFixture {
protected:
    void SetUp() override { Open(false); }
};

TEST_F(NoCameraTest, StartShowsTheNoCameraTextAndTheCommandsCheckTheFolderFirst) {
    const std::string noCamera = Text("ui_alert_no_camera", "");
    EXPECT_EQ(alerts.Alerts(), std::vector<std::string>{noCamera});
    EXPECT_FALSE(viewer->HasCurrentDevice());
    EXPECT_TRUE(viewer->isVisible());
    alerts.Clear();

    viewer->OnTakePhoto();
    EXPECT_EQ(alerts.Alerts(), std::vector<std::string>{noCamera});
    EXPECT_EQ(ActionButtons(), kAllOn);

    alerts.Clear();
    viewer->EnterFullScreen();
    viewer->OnTakePhoto();
    viewer->OnRecording();
    EXPECT_TRUE(alerts.Alerts().empty());
    viewer->ExitFullScreen();
}

}  // namespace
}  // namespace orvane::test
