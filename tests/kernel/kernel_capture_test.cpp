// The capture object against real drivers in the kernel rig's guest: the emulated USB microscope
// (UVC gadget seen by uvcvideo) and vivid. Runs only there (tests/kernel/guest_backend.sh).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/uinput.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/device_monitor.h"
#include "kernel_fixture.h"

namespace orvane::test {
namespace {

constexpr uint32_t kMjpg = V4L2_PIX_FMT_MJPEG;
constexpr uint32_t kYuyv = V4L2_PIX_FMT_YUYV;
constexpr uint32_t kGrey = V4L2_PIX_FMT_GREY;
constexpr uint32_t kY16 = V4L2_PIX_FMT_Y16;

struct Rgb {
    int red, green, blue;
};
// The test pattern's colours (the feeder's, which are the simulated camera's).
constexpr Rgb kTop{200, 40, 40};
constexpr Rgb kBottom{40, 40, 200};
constexpr Rgb kMarker{240, 240, 240};

// Pixel (x, y) of the picture as seen (y = 0 at the top) in a bottom-up BGR24 frame.
::testing::AssertionResult Near(const FrameBuffer& frame, int x, int y, Rgb want) {
    const uint8_t* p = frame.Bits() + (static_cast<size_t>(frame.Height() - 1 - y) * frame.Width() + x) * 3;
    if (std::abs(p[2] - want.red) <= 28 && std::abs(p[1] - want.green) <= 28 &&
        std::abs(p[0] - want.blue) <= 28) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "at " << x << "," << y << " got " << int{p[2]} << "," << int{p[1]} << "," << int{p[0]};
}

// Every event the monitor reports until `wanted` has come or the wait runs out.
bool SeeEvent(CDeviceMonitor& monitor, const std::string& action, const std::string& node) {
    std::string seen;
    const bool found = WaitLong([&] {
        for (const DeviceEvent& event : monitor.ReadEvents()) {
            if (event.action == action && event.node == node) return true;
            seen += " " + event.action + " " + event.node + ";";
        }
        return false;
    });
    if (!found) ADD_FAILURE() << "no " << action << " event for " << node << "; seen:" << seen;
    return found;
}

bool Listed(CCaptureVideo& capture, const std::string& identity) {
    DeviceList list;
    capture.EnumDevices(list);
    return std::any_of(list.begin(), list.end(),
                       [&](const auto& entry) { return entry.second.devicePath == identity; });
}

using KernelCaptureTest = KernelFixture;

// --- device list and identity --------------------------------------------------------------------

TEST_F(KernelCaptureTest, MicroscopeAndVividAreListedWithTheirIdentities) {
    DeviceList list;
    const std::vector<std::string> vivid = RigDevices::VividNodes();
    // Neither the gadget's own output node nor uvcvideo's metadata node is a camera.
    ASSERT_EQ(capture->EnumDevices(list), static_cast<int32_t>(1 + vivid.size()));

    const int32_t index = IndexOf(microscope);
    ASSERT_GE(index, 0);
    EXPECT_EQ(list[index].devicePath, kMicroscopeIdentity);
    // uvcvideo cuts the card name ("Orvane Test Microscope: UVC Camera") to 31 characters; the list
    // shows the product string.
    EXPECT_EQ(list[index].friendlyName, "Orvane Test Microscope");

    // vivid's instances all hang below one platform device and share its port path (ID_PATH); they
    // are told apart by driver, bus and card name, and their names by a number.
    ASSERT_EQ(vivid.size(), 2u);
    const int32_t first = IndexOf(vivid[0]);
    const int32_t second = IndexOf(vivid[1]);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_EQ(list[first].devicePath, kVividIdentity);
    EXPECT_EQ(list[second].devicePath, "v4l2#vivid#platform:vivid-001#vivid");
    EXPECT_EQ(list[first].friendlyName, "vivid");
    EXPECT_EQ(list[second].friendlyName, "vivid (2)");
}

// Containers and sandboxes have no udev database: the cameras are listed all the same, the USB
// camera with its identity from sysfs.
TEST_F(KernelCaptureTest, CamerasAreListedWithoutTheUdevDatabase) {
    ASSERT_TRUE(RigDevices::Run("mount -t tmpfs -o mode=755 tmpfs /run/udev/data"));
    struct Restore {
        ~Restore() { RigDevices::Run("umount /run/udev/data"); }
    } restore;
    const std::vector<CaptureDevice> devices = CDeviceIdentity(RealDeviceFile()).ListCaptureDevices();
    std::vector<std::string> identities;
    for (const CaptureDevice& device : devices) identities.push_back(device.devicePath);
    std::sort(identities.begin(), identities.end());
    EXPECT_EQ(identities, (std::vector<std::string>{kMicroscopeIdentity, kVividIdentity,
                                                    "v4l2#vivid#platform:vivid-001#vivid"}));
    for (const CaptureDevice& device : devices) {
        if (device.node == microscope) {
            EXPECT_EQ(device.friendlyName, "Orvane Test Microscope");
        }
    }
}

// --- formats -------------------------------------------------------------------------------------

TEST_F(KernelCaptureTest, MicroscopeFormatsAreListedWithTheirFrameRate) {
    ASSERT_EQ(Start(microscope, {640, 480, kYuyv, false}), S_OK);
    EXPECT_EQ(lastRequest, (CaptureResolution{640, 480, kYuyv, false}));
    EXPECT_EQ(capture->GetFramesPerSecond(), 30);
    EXPECT_EQ(viewer.resolutionList[ResolutionKey(1080, kMjpg)],
              (CaptureResolution{1920, 1080, kMjpg, false}));
    EXPECT_EQ(viewer.resolutionList[ResolutionKey(720, kMjpg)], (CaptureResolution{1280, 720, kMjpg, false}));
    EXPECT_EQ(viewer.resolutionList[ResolutionKey(480, kYuyv)], (CaptureResolution{640, 480, kYuyv, false}));
    EXPECT_FALSE(viewer.resolutionList.contains(ResolutionKey(480, kMjpg)));
    capture->StopPreview();
}

TEST_F(KernelCaptureTest, VividFormatsAreListed) {
    const std::vector<std::string> vivid = RigDevices::VividNodes();
    ASSERT_FALSE(vivid.empty());
    ASSERT_EQ(Start(vivid[0], {640, 480, kYuyv, false}), S_OK);
    EXPECT_EQ(lastRequest, (CaptureResolution{640, 480, kYuyv, false}));
    EXPECT_GT(capture->GetFramesPerSecond(), 0);
    // vivid's webcam input offers YUYV at the usual webcam sizes.
    for (int32_t height : {480, 720, 1080}) {
        EXPECT_TRUE(viewer.resolutionList.contains(ResolutionKey(height, kYuyv))) << height;
    }
    capture->StopPreview();

    // Its grey formats are offered too, and asked for they are what streams.
    for (uint32_t grey : {kGrey, kY16}) {
        ASSERT_EQ(Start(vivid[0], {640, 480, grey, false}), S_OK);
        EXPECT_EQ(lastRequest, (CaptureResolution{640, 480, grey, false}));
        EXPECT_EQ(capture->StreamingPixelFormat(), grey);
        capture->StopPreview();
    }
    EXPECT_TRUE(alerts.Alerts().empty());
}

// --- streaming -----------------------------------------------------------------------------------

TEST_F(KernelCaptureTest, MicroscopeStreamsUprightFramesAtTheNegotiatedSize) {
    for (const CaptureResolution& request :
         {CaptureResolution{1920, 1080, kMjpg, false}, CaptureResolution{1280, 720, kMjpg, false},
          CaptureResolution{640, 480, kYuyv, false}}) {
        SCOPED_TRACE(std::to_string(request.width) + "x" + std::to_string(request.height));
        ASSERT_EQ(Start(microscope, request), S_OK);
        FrameBuffer frame;
        ASSERT_TRUE(NextLiveFrame(frame));
        ASSERT_EQ(frame.Width(), request.width);
        ASSERT_EQ(frame.Height(), request.height);
        const int w = request.width, h = request.height;
        EXPECT_TRUE(Near(frame, h / 16, h / 16, kMarker));
        EXPECT_TRUE(Near(frame, w / 5, h / 4, kTop));
        EXPECT_TRUE(Near(frame, w / 5, h * 3 / 4, kBottom));
        EXPECT_TRUE(FramesGoOn(5));
        EXPECT_EQ(capture->GetCaptureStats().dropped, 0);
    }
    capture->StopPreview();
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(KernelCaptureTest, VividStreamsAtTheNegotiatedSize) {
    const std::vector<std::string> vivid = RigDevices::VividNodes();
    ASSERT_FALSE(vivid.empty());
    for (const CaptureResolution& request :
         {CaptureResolution{640, 480, kYuyv, false}, CaptureResolution{1280, 720, kYuyv, false}}) {
        ASSERT_EQ(Start(vivid[0], request), S_OK);
        FrameBuffer frame;
        ASSERT_TRUE(NextLiveFrame(frame));
        EXPECT_EQ(frame.Width(), request.width);
        EXPECT_EQ(frame.Height(), request.height);
        EXPECT_TRUE(FramesGoOn(3));
    }
    // Grey and 16-bit grey (little-endian): vivid's colour bars as grey levels, dark to the right.
    for (uint32_t grey : {kGrey, kY16}) {
        SCOPED_TRACE(grey == kGrey ? "GREY" : "Y16");
        ASSERT_EQ(Start(vivid[0], {640, 480, grey, false}), S_OK);
        ASSERT_EQ(capture->StreamingPixelFormat(), grey);
        FrameBuffer frame;
        ASSERT_TRUE(NextLiveFrame(frame));
        ASSERT_EQ(frame.Width(), 640);
        ASSERT_EQ(frame.Height(), 480);
        std::vector<int> levels;
        for (int x = 20; x < 640; x += 80) {
            const uint8_t* p = frame.Bits() + (static_cast<size_t>(240) * 640 + x) * 3;
            EXPECT_EQ(p[0], p[1]) << "x " << x;
            EXPECT_EQ(p[1], p[2]) << "x " << x;
            levels.push_back(p[1]);
        }
        // Bars of falling brightness, from near white to near black: an endianness mistake would not
        // keep them in order.
        EXPECT_GT(levels.front(), 150);
        EXPECT_LT(levels.back(), 60);
        EXPECT_TRUE(std::is_sorted(levels.rbegin(), levels.rend())) << ::testing::PrintToString(levels);
        EXPECT_TRUE(FramesGoOn(3));
        EXPECT_EQ(capture->GetCaptureStats().dropped, 0);
    }
    capture->StopPreview();
    EXPECT_TRUE(alerts.Alerts().empty());
}

// --- the package ---------------------------------------------------------------------------------

// A keyboard made through uinput, with its event node (the guest loads evdev only when asked): an
// input event node that is no camera's, gone with the object.
class VirtualKeyboard {
public:
    VirtualKeyboard() {
        if (!RigDevices::Run("modprobe evdev && modprobe uinput")) return;
        fd = open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return;
        uinput_setup setup{};
        setup.id.bustype = BUS_VIRTUAL;
        std::snprintf(setup.name, sizeof setup.name, "Orvane test keyboard");
        if (ioctl(fd, UI_SET_EVBIT, EV_KEY) != 0 || ioctl(fd, UI_SET_KEYBIT, KEY_A) != 0 ||
            ioctl(fd, UI_DEV_SETUP, &setup) != 0 || ioctl(fd, UI_DEV_CREATE) != 0) {
            close(fd);
            fd = -1;
        }
        RigDevices::Run("udevadm settle --timeout=60");
    }
    ~VirtualKeyboard() {
        if (fd < 0) return;
        ioctl(fd, UI_DEV_DESTROY);
        close(fd);
        RigDevices::Run("udevadm settle --timeout=60");
    }
    VirtualKeyboard(const VirtualKeyboard&) = delete;
    VirtualKeyboard& operator=(const VirtualKeyboard&) = delete;
    bool Made() const { return fd >= 0; }

private:
    int fd = -1;
};

// The package's post-install trigger, run as dpkg runs it with udevadm's trigger made a dry run that
// lists what it would touch: uvcvideo's snapshot-button nodes, never a keyboard.
TEST_F(KernelCaptureTest, PackageTriggerTouchesOnlyUvcvideoButtons) {
    const char* rig = std::getenv("ORVANE_RIG_DIR");
    ASSERT_NE(rig, nullptr);
    VirtualKeyboard keyboard;
    ASSERT_TRUE(keyboard.Made());
    std::string every;
    ASSERT_TRUE(RigDevices::Run(
        "udevadm trigger --dry-run --verbose --subsystem-match=input --sysname-match='event*'", &every));
    ASSERT_NE(every, "") << "a trigger of every input node would touch the keyboard";

    const std::string postinst = std::string(rig) + "/../../../packaging/debian/postinst";
    const std::string bin = box / "bin";
    const std::string listed = box / "triggered";
    ASSERT_TRUE(RigDevices::Run("mkdir -p " + bin + " && printf '%s\\n' '#!/bin/sh' " +
                                "'[ \"$1\" = trigger ] || exit 0' 'shift' " +
                                "'exec /usr/bin/udevadm trigger --dry-run --verbose \"$@\" >" + listed +
                                "' >" + bin + "/udevadm && chmod +x " + bin + "/udevadm"));
    ASSERT_TRUE(RigDevices::Run("PATH=" + bin + ":$PATH sh " + postinst + " configure"));
    std::string triggered;
    ASSERT_TRUE(RigDevices::Run("cat " + listed, &triggered));
    std::string others;
    ASSERT_TRUE(
        RigDevices::Run("for d in " + triggered +
                            "; do udevadm info -q property -p \"$d\" | grep -qx ID_USB_DRIVER=uvcvideo || "
                            "echo \"$d\"; done",
                        &others));
    EXPECT_EQ(others, "") << "triggered: " << triggered;
    // This kernel's uvcvideo gives every camera with a status endpoint a button device, the emulated
    // microscope's included (below its video control interface): that one is triggered.
    EXPECT_NE(triggered.find(":1.0/input/"), std::string::npos) << "triggered: " << triggered;
}

// --- unplug and replug ---------------------------------------------------------------------------

TEST_F(KernelCaptureTest, UnpluggedMicroscopeEndsItsStreamCleanlyAndComesBack) {
    CDeviceMonitor monitor(&RealDeviceFile());
    ASSERT_TRUE(monitor.Open());
    ASSERT_EQ(Start(microscope, {1280, 720, kMjpg, false}), S_OK);
    ASSERT_TRUE(FramesGoOn(3));

    ASSERT_TRUE(RigDevices::UnplugCamera("cam1"));
    ASSERT_TRUE(WaitLong([&] { return !capture->IsStreaming(); }));
    EXPECT_TRUE(capture->GetCaptureStats().ended);
    EXPECT_TRUE(SeeEvent(monitor, "remove", microscope));
    capture->StopPreview();
    EXPECT_FALSE(Listed(*capture, kMicroscopeIdentity));

    microscope = RigDevices::PlugCamera("cam1", 0, kMicroscopeSerial);
    ASSERT_FALSE(microscope.empty());
    EXPECT_TRUE(SeeEvent(monitor, "add", microscope));
    EXPECT_TRUE(Listed(*capture, kMicroscopeIdentity));
    ASSERT_EQ(Start(microscope, {1280, 720, kMjpg, false}), S_OK);
    EXPECT_TRUE(FramesGoOn(3));
    capture->StopPreview();
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(KernelCaptureTest, UnboundVividEndsItsStreamCleanlyAndComesBack) {
    CDeviceMonitor monitor(&RealDeviceFile());
    ASSERT_TRUE(monitor.Open());
    const std::string node = RigDevices::VividNodes().front();
    ASSERT_EQ(Start(node, {640, 480, kYuyv, false}), S_OK);
    ASSERT_TRUE(FramesGoOn(2));

    ASSERT_TRUE(RigDevices::UnbindVivid());
    ASSERT_TRUE(WaitLong([&] { return !capture->IsStreaming(); }));
    EXPECT_TRUE(capture->GetCaptureStats().ended);
    EXPECT_TRUE(SeeEvent(monitor, "remove", node));
    capture->StopPreview();
    EXPECT_FALSE(Listed(*capture, kVividIdentity));

    ASSERT_TRUE(RigDevices::BindVivid());
    const std::string back = RigDevices::VividNodes().front();
    EXPECT_TRUE(SeeEvent(monitor, "add", back));
    EXPECT_TRUE(Listed(*capture, kVividIdentity));
    ASSERT_EQ(Start(back, {640, 480, kYuyv, false}), S_OK);
    EXPECT_TRUE(FramesGoOn(2));
    capture->StopPreview();
}

}  // namespace
}  // namespace orvane::test
