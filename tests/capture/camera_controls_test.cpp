#include "capture/camera_controls.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <string>
#include <vector>

#include "config/registry.h"
#include "config/registry_hive.h"
#include "simulation/simulated_camera.h"
#include "support/sandbox.h"

namespace orvane {
namespace {

constexpr const char* kIdentity = "usb#vid_f0c1&pid_0a01#S1";

// One simulated camera opened as the capture object opens it, with a hive of the test's own.
class CameraControlsTest : public ::testing::Test {
protected:
    CameraControlsTest()
        : hive(box / "settings.conf", ""),
          sim({SimulatedCameraDefinition::UsbCamera("Scope", "f0c1", "0a01", "S1", "1")}),
          controls(sim, &hive) {
        fd = sim.Open(sim.Camera(0).VideoNode(), O_RDWR | O_NONBLOCK);
    }
    ~CameraControlsTest() override {
        if (fd >= 0) sim.Close(fd);
    }

    const CameraControl* Find(const std::vector<CameraControl>& list, uint32_t id) {
        for (const CameraControl& control : list) {
            if (control.id == id) return &control;
        }
        return nullptr;
    }

    bool Remembered(const std::string& identity, uint32_t id, uint32_t& value) {
        CRegistry key(&hive);
        return key.Open(CCameraControls::KeyFor(identity)) &&
               key.ReadDword(CCameraControls::ValueNameFor(id), value);
    }

    int32_t Value(uint32_t id) {
        int32_t value = -999;
        EXPECT_TRUE(controls.Read(fd, id, value));
        return value;
    }

