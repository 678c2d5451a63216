#pragma once

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/module_folder.h"
#include "capture/wifi_device_proxy.h"
#include "config/registry.h"
#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "imaging/rotate_sample_imp.h"
#include "localization/localizable_string.h"
#include "media/saving_loaction_manage.h"
#include "simulation/simulated_camera.h"
#include "support/sandbox.h"
#include "viewer/main_viewer_dlg.h"
#include "viewer/preview_window.h"
#include "viewer/video_host.h"
#include "viewer/viewer_controls.h"
#include "viewer/viewer_layout.h"

namespace orvane::test {

// Processes events until pred holds or timeoutMs passed; returns pred's last answer.
template <class Pred>
bool WaitFor(Pred pred, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline void Pump(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    WaitFor([&] { return std::chrono::steady_clock::now() >= until; }, ms + 1000);
}

// A small camera, so that the tests stay light: YUYV 320x240 and 640x480, MJPG 640x480, 30 fps.
inline SimulatedCameraDefinition SmallCamera(const std::string& card, const std::string& vendor,
                                             const std::string& serial, const std::string& port) {
    SimulatedCameraDefinition camera =
        SimulatedCameraDefinition::UsbCamera(card, vendor, "6366", serial, port);
    camera.formats = {
        {V4L2_PIX_FMT_YUYV, "YUYV 4:2:2", {{320, 240, {30, 15}}, {640, 480, {30, 15}}}},
        {V4L2_PIX_FMT_MJPEG, "Motion-JPEG", {{640, 480, {30, 15}}}},
    };
    return camera;
}

inline SimulatedCameraDefinition SmallWifiCamera() {
    SimulatedCameraDefinition camera = SimulatedCameraDefinition::WifiCamera();
    camera.formats = {{V4L2_PIX_FMT_YUYV, "YUYV 4:2:2", {{320, 240, {30}}}}};
    return camera;
}

// A main viewer over a sandbox: its own hive (with the installed factory file), settings, strings,
// saving locations, rotation and wireless link, and simulated cameras. The exit question is answered
// by `confirmAnswer` and recorded.
class ViewerFixture : public ::testing::Test {
protected:
    ViewerFixture()
        : hive(box.ConfigHome() + "/zentrova/settings.conf", CRegistryHive::DefaultFactoryFile()),
          settings(&hive),
          strings(&settings, GetModuleFolder()),
          locations(&settings),
          wifi(&settings, WifiLinkLimits{std::chrono::milliseconds(50), std::chrono::milliseconds(200),
                                         std::chrono::milliseconds(5000)}) {
        CRegistryHive::SetCurrentUser(&hive);
        MakeFolders(box / "media");
        CSettingParam param = settings.GetUsingParam();
        param.language = 0;  // English, whatever the machine's locale
        param.SetResourcesPath(box / "media");
        param.wifideviceip = 0x7F000001;  // loopback only
        settings.SetUsingParam(param);
        SetDeviceFile(&cameras);
    }

    ~ViewerFixture() override {
        viewer.reset();
        SetDeviceFile(nullptr);
        CRegistryHive::SetCurrentUser(nullptr);
    }

    SimulatedCamera& AddCamera(const std::string& card = "Scope", const std::string& vendor = "0c45",
                               const std::string& serial = "A1", const std::string& port = "1") {
        return cameras.AddCamera(SmallCamera(card, vendor, serial, port));
    }

    ViewerServices Services() {
        ViewerServices s;
        s.settings = &settings;
        s.strings = &strings;
        s.locations = &locations;
        s.rotation = &rotation;
        s.wifiLink = &wifi;
        s.device = &cameras;
        s.hive = &hive;
        s.alerts = &alerts;
        s.confirm = [this](const std::string& text, const std::string& caption) {
            questions.push_back(text);
            questionCaptions.push_back(caption);
            return confirmAnswer;
        };
        return s;
    }

    // Builds and shows the viewer, then lets its first preview start.
    void Open(bool waitForFrames = true) {
        viewer = std::make_unique<CMainViewerDlg>(Services());
        viewer->show();
        QCoreApplication::processEvents();
        if (waitForFrames) {
            ASSERT_TRUE(WaitFor([&] { return viewer->HasCurrentDevice() && FramesSeen() > 0; }));
        } else {
            Pump(50);
        }
    }

    int64_t FramesSeen() const {
        CPreviewWindow* preview = viewer->PreviewWindow();
        return preview != nullptr ? preview->VideoHost()->FramesTaken() : 0;
    }

    QAbstractButton* Button(int id) const { return viewer->Button(id); }
    bool Enabled(int id) const { return Button(id)->isEnabled(); }
    // Enabled states of the five action buttons, in toolbar order.
    std::vector<bool> ActionButtons() const {
        return {Enabled(viewer_id::kTakePhoto), Enabled(viewer_id::kTimedShot),
                Enabled(viewer_id::kRecording), Enabled(viewer_id::kSettings), Enabled(viewer_id::kAbout)};
    }
    std::string Caption(int id) const { return Button(id)->text().toStdString(); }
    std::string Text(const char* key, const char* fallback) { return strings.GetString(key, fallback); }
    std::string PromptText() const { return viewer->ViewerLayout().PromptLine()->text().toStdString(); }

    void SetCaptureResolution(int32_t width, int32_t height) {
        settings.SetCaptureResolution(CaptureResolution{width, height, 0, false});
    }
    void StoreDevice(const std::string& identity, int32_t width, int32_t height, bool interpolation) {
        CRegistry key(&hive);
        ASSERT_TRUE(key.Create("Software\\zentrova"));
        key.WriteText("indentityofpreviewed", identity);
        key.WriteDword("captureresolution",
                       (static_cast<uint32_t>(width) << 16) | static_cast<uint32_t>(height));
        key.WriteDword("interpolation", interpolation ? 1u : 0u);
    }
    CaptureState& State() { return viewer->GetCaptureState(); }
    std::vector<std::string> Folder(const std::string& kind) const {
        return ListFolder(box / ("media/zentrova/" + kind));
    }

    Sandbox box;
    AlertRecorder alerts;
    CRegistryHive hive;
    CSettingParamManage settings;
    CLocalizableString strings;
    CSavingLoactionManage locations;
    RotateSampleImp rotation;
    CWifiDeviceProxy wifi;
    SimulatedDeviceFile cameras;
    std::unique_ptr<CMainViewerDlg> viewer;

    bool confirmAnswer = false;
    std::vector<std::string> questions;
    std::vector<std::string> questionCaptions;
};

}  // namespace orvane::test
