// Camera controls through the capture object against uvcvideo (the emulated microscope declares
// auto-exposure mode, exposure time, brightness, white balance temperature and its automatic mode)
// and vivid, in the kernel rig's guest.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kernel_fixture.h"

namespace orvane::test {
namespace {

constexpr uint32_t kMjpg = V4L2_PIX_FMT_MJPEG;
constexpr uint32_t kYuyv = V4L2_PIX_FMT_YUYV;

const CameraControl* Find(const std::vector<CameraControl>& controls, uint32_t id) {
    auto it = std::find_if(controls.begin(), controls.end(), [&](const CameraControl& c) { return c.id == id; });
    return it == controls.end() ? nullptr : &*it;
}

bool Inactive(CCaptureVideo& capture, uint32_t id) {
    const std::vector<CameraControl> controls = capture.GetControls();
    const CameraControl* control = Find(controls, id);
    return control != nullptr && (control->flags & V4L2_CTRL_FLAG_INACTIVE) != 0;
}

using KernelControlsTest = KernelFixture;

TEST_F(KernelControlsTest, MicroscopeControlsAreListedWrittenAndReadBack) {
    ASSERT_EQ(Start(microscope, {1280, 720, kMjpg, false}), S_OK);
    const std::vector<CameraControl> controls = capture->GetControls();

    const CameraControl* brightness = Find(controls, V4L2_CID_BRIGHTNESS);
    ASSERT_NE(brightness, nullptr);
    EXPECT_EQ(brightness->minimum, -64);
    EXPECT_EQ(brightness->maximum, 64);
    EXPECT_EQ(brightness->defaultValue, 0);

    const CameraControl* exposureMode = Find(controls, V4L2_CID_EXPOSURE_AUTO);
    ASSERT_NE(exposureMode, nullptr);
    EXPECT_EQ(exposureMode->type, static_cast<uint32_t>(V4L2_CTRL_TYPE_MENU));
    std::vector<std::string> modes;
    for (const CameraControlItem& item : exposureMode->items) modes.push_back(item.name);
    // uvcvideo offers the modes the camera names in GET_RES: manual and aperture priority.
    EXPECT_EQ(modes, (std::vector<std::string>{"Manual Mode", "Aperture Priority Mode"}));

    const CameraControl* exposure = Find(controls, V4L2_CID_EXPOSURE_ABSOLUTE);
    ASSERT_NE(exposure, nullptr);
    EXPECT_EQ(exposure->minimum, 3);
    EXPECT_EQ(exposure->maximum, 2047);
    EXPECT_NE(Find(controls, V4L2_CID_AUTO_WHITE_BALANCE), nullptr);
    EXPECT_NE(Find(controls, V4L2_CID_WHITE_BALANCE_TEMPERATURE), nullptr);

    int32_t value = 0;
    ASSERT_TRUE(capture->SetControl(V4L2_CID_BRIGHTNESS, 20));
    ASSERT_TRUE(capture->GetControl(V4L2_CID_BRIGHTNESS, value));
    EXPECT_EQ(value, 20);
    ASSERT_TRUE(capture->SetControl(V4L2_CID_BRIGHTNESS, -20));

    // Remembered for the camera and set again when its preview starts.
    capture->StopPreview();
    ASSERT_EQ(Start(microscope, {640, 480, kYuyv, false}), S_OK);
    ASSERT_TRUE(capture->GetControl(V4L2_CID_BRIGHTNESS, value));
    EXPECT_EQ(value, -20);
    capture->StopPreview();
}

TEST_F(KernelControlsTest, VividControlsAreWrittenAndReadBack) {
    ASSERT_EQ(Start(RigDevices::VividNodes().front(), {640, 480, kYuyv, false}), S_OK);
    const std::vector<CameraControl> controls = capture->GetControls();
    ASSERT_NE(Find(controls, V4L2_CID_BRIGHTNESS), nullptr);
    ASSERT_NE(Find(controls, V4L2_CID_CONTRAST), nullptr);
    int32_t value = 0;
    ASSERT_TRUE(capture->SetControl(V4L2_CID_BRIGHTNESS, 200));
    ASSERT_TRUE(capture->GetControl(V4L2_CID_BRIGHTNESS, value));
    EXPECT_EQ(value, 200);
    ASSERT_TRUE(capture->SetControl(V4L2_CID_BRIGHTNESS, 128));
    capture->StopPreview();
}

// uvcvideo marks a manual control INACTIVE while its automatic mode is on and never raises the
// UPDATE flag: the list has to be read again after a write for the manual control to unlock.
TEST_F(KernelControlsTest, ManualExposureUnlocksExposureTimeAtOnce) {
    ASSERT_EQ(Start(microscope, {1280, 720, kMjpg, false}), S_OK);
    ASSERT_TRUE(capture->SetControl(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY));
    EXPECT_TRUE(Inactive(*capture, V4L2_CID_EXPOSURE_ABSOLUTE));
    EXPECT_TRUE(Inactive(*capture, V4L2_CID_WHITE_BALANCE_TEMPERATURE));

    ASSERT_TRUE(capture->SetControl(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL));
    EXPECT_FALSE(Inactive(*capture, V4L2_CID_EXPOSURE_ABSOLUTE));
    int32_t value = 0;
    ASSERT_TRUE(capture->SetControl(V4L2_CID_EXPOSURE_ABSOLUTE, 500));
    ASSERT_TRUE(capture->GetControl(V4L2_CID_EXPOSURE_ABSOLUTE, value));
    EXPECT_EQ(value, 500);

    ASSERT_TRUE(capture->SetControl(V4L2_CID_AUTO_WHITE_BALANCE, 0));
    EXPECT_FALSE(Inactive(*capture, V4L2_CID_WHITE_BALANCE_TEMPERATURE));
    ASSERT_TRUE(capture->SetControl(V4L2_CID_WHITE_BALANCE_TEMPERATURE, 3200));
    ASSERT_TRUE(capture->GetControl(V4L2_CID_WHITE_BALANCE_TEMPERATURE, value));
    EXPECT_EQ(value, 3200);

    ASSERT_TRUE(capture->SetControl(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY));
    EXPECT_TRUE(Inactive(*capture, V4L2_CID_EXPOSURE_ABSOLUTE));
    capture->StopPreview();
}

// uvcvideo lists the manual focus before its automatic mode and the camera refuses it ("wrong
// state", EACCES) while the automatic focus is on: remembered values are set again automatic modes
// first.
TEST_F(KernelControlsTest, RememberedManualFocusIsSetAgainAfterItsAutomaticModeOnReplug) {
    ASSERT_EQ(Start(microscope, {1280, 720, kMjpg, false}), S_OK);
    std::vector<CameraControl> controls = capture->GetControls();
    const CameraControl* focus = Find(controls, V4L2_CID_FOCUS_ABSOLUTE);
    const CameraControl* automatic = Find(controls, V4L2_CID_FOCUS_AUTO);
    ASSERT_NE(focus, nullptr);
    ASSERT_NE(automatic, nullptr);
    EXPECT_LT(focus - controls.data(), automatic - controls.data());
    EXPECT_EQ(automatic->flags & V4L2_CTRL_FLAG_UPDATE, 0u);
    EXPECT_TRUE(Inactive(*capture, V4L2_CID_FOCUS_ABSOLUTE));
    EXPECT_FALSE(capture->SetControl(V4L2_CID_FOCUS_ABSOLUTE, 100));

    ASSERT_TRUE(capture->SetControl(V4L2_CID_FOCUS_AUTO, 0));
    EXPECT_FALSE(Inactive(*capture, V4L2_CID_FOCUS_ABSOLUTE));
    ASSERT_TRUE(capture->SetControl(V4L2_CID_FOCUS_ABSOLUTE, 100));
    capture->StopPreview();

    // Plugged in again, the camera starts with its defaults (automatic focus on).
    ASSERT_TRUE(RigDevices::UnplugCamera("cam1"));
    microscope = RigDevices::PlugCamera("cam1", 0, kMicroscopeSerial);
    ASSERT_FALSE(microscope.empty());
    ASSERT_EQ(Start(microscope, {1280, 720, kMjpg, false}), S_OK);
    int32_t value = -1;
    ASSERT_TRUE(capture->GetControl(V4L2_CID_FOCUS_AUTO, value));
    EXPECT_EQ(value, 0);
    ASSERT_TRUE(capture->GetControl(V4L2_CID_FOCUS_ABSOLUTE, value));
    EXPECT_EQ(value, 100);
    // Back to the camera's defaults for the other tests.
    ASSERT_TRUE(capture->SetControl(V4L2_CID_FOCUS_AUTO, 1));
    capture->StopPreview();
}

// Two cameras of one model with the same serial number, told apart by their port: each keeps the
// values set on it when they come back in the other order.
TEST_F(KernelControlsTest, SameSerialCamerasKeepTheirControlsAfterReplugInTheOtherOrder) {
    struct Unplug {
        ~Unplug() { RigDevices::UnplugCamera("cam2"); }
    } unplugSecondAtEnd;
    std::string second = RigDevices::PlugCamera("cam2", 1, kMicroscopeSerial);
    ASSERT_FALSE(second.empty());

    // Both are in the list made at once after the second arrived, each under the identity of its port.
    DeviceList list;
    capture->EnumDevices(list);
    const int32_t first = IndexIn(list, microscope);
    const int32_t other = IndexIn(list, second);
    ASSERT_GE(first, 0);
    ASSERT_GE(other, 0);
    EXPECT_EQ(list[first].devicePath, std::string(kMicroscopeIdentity) + "#platform-dummy_hcd.0-usb-0:1:1.0");
    EXPECT_EQ(list[other].devicePath, std::string(kMicroscopeIdentity) + "#platform-dummy_hcd.1-usb-0:1:1.0");
    EXPECT_NE(list[first].friendlyName, list[other].friendlyName);

    ASSERT_EQ(Start(microscope, {1280, 720, kMjpg, false}), S_OK);
    ASSERT_TRUE(capture->SetControl(V4L2_CID_BRIGHTNESS, 10));
    ASSERT_EQ(Start(second, {1280, 720, kMjpg, false}), S_OK);
    ASSERT_TRUE(capture->SetControl(V4L2_CID_BRIGHTNESS, -10));
    capture->StopPreview();

    ASSERT_TRUE(RigDevices::UnplugCamera("cam1"));
    ASSERT_TRUE(RigDevices::UnplugCamera("cam2"));
    second = RigDevices::PlugCamera("cam2", 1, kMicroscopeSerial);
    microscope = RigDevices::PlugCamera("cam1", 0, kMicroscopeSerial);
    ASSERT_FALSE(second.empty());
    ASSERT_FALSE(microscope.empty());

    int32_t value = 0;
    ASSERT_EQ(Start(microscope, {1280, 720, kMjpg, false}), S_OK);
    ASSERT_TRUE(capture->GetControl(V4L2_CID_BRIGHTNESS, value));
    EXPECT_EQ(value, 10);
    ASSERT_EQ(Start(second, {1280, 720, kMjpg, false}), S_OK);
    ASSERT_TRUE(capture->GetControl(V4L2_CID_BRIGHTNESS, value));
    EXPECT_EQ(value, -10);
    capture->StopPreview();
}

}  // namespace
}  // namespace orvane::test
