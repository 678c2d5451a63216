#include "viewer/device_selection.h"

#include <QTimer>
#include <condition_variable>
#include <mutex>

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

// A camera that takes its time to open: opening its video node waits, while armed, until the test
// lets it go (or 10 s, when the caller is the one that would let it go).
class SlowToOpen final : public IDeviceFile {
public:
    explicit SlowToOpen(SimulatedDeviceFile& sim) : sim(sim) {}
    void Arm(const std::string& node) {
        std::lock_guard guard(lock);
        armed = node;
    }
    void Release() {
        std::lock_guard guard(lock);
        armed.clear();
        changed.notify_all();
    }
    // Waiting and not let go yet: once released, the open may take a while to wake up.
    bool Waiting() {
        std::lock_guard guard(lock);
        return waiting && !armed.empty();
    }
    bool TimedOut() {
        std::lock_guard guard(lock);
        return timedOut;
    }
    int Open(const std::string& path, int flags) override {
        {
            std::unique_lock guard(lock);
            if (path == armed) {
                waiting = true;
                timedOut = !changed.wait_for(guard, std::chrono::seconds(10), [&] { return armed.empty(); });
                waiting = false;
            }
        }
        return sim.Open(path, flags);
    }
    int Close(int fd) override { return sim.Close(fd); }
    int Ioctl(int fd, unsigned long request, void* arg) override { return sim.Ioctl(fd, request, arg); }
    void* Mmap(size_t length, int prot, int flags, int fd, off_t offset) override {
        return sim.Mmap(length, prot, flags, fd, offset);
    }
    int Munmap(void* address, size_t length) override { return sim.Munmap(address, length); }
    int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) override { return sim.Poll(fds, count, timeoutMs); }
    ssize_t Read(int fd, void* buffer, size_t size) override { return sim.Read(fd, buffer, size); }
    std::vector<DeviceNode> ListNodes(const std::string& subsystem) override { return sim.ListNodes(subsystem); }
    int OpenMonitor() override { return sim.OpenMonitor(); }
    bool ReadEvent(int monitorFd, DeviceEvent& event) override { return sim.ReadEvent(monitorFd, event); }
    void CloseMonitor(int monitorFd) override { sim.CloseMonitor(monitorFd); }

private:
    SimulatedDeviceFile& sim;
    std::mutex lock;
    std::condition_variable changed;
    std::string armed;
    bool waiting = false;
    bool timedOut = false;
};

// Opening and starting a camera happen off the interface thread: timers, painting and posted work
// go on meanwhile, and the caller still gets its answer in order, with the camera previewed.
TEST_F(DeviceSelectionTest, TheWindowGoesOnWhileACameraTakesItsTimeToOpenAndToBeListed) {
    SimulatedCamera& camera = AddCamera();
    SlowToOpen slow(cameras);
    ViewerServices services = Services();
    services.device = &slow;
    viewer = std::make_unique<CMainViewerDlg>(services);
    viewer->show();
    ASSERT_TRUE(WaitFor([&] { return viewer->HasCurrentDevice() && FramesSeen() > 0; }));

    int ticksWhileOpening = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (!slow.Waiting()) return;
        // A few turns of the interface thread's loop while the camera has not answered yet.
        if (++ticksWhileOpening == 3) slow.Release();
    });
    ticker.start(1);

    slow.Arm(camera.VideoNode());
    EXPECT_TRUE(viewer->PreviewDevice(0, CaptureResolution{320, 240, V4L2_PIX_FMT_YUYV, false}));
    EXPECT_FALSE(slow.TimedOut());
    EXPECT_EQ(ticksWhileOpening, 3);
    EXPECT_TRUE(viewer->HasCurrentDevice());
    const int64_t seen = FramesSeen();
    EXPECT_TRUE(WaitFor([&] { return FramesSeen() > seen; }));

    // Listing questions every node the same way.
    ticksWhileOpening = 0;
    slow.Arm(camera.VideoNode());
    EXPECT_EQ(viewer->EnumDevices(), 1);
    EXPECT_FALSE(slow.TimedOut());
    EXPECT_EQ(ticksWhileOpening, 3);
    viewer.reset();  // before the device seam it uses goes
}

}  // namespace
}  // namespace orvane::test
