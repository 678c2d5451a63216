#include "capture/capture_video_fixture.h"

namespace orvane::test {
namespace {

using Alerts = std::vector<std::string>;

// --- device list and binding ---------------------------------------------------------------------

TEST_F(CaptureVideoTest, DeviceListHoldsOnlyCamerasWithAnIdentity) {
    UseCameras({});
    DeviceList list{{5, {"stale", "stale"}}};
    EXPECT_EQ(capture->EnumDevices(list), -1);
    EXPECT_TRUE(list.empty());

    SimulatedCameraDefinition c = SimulatedCameraDefinition::UsbCamera("Camera C", "1e4e", "0102", "", "3");
    UseCameras({SimulatedCameraDefinition::WifiCamera(), CameraWithoutIdentity(), CameraA(), c});
    ASSERT_EQ(capture->EnumDevices(list), 2);
    EXPECT_EQ(list[0].friendlyName, "Camera A");
    EXPECT_EQ(list[0].devicePath, "usb#vid_0c45&pid_6366#SN0001");
    EXPECT_EQ(list[1].friendlyName, "Camera C");
    EXPECT_EQ(list[1].devicePath, "usb#vid_1e4e&pid_0102#pci-0000:00:14.0-usb-0:3:1.0");
}

TEST_F(CaptureVideoTest, WirelessCameraIsBoundOnlyAtItsOwnIndex) {
    UseCameras({SimulatedCameraDefinition::WifiCamera(), CameraWithoutIdentity(), CameraA()});
    ASSERT_EQ(Start(0, {}), S_OK);
    EXPECT_EQ(capture->BoundIdentity(), "usb#vid_0c45&pid_6366#SN0001");
    EXPECT_FALSE(link.HasLinkThread());

    ASSERT_EQ(Start(kWifiDeviceIndex, {}), S_OK);
    EXPECT_EQ(capture->BoundIdentity(), "wifi device");
    EXPECT_TRUE(link.HasLinkThread());
    EXPECT_TRUE(FramesGoOn(1));
    capture->StopPreview();
    EXPECT_FALSE(link.HasLinkThread());
    EXPECT_TRUE(alerts.Alerts().empty());

    // Camera B has no identity: index 1 names nothing.
    for (int32_t index : {1, -1}) {
        alerts.Clear();
        EXPECT_EQ(Start(index, {}), SPAPI_E_NO_DEVICE_SELECTED);
        EXPECT_EQ(alerts.Alerts(), Alerts{FormatCaptureError(SPAPI_E_NO_DEVICE_SELECTED, link, strings)});
        EXPECT_TRUE(capture->HasVideoWindow());
    }
    capture->StopPreview();
    EXPECT_FALSE(capture->HasVideoWindow());
    EXPECT_EQ(sim->OpenDescriptors(), 0u);
}

// The index chosen from a list names the camera seen there, even when another camera came or went
// before the preview starts.
TEST_F(CaptureVideoTest, AnIndexBindsTheCameraItNamedInTheListAfterOthersCameAndWent) {
    SimulatedCameraDefinition c = SimulatedCameraDefinition::UsbCamera("Camera C", "1e4e", "0102", "SN0003", "3");
    UseCameras({CameraA(), c});
    DeviceList list;
    ASSERT_EQ(capture->EnumDevices(list), 2);

    sim->Camera(0).Unplug();
    ASSERT_EQ(Start(1, {}), S_OK);
    EXPECT_EQ(capture->BoundIdentity(), list[1].devicePath);
    capture->StopPreview();
    // The camera a list named is gone: nothing else is taken in its place.
    EXPECT_EQ(Start(0, {}), SPAPI_E_NO_DEVICE_SELECTED);
    capture->StopPreview();

    sim->Camera(0).Plug();
    ASSERT_EQ(capture->EnumDevices(list), 2);
    ASSERT_EQ(Start(0, {}), S_OK);
    EXPECT_EQ(capture->BoundIdentity(), list[0].devicePath);
    capture->StopPreview();
    EXPECT_EQ(sim->OpenDescriptors(), 0u);
}

// --- formats -------------------------------------------------------------------------------------

TEST_F(CaptureVideoTest, ResolutionListKeepsOneEntryPerHeightAndClassPlusTheInterpolatedOne) {
    UseCameras({WithFormats({{kYuyv, "YUYV", {{640, 480, {30}}, {1280, 960, {15}}}},
                             {kMjpg, "MJPG", {{640, 480, {30}}, {1280, 720, {30}}, {1280, 960, {30}}}}})});
    ASSERT_EQ(Start(0, {}), S_OK);
    std::vector<int32_t> keys;
    for (const auto& [key, entry] : viewer.resolutionList) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<int32_t>{(480 << 16) | 1, (480 << 16) | 2, (720 << 16) | 2, (960 << 16) | 1,
                                          (960 << 16) | 2, (1920 << 16) | 2}));
    EXPECT_EQ(viewer.resolutionList[(960 << 16) | 1], (CaptureResolution{1280, 960, kYuyv, false}));
    // Among equal largest sizes the last capability counts.
    EXPECT_EQ(viewer.resolutionList[(1920 << 16) | 2], (CaptureResolution{2560, 1920, kMjpg, true}));
}

