#pragma once

// The capture object over simulated cameras, with the dispatcher writing below a sandbox: the fixture
// and helpers of the capture object's tests.
#include "capture/capture_video.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/av_handles.h"
#include "base/module_folder.h"
#include "capture/capture_error.h"
#include "capture/device_monitor.h"
#include "capture/wifi_device_proxy.h"
#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "dispatch/grabber_owner.h"
#include "dispatch/photo_saver.h"
#include "dispatch/recording_control.h"
#include "dispatch/sample_grabber_cb.h"
#include "dispatch/scale_overlay.h"
#include "dispatch/viewer_stand_ins.h"
#include "imaging/rotate_sample_imp.h"
#include "localization/localizable_string.h"
#include "media/saving_loaction_manage.h"
#include "simulation/simulated_camera.h"
#include "support/sandbox.h"

namespace orvane::test {

using namespace std::chrono_literals;
using Colour = SimulatedCamera::Colour;
constexpr uint32_t kYuyv = V4L2_PIX_FMT_YUYV;
constexpr uint32_t kMjpg = V4L2_PIX_FMT_MJPEG;

using TestViewer = CaptureTestViewer;

inline ::testing::AssertionResult Near(const uint8_t* rgb, Colour want) {
    if (std::abs(rgb[0] - want.red) <= 28 && std::abs(rgb[1] - want.green) <= 28 &&
        std::abs(rgb[2] - want.blue) <= 28) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got " << int{rgb[0]} << "," << int{rgb[1]} << "," << int{rgb[2]};
}

// Pixel x of memory row `row` of a bottom-up BGR24 frame, as red, green, blue.
inline std::vector<uint8_t> At(const FrameBuffer& frame, int32_t x, int32_t row) {
    const uint8_t* p = frame.Bits() + (static_cast<size_t>(row) * frame.Width() + x) * 3;
    return {p[2], p[1], p[0]};
}

inline SimulatedCameraDefinition CameraA() {
    return SimulatedCameraDefinition::UsbCamera("Camera A", "0C45", "6366", "SN0001", "1");
}

inline SimulatedCameraDefinition WithFormats(std::vector<SimulatedFormat> formats) {
    SimulatedCameraDefinition definition = CameraA();
    definition.formats = std::move(formats);
    return definition;
}

// A capture node that says nothing of where it is: no udev property forms an identity for it, and
// its driver gives neither its name nor its bus.
inline SimulatedCameraDefinition CameraWithoutIdentity() {
    SimulatedCameraDefinition definition = SimulatedCameraDefinition::UsbCamera("Camera B", "", "", "", "");
    definition.usb = false;
    definition.snapshotButton = false;
    definition.driver.clear();
    definition.busInfo.clear();
    return definition;
}

// The simulated cameras' device file with the drivers' ways of handing back a buffer that holds no
// picture: while spoiling, every buffer dequeued comes back with bytesused 0 (a payload that never
// came) or with V4L2_BUF_FLAG_ERROR (uvcvideo's mark for a payload it lost part of), its data intact.
class DequeueQuirks final : public IDeviceFile {
public:
    enum class Spoil { None, Empty, Flagged };
    explicit DequeueQuirks(IDeviceFile& inner) : inner(inner) {}

    void SetSpoil(Spoil kind) { spoil = kind; }

    int Ioctl(int fd, unsigned long request, void* arg) override {
        const int result = inner.Ioctl(fd, request, arg);
        if (result == 0 && request == VIDIOC_DQBUF) {
            auto* buffer = static_cast<v4l2_buffer*>(arg);
            if (spoil == Spoil::Empty) buffer->bytesused = 0;
            if (spoil == Spoil::Flagged) buffer->flags |= V4L2_BUF_FLAG_ERROR;
        }
        return result;
    }
    int Open(const std::string& path, int flags) override { return inner.Open(path, flags); }
    int Close(int fd) override { return inner.Close(fd); }
    void* Mmap(size_t length, int prot, int flags, int fd, off_t offset) override {
        return inner.Mmap(length, prot, flags, fd, offset);
    }
    int Munmap(void* address, size_t length) override { return inner.Munmap(address, length); }
    int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) override {
        return inner.Poll(fds, count, timeoutMs);
    }
    ssize_t Read(int fd, void* buffer, size_t size) override { return inner.Read(fd, buffer, size); }
    std::vector<DeviceNode> ListNodes(const std::string& subsystem) override {
        return inner.ListNodes(subsystem);
    }
    int OpenMonitor() override { return inner.OpenMonitor(); }
    bool ReadEvent(int monitorFd, DeviceEvent& event) override { return inner.ReadEvent(monitorFd, event); }
    void CloseMonitor(int monitorFd) override { inner.CloseMonitor(monitorFd); }

private:
    IDeviceFile& inner;
    std::atomic<Spoil> spoil{Spoil::None};
};

