#include "viewer/device_selection.h"

#include "viewer_fixture.h"

namespace orvane::test {
namespace {

DeviceList Devices(const std::vector<std::string>& paths) {
    DeviceList list;
    int32_t index = 0;
    for (const std::string& path : paths) list[index++] = DeviceEntry{"cam", path};
    return list;
}

TEST(DefaultDeviceTest, FirstCameraOfAListedVendorWins) {
    const std::vector<std::string> vendors{"0c45", "1e4e"};
    auto pick = [&](const std::vector<std::string>& paths) {
        return CDeviceSelection::DefaultDeviceIndex(Devices(paths), vendors);
    };
    EXPECT_EQ(pick({"usb#vid_046d&pid_0825#1", "usb#vid_1e4e&pid_0102#2"}), 1);
    EXPECT_EQ(pick({"platform-vivid", "usb#vid_0c45&pid_6366#x"}), 1);
    EXPECT_EQ(pick({"usb#vid_046d&pid_0825#1", "usb#vid_05a3&pid_9331#2"}), 0);
    // The prefix is looked for as written, in lower case only.
    EXPECT_EQ(pick({"usb#vid_046d", "USB#VID_0C45&PID_6366"}), 0);
    // A path that ends within the vendor id is judged by its last four characters.
    EXPECT_EQ(pick({"usb#vid_046d", "x0c45usb#vid_0c"}), 0);
    EXPECT_EQ(pick({"usb#vid_046d", "usb#vid_1e4e"}), 1);
    EXPECT_EQ(pick({}), 0);
}

class DeviceSelectionTest : public ViewerFixture {
protected:
    uint32_t StoredDword(const char* name) {
        CRegistry key(&hive);
        uint32_t value = 0xFFFFFFFF;
        EXPECT_TRUE(key.Open("Software\\zentrova"));
        EXPECT_TRUE(key.ReadDword(name, value)) << name;
        return value;
    }
    bool HasStoredValue(const char* name) {
        CRegistry key(&hive);
        std::string text;
        uint32_t number;
        return key.Open("Software\\zentrova") && (key.ReadText(name, text) || key.ReadDword(name, number));
    }
    std::string IdentityOf(size_t camera) {
        for (const auto& [index, entry] : viewer->GetDeviceList()) {
            (void)index;
            if (entry.devicePath.find(cameras.Camera(camera).Definition().serial) != std::string::npos) {
                return entry.devicePath;
            }
        }
        return {};
    }
};

TEST_F(DeviceSelectionTest, StoredResolutionPacksWidthAndHeight) {
    AddCamera();
    Open();
    viewer->SavePreviewedResolution(CaptureResolution{1280, 720, V4L2_PIX_FMT_MJPEG, true});
    EXPECT_EQ(StoredDword("captureresolution"), 83886800u);
    EXPECT_EQ(StoredDword("interpolation"), 1u);
    EXPECT_EQ(viewer->LoadPreviewedResolution(), (CaptureResolution{1280, 720, 0, true}));

    viewer->SavePreviewedDevice();
    EXPECT_EQ(viewer->LoadPreviewedIdentity(), 0);
    EXPECT_EQ(StoredDword("captureresolution"), (640u << 16) | 480u);
    EXPECT_EQ(StoredDword("interpolation"), 0u);
}

TEST_F(DeviceSelectionTest, AnIdentityOfAHundredCharactersCannotBeReadBack) {
    AddCamera();
    Open();
    viewer->SavePreviewedIdentity(std::string(99, 'a'));
    EXPECT_EQ(viewer->LoadPreviewedIdentity(), -1);  // stored and read, but no such camera
    CRegistry key(&hive);
    std::string text;
    ASSERT_TRUE(key.Open("Software\\zentrova"));
    EXPECT_TRUE(key.ReadText("indentityofpreviewed", text));
    viewer->SavePreviewedIdentity(std::string(100, 'a'));
    EXPECT_FALSE(key.ReadText("indentityofpreviewed", text));
    EXPECT_EQ(viewer->LoadPreviewedIdentity(), -1);
}

TEST_F(DeviceSelectionTest, RemembersTheStoredCameraAtItsStoredSize) {
    AddCamera("Scope", "0c45", "A1", "1");
    AddCamera("Other", "046d", "B2", "2");
    // The stored camera is the second one, at 320 x 240.
    {
        DeviceList list;
        CCaptureVideo probe(CaptureVideoServices{&cameras});
        probe.EnumDevices(list);
        ASSERT_EQ(list.size(), 2u);
        StoreDevice(list[1].devicePath, 320, 240, false);
    }
    Open();
    EXPECT_EQ(viewer->CurrentIdentity(), viewer->GetDeviceList().at(1).devicePath);
    EXPECT_EQ(settings.GetUsingParam().GetCaptureResolution().width, 320);
}

TEST_F(DeviceSelectionTest, AStoredCameraThatIsGoneGivesTheDefaultAndWritesNothing) {
    AddCamera("Other", "046d", "B2", "2");
    AddCamera("Scope", "0c45", "A1", "1");
    StoreDevice("usb#vid_1234&pid_5678#gone", 320, 240, true);
    Open();
    EXPECT_EQ(viewer->CurrentIdentity(), viewer->GetDeviceList().at(1).devicePath);
    EXPECT_EQ(settings.GetUsingParam().GetCaptureResolution().width, 640);  // the capture object's choice
    CRegistry key(&hive);
    std::string identity;
    ASSERT_TRUE(key.Open("Software\\zentrova"));
    ASSERT_TRUE(key.ReadText("indentityofpreviewed", identity));
    EXPECT_EQ(identity, "usb#vid_1234&pid_5678#gone");
    EXPECT_EQ(StoredDword("captureresolution"), (320u << 16) | 240u);
}

TEST_F(DeviceSelectionTest, ASecondCameraLeavesTheRunningRecordingAlone) {
    AddCamera("Scope", "0c45", "A1", "1");
    Open();
    const std::string identity = viewer->CurrentIdentity();
    viewer->OnRecording();
    ASSERT_EQ(State().recordingRunning.load(), 1);
    Pump(300);
    AddCamera("Other", "046d", "B2", "2");
    ASSERT_TRUE(WaitFor([&] { return viewer->GetDeviceList().size() == 2; }));
    EXPECT_EQ(viewer->CurrentIdentity(), identity);
    EXPECT_EQ(State().recordingRunning.load(), 1);
    EXPECT_TRUE(viewer->CaptureSession().IsStreaming());
    viewer->OnRecording();
    EXPECT_EQ(Folder("Movies").size(), 1u);
}

TEST_F(DeviceSelectionTest, PullingThePreviewedCameraEndsTheRecordingAndPreviewsAnother) {
    AddCamera("Scope", "0c45", "A1", "1");
    AddCamera("Other", "046d", "B2", "2");
    Open();
    ASSERT_EQ(viewer->CurrentIdentity(), IdentityOf(0));
    const std::string other = IdentityOf(1);
    viewer->OnRecording();
    ASSERT_EQ(State().recordingRunning.load(), 1);
    Pump(200);

    cameras.Camera(0).Unplug();
    ASSERT_TRUE(
        WaitFor([&] { return viewer->GetDeviceList().size() == 1 && viewer->CurrentIdentity() == other; }));
    EXPECT_EQ(State().recordingRunning.load(), 0);
    EXPECT_EQ(Caption(viewer_id::kRecording), Text("ui_view_btn_take_recording", ""));
    EXPECT_EQ(Folder("Movies").size(), 1u);
    const int64_t seen = FramesSeen();
    EXPECT_TRUE(WaitFor([&] { return FramesSeen() > seen + 3; }));
    EXPECT_EQ(alerts.Alerts(), std::vector<std::string>{Text("ui_alert_capture_ended_camera_removed", "")});
    // The status line tells it too, while nothing else runs.
    viewer->UpdatePrompt(QPoint(-1, -1), false);
    EXPECT_EQ(PromptText(), Text("ui_alert_capture_ended_camera_removed", ""));
}

TEST_F(DeviceSelectionTest, TheLastCameraGoneStopsEverythingAndTheFirstNewOneStartsAgain) {
    AddCamera();
    Open();
    viewer->OnTimedShot();
    ASSERT_EQ(State().timedShotRunning.load(), 1);

    cameras.Camera(0).Unplug();
    ASSERT_TRUE(WaitFor([&] { return viewer->GetDeviceList().empty(); }));
    EXPECT_FALSE(viewer->HasCurrentDevice());
    EXPECT_EQ(State().timedShotRunning.load(), 0);
    EXPECT_FALSE(viewer->PreviewWindow()->VideoHost()->HasPicture());
    // One box: the ended series' notice already says the camera went.
    EXPECT_EQ(alerts.Alerts(), std::vector<std::string>{Text("ui_alert_capture_ended_camera_removed", "")});

    cameras.Camera(0).Plug();
    ASSERT_TRUE(WaitFor(
        [&] { return viewer->HasCurrentDevice() && viewer->PreviewWindow()->VideoHost()->HasPicture(); }));
    EXPECT_EQ(viewer->CurrentIdentity(), IdentityOf(0));
}

TEST_F(DeviceSelectionTest, NoAlertForTheLastCameraInFullScreen) {
    AddCamera();
    Open();
    viewer->EnterFullScreen();
    cameras.Camera(0).Unplug();
    ASSERT_TRUE(WaitFor([&] { return viewer->GetDeviceList().empty(); }));
    EXPECT_FALSE(viewer->HasCurrentDevice());
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(DeviceSelectionTest, TheWirelessCameraIsKeptWhileOtherCamerasComeAndGo) {
    AddCamera("Scope", "0c45", "A1", "1");
    cameras.AddCamera(SmallWifiCamera());
    Open();
    EXPECT_EQ(viewer->FindDeviceIndex("wifi device"), kWifiDeviceIndex);
    EXPECT_EQ(viewer->GetDeviceIdentity(kWifiDeviceIndex), "wifi device");
    ASSERT_TRUE(viewer->PreviewDevice(kWifiDeviceIndex, {}));
    EXPECT_EQ(viewer->CurrentIdentity(), "wifi device");
    EXPECT_EQ(viewer->GetDeviceList().size(), 1u);  // never listed

    AddCamera("Other", "046d", "B2", "2");
    ASSERT_TRUE(WaitFor([&] { return viewer->GetDeviceList().size() == 2; }));
    EXPECT_EQ(viewer->CurrentIdentity(), "wifi device");
    EXPECT_TRUE(viewer->CaptureSession().IsStreaming());

    // Without any listed camera everything stops, the wireless preview too.
    cameras.Camera(0).Unplug();
    cameras.Camera(2).Unplug();
    ASSERT_TRUE(WaitFor([&] { return viewer->GetDeviceList().empty(); }));
    EXPECT_FALSE(viewer->HasCurrentDevice());
    EXPECT_FALSE(viewer->CaptureSession().HasVideoWindow());
    EXPECT_FALSE(wifi.HasLinkThread());
}

}  // namespace
}  // namespace orvane::test
