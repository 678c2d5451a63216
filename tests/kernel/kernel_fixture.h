#pragma once

#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/module_folder.h"
#include "capture/capture_video.h"
#include "capture/device_file.h"
#include "capture/device_identity.h"
#include "capture/wifi_device_proxy.h"
#include "config/registry_hive.h"
#include "dispatch/viewer_stand_ins.h"
#include "config/setting_param_manage.h"
#include "localization/localizable_string.h"
#include "rig_devices.h"
#include "support/sandbox.h"

namespace orvane::test {

using namespace std::chrono_literals;

// The emulated microscope's identity parts (rig/uvc_gadget.sh).
inline constexpr const char* kMicroscopeIdentity = "usb#vid_0c45&pid_6366#ORV0001";
inline constexpr const char* kMicroscopeSerial = "ORV0001";
// The first of vivid's two instances (guest_backend.sh).
inline constexpr const char* kVividIdentity = "v4l2#vivid#platform:vivid-000#vivid";

// Everything in the guest runs on emulated CPUs: waits are generous.
inline bool WaitLong(const std::function<bool()>& done) { return WaitUntil(done, 30s); }


// The capture object on the real device seam, with settings of its own in a sandbox. The rig's
// devices outlive a test: cam1 (the microscope on controller 0) and vivid's instances are there at
// the start of every test, and a test that takes them away brings them back.
class KernelFixture : public ::testing::Test {
protected:
    KernelFixture()
        : hive(box.ConfigHome() + "/zentrova/settings.conf", GetModuleFolder() + "Resource/factory.conf"),
          settings(&hive),
          strings(&settings, GetModuleFolder()),
          link(&settings, WifiLinkLimits{100ms, 200ms, 3000ms}) {
        CRegistryHive::SetCurrentUser(&hive);
        MakeFolders(box / "media");
        CSettingParam param = settings.GetUsingParam();
        param.SetResourcesPath(box / "media");
        // A loopback address where nothing listens.
        param.wifideviceip = (127u << 24) | (201u << 16) | (static_cast<uint32_t>(getpid()) & 0xFFFF);
        param.movieformat = 7;
        settings.SetUsingParam(param);
        // No sinks: the tests take the frames the live pane would paint.
        capture =
            std::make_unique<CCaptureVideo>(CaptureVideoServices{&RealDeviceFile(), &link, &strings, &hive});
        capture->SetViewer(&viewer);
    }
    ~KernelFixture() override {
        capture.reset();
        CRegistryHive::SetCurrentUser(nullptr);
    }

    void SetUp() override {
        microscope = RigDevices::CameraNode("cam1");
        if (microscope.empty()) microscope = RigDevices::PlugCamera("cam1", 0, kMicroscopeSerial);
        ASSERT_FALSE(microscope.empty()) << "the emulated microscope could not be plugged in";
        ASSERT_FALSE(RigDevices::VividNodes().empty()) << "vivid has no capture node";
    }

    // The capture object's index of the camera at `node` (the cameras that have an identity, in the
    // system's order); -1 when it is not listed.
    int32_t IndexOf(const std::string& node) {
        int32_t index = 0;
        for (const CaptureDevice& device : CDeviceIdentity(RealDeviceFile()).ListCaptureDevices()) {
            if (device.devicePath.empty() || device.IsWifiDevice()) continue;
            if (device.node == node) return index;
            ++index;
        }
        return -1;
    }

    // The index in `listed` of the camera at `node`, found by its identity; -1 when it is not there.
    static int32_t IndexIn(const DeviceList& listed, const std::string& node) {
        std::string identity;
        for (const CaptureDevice& device : CDeviceIdentity(RealDeviceFile()).ListCaptureDevices()) {
            if (device.node == node) identity = device.devicePath;
        }
        for (const auto& [index, entry] : listed) {
            if (!identity.empty() && entry.devicePath == identity) return index;
        }
        return -1;
    }

    // Lists the cameras, as the viewer does, and starts the one at `node` by its place in that list.
    HRESULT Start(const std::string& node, CaptureResolution request) {
        DeviceList listed;
        capture->EnumDevices(listed);
        const int32_t index = IndexIn(listed, node);
        if (index < 0) return E_FAIL;
        lastRequest = request;
        return capture->StartPreview(index, nullptr, lastRequest);
    }
    // The next frame the live pane would paint.
    bool NextLiveFrame(FrameBuffer& frame) {
        capture->LiveFrames().Clear();
        return WaitLong([&] { return capture->LiveFrames().Take(frame); });
    }
    bool FramesGoOn(int count) {
        const int64_t seen = capture->GetCaptureStats().delivered;
        return WaitLong([&] { return capture->GetCaptureStats().delivered >= seen + count; });
    }

    Sandbox box;
    AlertRecorder alerts;
    CRegistryHive hive;
    CSettingParamManage settings;
    CLocalizableString strings;
    CWifiDeviceProxy link;
    ListingViewer viewer;
    std::unique_ptr<CCaptureVideo> capture;
    CaptureResolution lastRequest;
    std::string microscope;  // cam1's capture node
};

}  // namespace orvane::test
