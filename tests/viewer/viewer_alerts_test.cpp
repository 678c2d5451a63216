#include <QApplication>
#include <QMessageBox>
#include <filesystem>

#include "viewer/alert_presenter.h"
#include "viewer/viewer_controls.h"
#include "viewer_fixture.h"

namespace orvane::test {
namespace {

// The warning boxes on screen with this text.
std::vector<QMessageBox*> BoxesWith(const std::string& text) {
    std::vector<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box != nullptr && box->isVisible() && box->text().toStdString() == text) boxes.push_back(box);
    }
    return boxes;
}

class ViewerAlertsTest : public ViewerFixture {};

// Seen with a real camera: after an unplug the no-camera box stayed open when the camera came back,
// and being application-modal it silently swallowed the clicks on the toolbar.
TEST_F(ViewerAlertsTest, NoCameraBoxNeitherBlocksTheToolbarNorOutlivesTheCamerasReturn) {
    ownAlertBoxes = true;
    Open(false);
    const std::string noCamera = Text("ui_alert_no_camera", "");
    ASSERT_TRUE(WaitFor([&] { return BoxesWith(noCamera).size() == 1; }));
    QMessageBox* box = BoxesWith(noCamera)[0];
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
    EXPECT_EQ(box->parentWidget(), viewer.get());
    EXPECT_NE(QGuiApplication::modalWindow(), box->windowHandle());

    cameras.AddCamera(SmallCamera("Scope", "0c45", "A1", "1"));
    ASSERT_TRUE(WaitFor([&] { return viewer->HasCurrentDevice() && FramesSeen() > 0; }));
    ASSERT_TRUE(WaitFor([&] { return BoxesWith(noCamera).empty(); }));

    // The toolbar answers at once.
    Button(viewer_id::kTakePhoto)->click();
    ASSERT_TRUE(WaitFor([&] { return Folder("Single Shots").size() == 1; }));
}

// A camera that stops sending pictures while it records: restarted once, then the recording is
// ended (its movie kept and announced) and the user told; the message goes once the camera is back.
TEST_F(ViewerAlertsTest, CameraThatFallsSilentEndsTheRecordingAndSaysSo) {
    AddCamera();
    Open();
    CSettingParam param = settings.GetUsingParam();
    param.movieformat = 0;
    param.moviesize = CaptureResolution{640, 480, 0, false};
    settings.SetUsingParam(param);
    viewer->OnRecording();
    ASSERT_EQ(State().recordingRunning.load(), 1);
    const int64_t before = FramesSeen();
    ASSERT_TRUE(WaitFor([&] { return FramesSeen() > before + 5; }));

    cameras.Camera(0).StopDelivering(StallKind::UntilReplug);
    ASSERT_TRUE(WaitFor([&] { return State().recordingRunning.load() == 0; }, 20000));
    const std::string stopped = Text("ui_alert_camera_stopped", "");
    EXPECT_EQ(alerts.Alerts(), std::vector<std::string>{stopped});
    EXPECT_GE(viewer->CaptureSession().GetCaptureStats().restarts, 1);
    EXPECT_FALSE(viewer->HasCurrentDevice());
    EXPECT_EQ(Caption(viewer_id::kRecording), Text("ui_view_btn_take_recording", "Start Recording"));
    EXPECT_TRUE(Enabled(viewer_id::kTakePhoto));
    const std::vector<std::string> movies = Folder("Movies");
    ASSERT_EQ(movies.size(), 1u);
    EXPECT_GT(std::filesystem::file_size(box / ("media/zentrova/Movies/" + movies[0])), 1000u);

    cameras.Camera(0).Unplug();
    cameras.Camera(0).Plug();
    ASSERT_TRUE(WaitFor([&] { return viewer->HasCurrentDevice() && FramesSeen() > 0; }));
    EXPECT_EQ(alerts.Closed(), std::vector<std::string>{stopped});
}

// A camera whose frames cannot be read for a while: the user is told once instead of looking at the
// last picture, and the notice goes, box and status line, as soon as frames can be read again.
TEST_F(ViewerAlertsTest, UnreadableFramesAreToldOnceAndTheNoticeGoesWhenFramesCome) {
    SimulatedCameraDefinition camera = SmallCamera("Scope", "0c45", "A1", "1");
    camera.formats = {{V4L2_PIX_FMT_MJPEG, "Motion-JPEG", {{640, 480, {30}}}}};
    cameras.AddCamera(camera);
    Open();
    ASSERT_EQ(viewer->CaptureSession().StreamingPixelFormat(), static_cast<uint32_t>(V4L2_PIX_FMT_MJPEG));
    const std::string unreadable = Text("ui_notice_frames_unreadable", "");
    ASSERT_FALSE(unreadable.empty());

    // Five seconds' worth at 30 frames per second: the notice comes after one.
    cameras.Camera(0).CorruptNextMjpgFrames(150, CorruptFrame::Garbage);
    ASSERT_TRUE(WaitFor([&] { return !alerts.Alerts().empty(); }));
    EXPECT_EQ(alerts.Alerts(), std::vector<std::string>{unreadable});
    EXPECT_EQ(PromptText(), unreadable);

    ASSERT_TRUE(WaitFor([&] { return !alerts.Closed().empty(); }));
    EXPECT_EQ(alerts.Closed(), std::vector<std::string>{unreadable});
    EXPECT_EQ(alerts.Alerts(), std::vector<std::string>{unreadable}) << "told once for the whole run";
    EXPECT_NE(PromptText(), unreadable);
    EXPECT_TRUE(viewer->HasCurrentDevice());
}

}  // namespace
}  // namespace orvane::test