TEST_F(CaptureVideoTest, OversizedRequestsCaptureAtTheLargestSize) {
    ASSERT_EQ(Start(0, {4000, 3000, 0, false}), S_OK);
    EXPECT_EQ(lastRequest, (CaptureResolution{2592, 1944, 0, false}));
    EXPECT_EQ(g_previewGrabber.height, 1944);
    // 640 x 480 comes before 848 x 480 and keeps the key.
    EXPECT_EQ(viewer.resolutionList[(480 << 16) | 1].width, 640);

    // Interpolated: the camera's maximum, the request keeps its doubled size; recordings take the
    // rate the camera granted at that size.
    ASSERT_EQ(Start(0, {5184, 3888, kMjpg, true}), S_OK);
    EXPECT_EQ(g_previewGrabber.width, 2592);
    EXPECT_EQ(lastRequest, (CaptureResolution{5184, 3888, kMjpg, true}));
    EXPECT_EQ(capture->GetFrameRate(), (FrameRate{15, 1}));
}

// MJPG lists 1920 x 1080 (30 fps) before 1280 x 720 (25 fps).
SimulatedCameraDefinition CameraWithRates() {
    return WithFormats({{kYuyv, "YUYV", {{640, 480, {30}}, {1280, 720, {20}}, {1920, 1080, {10, 5}}}},
                        {kMjpg, "MJPG", {{1920, 1080, {30, 15}}, {1280, 720, {25}}, {2592, 1944, {15}}}}});
}

TEST_F(CaptureVideoTest, NoPreferenceTakesTheViewersLargestListedSize) {
    UseCameras({CameraWithRates()});
    ASSERT_EQ(Start(0, {}), S_OK);
    // The last entry at most 2048 wide; the current YUYV format offers it at 10 fps, MJPG at 30.
    EXPECT_EQ(lastRequest, (CaptureResolution{1920, 1080, 0, false}));
    EXPECT_EQ(capture->StreamingPixelFormat(), kMjpg);
    EXPECT_EQ(capture->GetFramesPerSecond(), 30);

    // A format that does not offer the size gives way to one that does.
    UseCameras({WithFormats({{kYuyv, "YUYV", {{640, 480, {30}}}}, {kMjpg, "MJPG", {{1280, 720, {25}}}}})});
    ASSERT_EQ(Start(0, {}), S_OK);
    EXPECT_EQ(lastRequest, (CaptureResolution{1280, 720, 0, false}));
    EXPECT_EQ(capture->GetFramesPerSecond(), 25);

    // Without a viewer nothing is preferred and the current size stays.
    capture->SetViewer(nullptr);
    ASSERT_EQ(Start(0, {}), S_OK);
    EXPECT_EQ(lastRequest, (CaptureResolution{1280, 720, 0, false}));
}

// The rate is the one the camera grants for the size it streams, not that of a larger capability.
TEST_F(CaptureVideoTest, RequestedFormatTakesTheRateGrantedAtItsSize) {
    UseCameras({CameraWithRates()});
    ASSERT_EQ(Start(0, {1280, 720, kMjpg, false}), S_OK);
    EXPECT_EQ(lastRequest, (CaptureResolution{1280, 720, kMjpg, false}));
    EXPECT_EQ(capture->GetFramesPerSecond(), 25);
    ASSERT_EQ(Start(0, {1900, 1000, kYuyv, false}), S_OK);
    EXPECT_EQ(lastRequest, (CaptureResolution{1920, 1080, kYuyv, false}));
    EXPECT_EQ(capture->StreamingPixelFormat(), kYuyv);
    EXPECT_EQ(capture->GetFramesPerSecond(), 10);
}