    test::Sandbox box;
    CRegistryHive hive;
    SimulatedDeviceFile sim;
    CCameraControls controls;
    int fd = -1;
};

TEST_F(CameraControlsTest, ListsEveryControlWithRangeMenuAndValue) {
    ASSERT_GE(fd, 0);
    const std::vector<CameraControl> list = controls.List(fd);
    ASSERT_EQ(list.size(), 12u);
    for (size_t i = 1; i < list.size(); ++i) EXPECT_LT(list[i - 1].id, list[i].id);

    const CameraControl* brightness = Find(list, V4L2_CID_BRIGHTNESS);
    ASSERT_NE(brightness, nullptr);
    EXPECT_EQ(brightness->name, "Brightness");
    EXPECT_EQ(brightness->type, uint32_t{V4L2_CTRL_TYPE_INTEGER});
    EXPECT_EQ(brightness->minimum, -64);
    EXPECT_EQ(brightness->maximum, 64);
    EXPECT_TRUE(brightness->hasValue);
    EXPECT_EQ(brightness->value, 0);

    const CameraControl* exposure = Find(list, V4L2_CID_EXPOSURE_AUTO);
    ASSERT_NE(exposure, nullptr);
    ASSERT_EQ(exposure->items.size(), 2u);  // the menu has gaps at 0 and 2
    EXPECT_EQ(exposure->items[0].index, 1u);
    EXPECT_EQ(exposure->items[0].name, "Manual Mode");
    EXPECT_EQ(exposure->items[1].index, 3u);
    EXPECT_EQ(exposure->value, 3);

    const CameraControl* button = Find(list, V4L2_CID_PAN_RESET);
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->hasValue);
    EXPECT_TRUE(controls.List(-1).empty());
}

TEST_F(CameraControlsTest, WrittenValuesAreRememberedAsTheCameraTookThem) {
    ASSERT_TRUE(controls.Write(fd, kIdentity, V4L2_CID_BRIGHTNESS, 17));
    EXPECT_EQ(Value(V4L2_CID_BRIGHTNESS), 17);
    uint32_t stored = 0;
    ASSERT_TRUE(Remembered(kIdentity, V4L2_CID_BRIGHTNESS, stored));
    EXPECT_EQ(static_cast<int32_t>(stored), 17);
    EXPECT_EQ(CCameraControls::ValueNameFor(V4L2_CID_BRIGHTNESS), "ctrl_980900");

    // Out of range: the camera clamps, and its value is what is kept.
    ASSERT_TRUE(controls.Write(fd, kIdentity, V4L2_CID_BRIGHTNESS, -500));
    ASSERT_TRUE(Remembered(kIdentity, V4L2_CID_BRIGHTNESS, stored));
    EXPECT_EQ(static_cast<int32_t>(stored), -64);

    // A refused value is neither set nor kept; a button is pressed but holds nothing to keep.
    EXPECT_FALSE(controls.Write(fd, kIdentity, V4L2_CID_EXPOSURE_AUTO, 2));
    EXPECT_FALSE(Remembered(kIdentity, V4L2_CID_EXPOSURE_AUTO, stored));
    EXPECT_TRUE(controls.Write(fd, kIdentity, V4L2_CID_PAN_RESET, 1));
    EXPECT_FALSE(Remembered(kIdentity, V4L2_CID_PAN_RESET, stored));

    // Without an identity nothing is kept; a backslash of an identity does not split the key.
    ASSERT_TRUE(controls.Write(fd, "", V4L2_CID_CONTRAST, 10));
    EXPECT_FALSE(Remembered("", V4L2_CID_CONTRAST, stored));
    ASSERT_TRUE(controls.Write(fd, "pci\\slot", V4L2_CID_SATURATION, 100));
    EXPECT_TRUE(hive.KeyExists("Software\\zentrova\\devices\\pci/slot"));
}

TEST_F(CameraControlsTest, RememberedValuesAreSetAgainOnlyForTheirCamera) {
    ASSERT_TRUE(controls.Write(fd, kIdentity, V4L2_CID_AUTO_WHITE_BALANCE, 0));
    ASSERT_TRUE(controls.Write(fd, kIdentity, V4L2_CID_WHITE_BALANCE_TEMPERATURE, 5000));
    ASSERT_TRUE(controls.Write(fd, kIdentity, V4L2_CID_EXPOSURE_AUTO, 1));
    ASSERT_TRUE(controls.Write(fd, kIdentity, V4L2_CID_EXPOSURE_ABSOLUTE, 500));
    // The camera goes back to its defaults when it is plugged in again.
    sim.Close(fd);
    sim.Camera(0).Unplug();
    sim.Camera(0).Plug();
    fd = sim.Open(sim.Camera(0).VideoNode(), O_RDWR | O_NONBLOCK);
    ASSERT_EQ(Value(V4L2_CID_EXPOSURE_ABSOLUTE), 250);

    EXPECT_EQ(controls.Apply(fd, "usb#vid_f0c1&pid_0a01#other"), 0);
    EXPECT_EQ(Value(V4L2_CID_EXPOSURE_ABSOLUTE), 250);
    EXPECT_EQ(controls.Apply(fd, ""), 0);

    EXPECT_EQ(controls.Apply(fd, kIdentity), 4);
    EXPECT_EQ(Value(V4L2_CID_AUTO_WHITE_BALANCE), 0);
    EXPECT_EQ(Value(V4L2_CID_WHITE_BALANCE_TEMPERATURE), 5000);
    EXPECT_EQ(Value(V4L2_CID_EXPOSURE_AUTO), 1);
    EXPECT_EQ(Value(V4L2_CID_EXPOSURE_ABSOLUTE), 500);
    EXPECT_EQ(Value(V4L2_CID_BRIGHTNESS), 0);
}

// uvcvideo lists a manual focus before the automatic focus that governs it, refuses the manual value
// while the automatic mode is on, and raises no V4L2_CTRL_FLAG_UPDATE on the automatic mode.
TEST_F(CameraControlsTest, AutomaticModesAreSetAgainBeforeTheirManualValuesAndMotionsNever) {
    const std::vector<CameraControl> list = controls.List(fd);
    const CameraControl* focus = Find(list, V4L2_CID_FOCUS_ABSOLUTE);
    const CameraControl* automatic = Find(list, V4L2_CID_FOCUS_AUTO);
    ASSERT_NE(focus, nullptr);
    ASSERT_NE(automatic, nullptr);
    EXPECT_LT(focus - list.data(), automatic - list.data());
    EXPECT_NE(focus->flags & V4L2_CTRL_FLAG_INACTIVE, 0u);
    EXPECT_EQ(automatic->flags & V4L2_CTRL_FLAG_UPDATE, 0u);
    EXPECT_FALSE(controls.Write(fd, kIdentity, V4L2_CID_FOCUS_ABSOLUTE, 100));

    ASSERT_TRUE(controls.Write(fd, kIdentity, V4L2_CID_FOCUS_AUTO, 0));
    EXPECT_EQ(Find(controls.List(fd), V4L2_CID_FOCUS_ABSOLUTE)->flags & V4L2_CTRL_FLAG_INACTIVE, 0u);
    ASSERT_TRUE(controls.Write(fd, kIdentity, V4L2_CID_FOCUS_ABSOLUTE, 100));
    // A speed sets the camera moving; it is never kept, nor set again when a value is stored.
    ASSERT_TRUE(controls.Write(fd, kIdentity, V4L2_CID_ZOOM_CONTINUOUS, 1));
    uint32_t stored = 0;
    EXPECT_FALSE(Remembered(kIdentity, V4L2_CID_ZOOM_CONTINUOUS, stored));
    CRegistry key(&hive);
    ASSERT_TRUE(key.Open(CCameraControls::KeyFor(kIdentity)));
    key.WriteDword(CCameraControls::ValueNameFor(V4L2_CID_ZOOM_CONTINUOUS), 1);

    sim.Close(fd);
    sim.Camera(0).Unplug();
    sim.Camera(0).Plug();
    fd = sim.Open(sim.Camera(0).VideoNode(), O_RDWR | O_NONBLOCK);
    ASSERT_EQ(Value(V4L2_CID_FOCUS_AUTO), 1);
    EXPECT_EQ(controls.Apply(fd, kIdentity), 2);
    EXPECT_EQ(Value(V4L2_CID_FOCUS_AUTO), 0);
    EXPECT_EQ(Value(V4L2_CID_FOCUS_ABSOLUTE), 100);
    EXPECT_EQ(Value(V4L2_CID_ZOOM_CONTINUOUS), 0);
}

}  // namespace
}  // namespace orvane