// The capture object over simulated cameras, with the dispatcher writing below a sandbox.
class CaptureVideoTest : public ::testing::Test {
protected:
    CaptureVideoTest()
        : hive(box.ConfigHome() + "/zentrova/settings.conf", GetModuleFolder() + "Resource/factory.conf"),
          settings(&hive),
          locations(&settings),
          strings(&settings, GetModuleFolder()),
          link(&settings, WifiLinkLimits{100ms, 200ms, 3000ms}) {
        CRegistryHive::SetCurrentUser(&hive);
        test::MakeFolders(box / "media");
        CSettingParam param = settings.GetUsingParam();
        param.SetResourcesPath(box / "media");
        // A loopback address where nothing listens.
        param.wifideviceip = (127u << 24) | (201u << 16) | (static_cast<uint32_t>(getpid()) & 0xFFFF);
        param.captureresolution = {640, 480, 0, false};
        param.movieformat = 7;  // no movie output: recordings here only show the frame rate
        settings.SetUsingParam(param);
        locations.CreateResourceFolders();
        for (CSampleGrabberCB* grabber : {&g_previewGrabber, &g_stillGrabber}) {
            grabber->SetServices({&rotation, &settings, &locations, &saver});
            grabber->owner = &viewer;
        }
        saver.Start(&viewer);
        UseCameras({CameraA()});
    }
    ~CaptureVideoTest() override {
        capture.reset();
        saver.Stop();
        for (CSampleGrabberCB* grabber : {&g_previewGrabber, &g_stillGrabber}) {
            grabber->owner = nullptr;
            grabber->SetServices({});
        }
        CRegistryHive::SetCurrentUser(nullptr);
    }

    void UseCameras(const std::vector<SimulatedCameraDefinition>& cameras) {
        capture.reset();
        sim = std::make_unique<SimulatedDeviceFile>(cameras);
        capture = std::make_unique<CCaptureVideo>(CaptureVideoServices{
            sim.get(), &link, &strings, &hive, &g_previewGrabber, &g_stillGrabber, &recorder});
        capture->SetViewer(&viewer);
    }
    // One camera of 640 x 480 YUYV at 30 frames per second, recording AVI movies at that size.
    void UseMovieCamera() {
        SimulatedCameraDefinition camera = CameraA();
        camera.formats = {{kYuyv, "YUYV", {{640, 480, {30}}}}};
        UseCameras({camera});
        CSettingParam param = settings.GetUsingParam();
        param.movieformat = 0;  // AVI
        param.captureresolution = {640, 480, kYuyv, false};
        settings.SetUsingParam(param);
    }
    // The capture object over the simulated cameras through DequeueQuirks.
    DequeueQuirks& UseQuirks() {
        capture.reset();
        quirks = std::make_unique<DequeueQuirks>(*sim);
        capture = std::make_unique<CCaptureVideo>(CaptureVideoServices{
            quirks.get(), &link, &strings, &hive, &g_previewGrabber, &g_stillGrabber, &recorder});
        capture->SetViewer(&viewer);
        return *quirks;
    }
    HRESULT Start(int32_t index, CaptureResolution request) {
        lastRequest = request;
        return capture->StartPreview(index, nullptr, lastRequest);
    }
    bool NextLiveFrame(FrameBuffer& frame) {
        return WaitUntil([&] { return capture->LiveFrames().Take(frame); });
    }
    bool FramesGoOn(int count) {
        const int64_t seen = capture->GetCaptureStats().delivered;
        return WaitUntil([&] { return capture->GetCaptureStats().delivered >= seen + count; });
    }
    std::vector<std::string> SingleShots() const {
        return test::ListFolder(box / "media/zentrova/Single Shots");
    }
    std::string Text(const char* key, const char* fallback) { return strings.GetString(key, fallback); }

    test::Sandbox box;
    test::AlertRecorder alerts;
    CRegistryHive hive;
    CSettingParamManage settings;
    CSavingLoactionManage locations;
    CLocalizableString strings;
    CWifiDeviceProxy link;
    RotateSampleImp rotation;
    CRecordingControl recorder{&settings, &viewer};
    TestViewer viewer;
    CPhotoSaver saver{PhotoSaverServices{&settings, &locations, &strings}};
    std::unique_ptr<SimulatedDeviceFile> sim;
    std::unique_ptr<DequeueQuirks> quirks;
    std::unique_ptr<CCaptureVideo> capture;
    CaptureResolution lastRequest;
};

}  // namespace orvane::test