// What the capture object hands the recorder.
class RateRecorder final : public IMovieRecorder {
public:
    bool StartRecording(const std::string&, FrameRate rate) override {
        rates.push_back(rate);
        return true;
    }
    void StopRecording() override {}
    std::vector<FrameRate> rates;
};

// A microscope listing YUYV at 5 fps before MJPG at 29.97 (interval 333667 x 100 ns) at the same size.
TEST_F(CaptureVideoTest, NoPreferenceStreamsTheFastestFormatAndRecordsTheGrantedInterval) {
    UseCameras({WithFormats({{kYuyv, "YUYV", {{1280, 720, {}, {2000000}}}},
                             {kMjpg, "MJPG", {{1280, 720, {}, {666667, 333667}}}}})});
    RateRecorder rates;
    capture = std::make_unique<CCaptureVideo>(
        CaptureVideoServices{sim.get(), &link, &strings, &hive, &g_previewGrabber, &g_stillGrabber, &rates});
    capture->SetViewer(&viewer);
    ASSERT_EQ(Start(0, {}), S_OK);
    EXPECT_EQ(capture->StreamingPixelFormat(), kMjpg);
    // uvcvideo states 333667 x 100 ns as 100/2997 s; that is what the camera streams and records.
    EXPECT_EQ(capture->GetFrameRate(), (FrameRate{2997, 100}));
    const int fd = sim->Open(sim->Camera(0).VideoNode(), O_RDWR);
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ASSERT_EQ(sim->Ioctl(fd, VIDIOC_G_PARM, &parm), 0);
    EXPECT_EQ(parm.parm.capture.timeperframe.numerator, 100u);
    EXPECT_EQ(parm.parm.capture.timeperframe.denominator, 2997u);
    sim->Close(fd);
    capture->StartRecording(box / "movie");
    ASSERT_EQ(rates.rates.size(), 1u);
    EXPECT_EQ(rates.rates[0], (FrameRate{2997, 100}));

    // Equal rates keep the current format.
    UseCameras({WithFormats({{kYuyv, "YUYV", {{640, 480, {30}}}}, {kMjpg, "MJPG", {{640, 480, {30}}}}})});
    ASSERT_EQ(Start(0, {}), S_OK);
    EXPECT_EQ(capture->StreamingPixelFormat(), kYuyv);
    EXPECT_EQ(capture->GetFrameRate(), (FrameRate{30, 1}));
}

// --- frames --------------------------------------------------------------------------------------

TEST_F(CaptureVideoTest, FramesReachTheDispatcherUprightAndBottomUpAtTheConnectedSize) {
    for (uint32_t subtype : {kYuyv, kMjpg}) {
        SCOPED_TRACE(subtype == kYuyv ? "YUYV" : "MJPG");
        ASSERT_EQ(Start(0, {640, 480, subtype, false}), S_OK);
        FrameBuffer frame;
        ASSERT_TRUE(NextLiveFrame(frame));
        ASSERT_EQ(frame.Width(), 640);
        ASSERT_EQ(frame.Height(), 480);
        // Memory row 0 is the bottom of the picture; the marker sits in the top-left corner.
        EXPECT_TRUE(Near(At(frame, 100, 10).data(), SimulatedCamera::kBottomColour));
        EXPECT_TRUE(Near(At(frame, 100, 469).data(), SimulatedCamera::kTopColour));
        EXPECT_TRUE(Near(At(frame, 10, 469).data(), SimulatedCamera::kMarkerColour));

        // The dispatcher writes the next frame as a photo; decoded, it stands upright.
        const size_t before = SingleShots().size();
        viewer.state.shotPending = 1;
        ASSERT_TRUE(WaitUntil([&] { return viewer.Count(WM_SHOT_DONE) == (subtype == kYuyv ? 1u : 2u); }));
        ASSERT_EQ(SingleShots().size(), before + 1);
        std::string jpeg = test::ReadFile(box / ("media/zentrova/Single Shots/" + SingleShots().back()));
        auto* data = reinterpret_cast<unsigned char*>(jpeg.data());
        tjhandle decoder = tjInitDecompress();
        std::vector<uint8_t> rgb(640 * 480 * 3);
        ASSERT_EQ(tjDecompress2(decoder, data, jpeg.size(), rgb.data(), 640, 0, 480, TJPF_RGB, 0), 0);
        tjDestroy(decoder);
        EXPECT_TRUE(Near(&rgb[(10 * 640 + 10) * 3], SimulatedCamera::kMarkerColour));
        EXPECT_TRUE(Near(&rgb[(100 * 640 + 100) * 3], SimulatedCamera::kTopColour));
        EXPECT_TRUE(Near(&rgb[(400 * 640 + 100) * 3], SimulatedCamera::kBottomColour));
    }

    // The live pane gets the frame as the dispatcher turned it.
    rotation.AddOperation(RotateOp::Rotate180);
    FrameBuffer frame;
    // The frame being turned while the operation was added may still come unturned: the next one not.
    ASSERT_TRUE(FramesGoOn(2));
    ASSERT_TRUE(NextLiveFrame(frame));
    EXPECT_TRUE(Near(At(frame, 540, 10).data(), SimulatedCamera::kTopColour));
    EXPECT_TRUE(Near(At(frame, 629, 10).data(), SimulatedCamera::kMarkerColour));
}

TEST_F(CaptureVideoTest, CorruptMjpgFramesAreSkippedAndTheStreamGoesOn) {
    sim->Camera(0).CorruptNextMjpgFrames(1, CorruptFrame::Truncated);
    ASSERT_EQ(Start(0, {640, 480, kMjpg, false}), S_OK);
    ASSERT_TRUE(FramesGoOn(2));
    sim->Camera(0).CorruptNextMjpgFrames(1, CorruptFrame::Garbage);
    // Frames the camera had made before it was told may still come first.
    ASSERT_TRUE(WaitUntil([&] { return capture->GetCaptureStats().dropped >= 2; }));
    ASSERT_TRUE(FramesGoOn(2));
    EXPECT_EQ(capture->GetCaptureStats().dropped, 2);
    EXPECT_TRUE(capture->IsStreaming());
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(CaptureVideoTest, EmptyAndFlaggedBuffersAreDroppedAndARunOfThemIsToldOnce) {
    DequeueQuirks& buffers = UseQuirks();
    std::atomic<int> told{0};
    capture->SetFramesUnreadableHandler([&] { ++told; });
    ASSERT_EQ(Start(0, {640, 480, kMjpg, false}), S_OK);
    ASSERT_EQ(capture->GetFramesPerSecond(), 30);
    ASSERT_TRUE(FramesGoOn(2));

    for (DequeueQuirks::Spoil kind : {DequeueQuirks::Spoil::Empty, DequeueQuirks::Spoil::Flagged}) {
        const int64_t dropped = capture->GetCaptureStats().dropped;
        const int64_t delivered = capture->GetCaptureStats().delivered;
        buffers.SetSpoil(kind);
        // A second's worth in a row at 30 frames per second: told once, however long it lasts.
        ASSERT_TRUE(WaitUntil([&] { return told == 1; }));
        EXPECT_TRUE(capture->GetCaptureStats().unreadable);
        ASSERT_TRUE(WaitUntil([&] { return capture->GetCaptureStats().dropped >= dropped + 40; }));
        EXPECT_EQ(told, 1);
        EXPECT_LE(capture->GetCaptureStats().delivered, delivered + 1) << "a frame dequeued before";

        // The next usable frame ends the run, and says so.
        buffers.SetSpoil(DequeueQuirks::Spoil::None);
        ASSERT_TRUE(WaitUntil([&] { return told == 2; }));
        EXPECT_FALSE(capture->GetCaptureStats().unreadable);
        ASSERT_TRUE(FramesGoOn(2));
        told = 0;
    }
    EXPECT_TRUE(capture->IsStreaming());
    EXPECT_TRUE(alerts.Alerts().empty()) << "the viewer tells, through its notice";
}

TEST_F(CaptureVideoTest, NoFrameCallbackRunsAfterStopPreview) {
    std::atomic<int> notified{0};
    capture->LiveFrames().SetNotify([&] { ++notified; });
    ASSERT_EQ(Start(0, {640, 480, kMjpg, false}), S_OK);
    ASSERT_TRUE(FramesGoOn(2));
    capture->StopPreview();
    const int after = notified;
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(notified, after);
    FrameBuffer frame;
    EXPECT_FALSE(capture->LiveFrames().Take(frame));
    EXPECT_EQ(sim->OpenDescriptors(), 0u);
    EXPECT_EQ(sim->MappedAreas(), 0u);
    capture->LiveFrames().SetNotify(nullptr);
}

// --- failures ------------------------------------------------------------------------------------

TEST_F(CaptureVideoTest, UnpluggedCameraEndsItsStreamCleanly) {
    CDeviceMonitor monitor(sim.get());
    ASSERT_TRUE(monitor.Open());
    ASSERT_EQ(Start(0, {640, 480, kMjpg, false}), S_OK);
    ASSERT_TRUE(FramesGoOn(1));
    sim->Camera(0).Unplug();
    ASSERT_TRUE(WaitUntil([&] { return !capture->IsStreaming(); }));
    EXPECT_TRUE(capture->GetCaptureStats().ended);
    const std::vector<DeviceEvent> events = monitor.ReadEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].action, "remove");
    EXPECT_EQ(events[0].node, sim->Camera(0).VideoNode());

    capture->StopPreview();
    EXPECT_EQ(sim->OpenDescriptors(), 0u);
    EXPECT_EQ(sim->MappedAreas(), 0u);
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(CaptureVideoTest, BusyCameraShowsTheNotPreviewText) {
    const Alerts busy{
        Text("ui_alert_not_preview_device",
             "Couldn't preview this device,because this device may been using by other applicaiton")};
    sim->Camera(0).SetBusy(true);
    EXPECT_EQ(Start(0, {640, 480, kMjpg, false}), -EBUSY);
    EXPECT_EQ(alerts.Alerts(), busy);
    EXPECT_FALSE(capture->IsStreaming());

    // Another program holding the buffers gives the same answer.
    sim->Camera(0).SetBusy(false);
    const int other = sim->Open(sim->Camera(0).VideoNode(), O_RDWR);
    v4l2_requestbuffers request{2, V4L2_BUF_TYPE_VIDEO_CAPTURE, V4L2_MEMORY_MMAP, 0, 0, {}};
    ASSERT_EQ(sim->Ioctl(other, VIDIOC_REQBUFS, &request), 0);
    alerts.Clear();
    EXPECT_EQ(Start(0, {640, 480, kMjpg, false}), -EBUSY);
    EXPECT_EQ(alerts.Alerts(), busy);
    sim->Close(other);

    alerts.Clear();
    EXPECT_EQ(Start(0, {640, 480, kMjpg, false}), S_OK);
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(CaptureVideoTest, OpenFailuresAreNamedForWhatTheyAre) {
    const std::string permission = Text("ui_alert_camera_permission", "");
    EXPECT_NE(permission.find("video"), std::string::npos);
    const std::string busy = Text("ui_alert_not_preview_device", "");
    const std::vector<std::pair<int, std::string>> cases = {
        {EACCES, permission},
        {EPERM, permission},
    };
    for (const auto& [error, text] : cases) {
        SCOPED_TRACE(error);
        alerts.Clear();
        sim->Camera(0).SetOpenError(error);
        EXPECT_EQ(Start(0, {640, 480, kMjpg, false}), -error);
        EXPECT_EQ(alerts.Alerts(), Alerts{text});
        EXPECT_FALSE(capture->IsStreaming());
    }
    sim->Camera(0).SetOpenError(0);

    // A camera that fails the start shows the system's text, not the busy one.
    for (int error : {EPIPE, EIO}) {
        alerts.Clear();
        sim->Camera(0).SetStreamOnError(error);
        EXPECT_EQ(Start(0, {640, 480, kMjpg, false}), -error);
        EXPECT_EQ(alerts.Alerts(), Alerts{FormatCaptureError(-error, link, strings)});
        EXPECT_NE(alerts.Alerts()[0], busy);
    }
    sim->Camera(0).SetStreamOnError(0);
    alerts.Clear();
    EXPECT_EQ(Start(0, {640, 480, kMjpg, false}), S_OK);
    EXPECT_TRUE(alerts.Alerts().empty());
}

// USB 2.0 gives a camera at most about 24 MB/s of isochronous bandwidth, less with others on the bus.
TEST_F(CaptureVideoTest, TooLittleBandwidthFallsBackToMjpgThenToSmallerSizes) {
    // YUYV 1280 x 720 at 30 fps needs 55 MB/s; MJPG at the same size fits.
    sim->Camera(0).SetUsbBandwidth(24000000);
    ASSERT_EQ(Start(0, {1280, 720, kYuyv, false}), S_OK);
    EXPECT_EQ(capture->StreamingPixelFormat(), kMjpg);
    EXPECT_EQ(lastRequest, (CaptureResolution{1280, 720, kYuyv, false}));
    EXPECT_TRUE(FramesGoOn(2));
    EXPECT_TRUE(alerts.Alerts().empty());

    // Little left: MJPG at 1920 x 1080 and 1280 x 720 are refused too; 640 x 480 fits.
    sim->Camera(0).SetUsbBandwidth(5000000);
    ASSERT_EQ(Start(0, {1920, 1080, kMjpg, false}), S_OK);
    EXPECT_EQ(lastRequest, (CaptureResolution{640, 480, kMjpg, false}));
    EXPECT_EQ(g_previewGrabber.width, 640);
    EXPECT_TRUE(FramesGoOn(2));
    EXPECT_TRUE(alerts.Alerts().empty());

    // Nothing fits: the bandwidth is named.
    sim->Camera(0).SetUsbBandwidth(1000000);
    EXPECT_EQ(Start(0, {1920, 1080, kYuyv, false}), -ENOSPC);
    EXPECT_EQ(alerts.Alerts(), Alerts{Text("ui_alert_usb_bandwidth", "")});
    EXPECT_FALSE(capture->IsStreaming());
    capture->StopPreview();
    EXPECT_EQ(sim->MappedAreas(), 0u);
    EXPECT_EQ(sim->OpenDescriptors(), 0u);
}

TEST_F(CaptureVideoTest, StreamThatStopsDeliveringIsRestartedOnce) {
    std::atomic<int> lost{0};
    capture->SetStreamLostHandler([&] { ++lost; });
    ASSERT_EQ(Start(0, {640, 480, kMjpg, false}), S_OK);
    ASSERT_TRUE(FramesGoOn(2));
    sim->Camera(0).StopDelivering(StallKind::UntilRestart);
    ASSERT_TRUE(WaitUntil([&] { return capture->GetCaptureStats().restarts >= 1; }, 20s));
    EXPECT_TRUE(FramesGoOn(3));
    EXPECT_TRUE(capture->IsStreaming());
    EXPECT_EQ(lost, 0);
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(CaptureVideoTest, StreamThatStaysSilentAfterTheRestartIsReported) {
    std::atomic<int> lost{0};
    capture->SetStreamLostHandler([&] { ++lost; });
    ASSERT_EQ(Start(0, {640, 480, kMjpg, false}), S_OK);
    ASSERT_TRUE(FramesGoOn(2));
    sim->Camera(0).StopDelivering(StallKind::UntilReplug);
    // The stream is marked ended a moment before the alert and the handler report it.
    ASSERT_TRUE(WaitUntil([&] { return capture->GetCaptureStats().ended && lost == 1; }, 20s));
    const CaptureStats stats = capture->GetCaptureStats();
    EXPECT_TRUE(stats.stalled);
    EXPECT_GE(stats.restarts, 1);  // a loaded machine may have restarted it once before
    EXPECT_FALSE(capture->IsStreaming());
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(alerts.Alerts(), Alerts{Text("ui_alert_camera_stopped", "")});

    // Plugged in again, it streams as before.
    capture->StopPreview();
    sim->Camera(0).Unplug();
    sim->Camera(0).Plug();
    ASSERT_EQ(Start(0, {640, 480, kMjpg, false}), S_OK);
    EXPECT_TRUE(FramesGoOn(2));
    EXPECT_FALSE(capture->GetCaptureStats().stalled);
}

TEST_F(CaptureVideoTest, DevicePropertiesAndControlsNeedAStartedPreview) {
    int shown = 0;
    int32_t value = 0;
    capture->SetDevicePropertiesHandler([&] { ++shown; });
    capture->ShowDeviceProperties();
    EXPECT_EQ(alerts.Alerts(), Alerts{Text("ui_alert_no_camera", "没有监听到摄像头硬件")});
    EXPECT_EQ(shown, 0);
    EXPECT_TRUE(capture->GetControls().empty());
    EXPECT_FALSE(capture->GetControl(V4L2_CID_BRIGHTNESS, value));
    EXPECT_FALSE(capture->SetControl(V4L2_CID_BRIGHTNESS, 5));

    ASSERT_EQ(Start(0, {640, 480, kMjpg, false}), S_OK);
    capture->ShowDeviceProperties();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(alerts.Alerts().size(), 1u);
}

}  // namespace
}  // namespace orvane::test
