#include "capture/device_identity.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "capture/device_monitor.h"
#include "capture/frame_mailbox.h"
#include "capture/resolution_list.h"
#include "simulation/simulated_camera.h"

namespace orvane {
namespace {

DeviceNode Node(std::vector<std::pair<std::string, std::string>> properties, std::string usbDevice = "") {
    DeviceNode node;
    node.node = "/dev/video0";
    node.subsystem = "video4linux";
    node.properties = std::move(properties);
    node.usbDevice = std::move(usbDevice);
    return node;
}

// --- identity from udev properties ---------------------------------------------------------------

TEST(DevicePathOf, UsbIdsComeFirstThenTheSerialOrThePort) {
    const std::string port = "pci-0000:00:14.0-usb-0:2:1.0";
    EXPECT_EQ(CDeviceIdentity::DevicePathOf(Node({{"ID_BUS", "usb"},
                                                  {"ID_VENDOR_ID", "0C45"},
                                                  {"ID_MODEL_ID", "636B"},
                                                  {"ID_SERIAL_SHORT", "SN01"},
                                                  {"ID_PATH", port}})),
              "usb#vid_0c45&pid_636b#SN01");
    EXPECT_EQ(CDeviceIdentity::DevicePathOf(Node(
                  {{"ID_VENDOR_ID", "1e4e"}, {"ID_MODEL_ID", "0102"}, {"ID_PATH", port}}, "/sys/usb1/1-2")),
              "usb#vid_1e4e&pid_0102#" + port);
    // Other nodes: their port path, or no identity at all.
    EXPECT_EQ(CDeviceIdentity::DevicePathOf(Node({{"ID_PATH", "pci-0000:03:00.0"}})), "pci-0000:03:00.0");
    EXPECT_EQ(CDeviceIdentity::DevicePathOf(
                  Node({{"ID_BUS", "usb"}, {"ID_VENDOR_ID", "xyz"}, {"ID_MODEL_ID", "1"}})),
              "");
    EXPECT_EQ(CDeviceIdentity::DevicePathOf(Node({})), "");
}

// --- the camera list -----------------------------------------------------------------------------

SimulatedCameraDefinition Usb(const std::string& card, const std::string& serial, const std::string& port) {
    return SimulatedCameraDefinition::UsbCamera(card, "f0c1", "0a01", serial, port);
}

TEST(ListCaptureDevices, ListsCaptureNodesOnlyWithTheirIdentity) {
    SimulatedCameraDefinition h264 = Usb("Stream Only", "H1", "4");
    h264.formats = {{V4L2_PIX_FMT_H264, "H.264", {{1920, 1080, {30}}}}};
    SimulatedDeviceFile sim({Usb("Scope", "S1", "1"), SimulatedCameraDefinition::WifiCamera(), h264});

    const std::vector<CaptureDevice> devices = CDeviceIdentity(sim).ListCaptureDevices();
    // The metadata nodes and the camera the converter cannot read are left out.
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].node, sim.Camera(0).VideoNode());
    EXPECT_EQ(devices[0].friendlyName, "Scope");
    EXPECT_EQ(devices[0].devicePath, "usb#vid_f0c1&pid_0a01#S1");
    EXPECT_EQ(devices[0].usbDevice, sim.Camera(0).UsbDevice());
    EXPECT_EQ(devices[1].friendlyName, "wifi device");
    EXPECT_TRUE(devices[1].IsWifiDevice());
    EXPECT_EQ(devices[1].devicePath, "");
    EXPECT_EQ(sim.OpenDescriptors(), 0u);
}

TEST(ListCaptureDevices, IdentitiesAreDistinctAndIndependentOfTheNodeNumber) {
    SimulatedDeviceFile sim(
        {Usb("Twin", "", "1"), Usb("Twin", "", "2"), Usb("Cheap", "0001", "3"), Usb("Cheap", "0001", "4")});
    const std::vector<CaptureDevice> devices = CDeviceIdentity(sim).ListCaptureDevices();
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0].devicePath, "usb#vid_f0c1&pid_0a01#pci-0000:00:14.0-usb-0:1:1.0");
    EXPECT_EQ(devices[1].devicePath, "usb#vid_f0c1&pid_0a01#pci-0000:00:14.0-usb-0:2:1.0");
    // One (fake) serial number on two cameras: each is told apart by its port.
    EXPECT_EQ(devices[2].devicePath, "usb#vid_f0c1&pid_0a01#0001#pci-0000:00:14.0-usb-0:3:1.0");
    EXPECT_EQ(devices[3].devicePath, "usb#vid_f0c1&pid_0a01#0001#pci-0000:00:14.0-usb-0:4:1.0");

    SimulatedDeviceFile swapped({Usb("Cheap", "0001", "4"), Usb("Twin", "", "2"), Usb("Cheap", "0001", "3")});
    const std::vector<CaptureDevice> other = CDeviceIdentity(swapped).ListCaptureDevices();
    ASSERT_EQ(other.size(), 3u);
    EXPECT_NE(other[0].node, devices[3].node);
    EXPECT_EQ(other[0].devicePath, devices[3].devicePath);
    EXPECT_EQ(other[1].devicePath, devices[1].devicePath);
    EXPECT_EQ(other[2].devicePath, devices[2].devicePath);

    // Alone, the camera is known by its serial number.
    SimulatedDeviceFile alone({Usb("Cheap", "0001", "4")});
    EXPECT_EQ(CDeviceIdentity(alone).ListCaptureDevices().at(0).devicePath, "usb#vid_f0c1&pid_0a01#0001");
}

TEST(ListCaptureDevices, SkipsPipelineNodesAndNodesThatCannotStream) {
    SimulatedCameraDefinition pipeline = Usb("ISYS Capture 0", "", "");
    pipeline.usb = false;
    pipeline.mediaController = true;
    SimulatedCameraDefinition readOnly = Usb("Old Grabber", "", "");
    readOnly.usb = false;
    readOnly.streaming = false;
    SimulatedDeviceFile sim({pipeline, readOnly, Usb("Scope", "S1", "1")});
    const std::vector<CaptureDevice> devices = CDeviceIdentity(sim).ListCaptureDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].friendlyName, "Scope");
}

// Virtual cameras (a loopback device) and platform devices have no USB properties, and without
// udev's database no camera has any: they are known by driver, bus and card name.
TEST(ListCaptureDevices, CamerasWithoutUdevPropertiesAreKnownByDriverBusAndCard) {
    auto virtualCamera = [](const std::string& busInfo) {
        SimulatedCameraDefinition definition = Usb("Dummy video device", "", "");
        definition.usb = false;
        definition.snapshotButton = false;
        definition.driver = "v4l2 loopback";
        definition.busInfo = busInfo;
        return definition;
    };
    SimulatedDeviceFile sim(
        {virtualCamera("platform:v4l2loopback-000"), virtualCamera("platform:v4l2loopback-001")});
    const std::vector<CaptureDevice> devices = CDeviceIdentity(sim).ListCaptureDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].devicePath, "v4l2#v4l2 loopback#platform:v4l2loopback-000#Dummy video device");
    EXPECT_EQ(devices[1].devicePath, "v4l2#v4l2 loopback#platform:v4l2loopback-001#Dummy video device");
    EXPECT_EQ(devices[0].friendlyName, "Dummy video device");
    EXPECT_EQ(devices[1].friendlyName, "Dummy video device (2)");
}

// uvcvideo's card name is the product string cut to 31 characters, or a generic name for cameras
// without strings: the list shows the product string, else the USB ID database's model name.
TEST(ListCaptureDevices, NamesComeFromTheProductStringThenTheIdDatabaseThenTheCard) {
    SimulatedCameraDefinition named = Usb("Anker PowerConf C200: Anker Pow", "A1", "1");
    named.product = "Anker PowerConf C200";
    SimulatedCameraDefinition known = Usb("UVC Camera (046d:0825): UVC Cam", "", "2");
    known.product.clear();
    known.modelFromDatabase = "Webcam C270";
    SimulatedCameraDefinition unknown = Usb("UVC Camera (1234:5678): UVC Cam", "", "3");
    unknown.product.clear();
    SimulatedDeviceFile sim({named, known, unknown, Usb("Scope", "S1", "4"), Usb("Scope", "S2", "5"),
                             SimulatedCameraDefinition::WifiCamera()});
    const std::vector<CaptureDevice> devices = CDeviceIdentity(sim).ListCaptureDevices();
    ASSERT_EQ(devices.size(), 6u);
    EXPECT_EQ(devices[0].friendlyName, "Anker PowerConf C200");
    EXPECT_EQ(devices[1].friendlyName, "Webcam C270");
    EXPECT_EQ(devices[2].friendlyName, "UVC Camera (1234:5678): UVC Cam");
    EXPECT_EQ(devices[3].friendlyName, "Scope");
    EXPECT_EQ(devices[4].friendlyName, "Scope (2)");
    EXPECT_EQ(devices[5].friendlyName, "wifi device");
    EXPECT_TRUE(devices[5].IsWifiDevice());
}

// --- hot-plug ------------------------------------------------------------------------------------

TEST(DeviceMonitor, ReportsArrivalAndRemovalOfCaptureNodesOnly) {
    SimulatedDeviceFile sim({Usb("Scope", "S1", "1")});
    CDeviceMonitor monitor(&sim);
    EXPECT_EQ(monitor.Descriptor(), -1);
    EXPECT_TRUE(monitor.ReadEvents().empty());
    ASSERT_TRUE(monitor.Open());
    ASSERT_GE(monitor.Descriptor(), 0);
    EXPECT_TRUE(monitor.ReadEvents().empty());

    SimulatedCamera& added = sim.AddCamera(Usb("Webcam", "W1", "2"));
    std::vector<DeviceEvent> events = monitor.ReadEvents();
    ASSERT_EQ(events.size(), 1u);  // not its metadata node, not its button
    EXPECT_EQ(events[0].action, "add");
    EXPECT_EQ(events[0].subsystem, "video4linux");
    EXPECT_EQ(events[0].node, added.VideoNode());

    sim.Camera(0).Unplug();
    events = monitor.ReadEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].action, "remove");
    EXPECT_EQ(events[0].node, sim.Camera(0).VideoNode());

    sim.Camera(0).Plug();
    events = monitor.ReadEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].action, "add");

    monitor.Close();
    EXPECT_EQ(monitor.Descriptor(), -1);
    sim.Camera(0).Unplug();
    EXPECT_TRUE(monitor.ReadEvents().empty());
}

// A camera that neither opens nor has udev's capability property when it arrives (udev questions
// the node as well, and a camera still setting up answers nobody): the arrival is still reported,
// since only the list made on its account can tell whether it is a camera.
class UdevWithoutCapabilities final : public IDeviceFile {
public:
    explicit UdevWithoutCapabilities(SimulatedDeviceFile& sim) : sim(sim) {}
    int Open(const std::string& path, int flags) override { return sim.Open(path, flags); }
    int Close(int fd) override { return sim.Close(fd); }
    int Ioctl(int fd, unsigned long request, void* arg) override { return sim.Ioctl(fd, request, arg); }
    void* Mmap(size_t length, int prot, int flags, int fd, off_t offset) override {
        return sim.Mmap(length, prot, flags, fd, offset);
    }
    int Munmap(void* address, size_t length) override { return sim.Munmap(address, length); }
    int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) override { return sim.Poll(fds, count, timeoutMs); }
    ssize_t Read(int fd, void* buffer, size_t size) override { return sim.Read(fd, buffer, size); }
    std::vector<DeviceNode> ListNodes(const std::string& subsystem) override {
        std::vector<DeviceNode> nodes = sim.ListNodes(subsystem);
        for (DeviceNode& node : nodes) {
            std::erase_if(node.properties, [](const auto& property) { return property.first == "ID_V4L_CAPABILITIES"; });
        }
        return nodes;
    }
    int OpenMonitor() override { return sim.OpenMonitor(); }
    bool ReadEvent(int monitorFd, DeviceEvent& event) override { return sim.ReadEvent(monitorFd, event); }
    void CloseMonitor(int monitorFd) override { sim.CloseMonitor(monitorFd); }

private:
    SimulatedDeviceFile& sim;
};

TEST(DeviceMonitor, ACameraThatCannotBeQuestionedOnArrivalIsStillReported) {
    SimulatedDeviceFile sim({Usb("Scope", "S1", "1")});
    UdevWithoutCapabilities device(sim);
    CDeviceMonitor monitor(&device);
    ASSERT_TRUE(monitor.Open());

    SimulatedCamera& camera = sim.Camera(0);
    camera.Unplug();
    ASSERT_EQ(monitor.ReadEvents().size(), 1u);
    camera.SetOpenError(EIO);
    camera.Plug();
    std::vector<DeviceEvent> events = monitor.ReadEvents();
    ASSERT_EQ(events.size(), 1u);  // still not its metadata node, which answers
    EXPECT_EQ(events[0].action, "add");
    EXPECT_EQ(events[0].node, camera.VideoNode());

    // Where udev knows it, the list has it while it cannot be opened, so that the viewer, listing on
    // this arrival, does not lose it; once it answers, the list has it in any case.
    EXPECT_EQ(CDeviceIdentity(sim).ListCaptureDevices().size(), 1u);
    camera.SetOpenError(0);
    EXPECT_EQ(CDeviceIdentity(device).ListCaptureDevices().size(), 1u);
    camera.Unplug();
    events = monitor.ReadEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].action, "remove");
}

// --- live-pane mailbox ---------------------------------------------------------------------------

std::vector<uint8_t> Picture(int32_t width, int32_t height, uint8_t value) {
    return std::vector<uint8_t>(static_cast<size_t>(width) * height * 3, value);
}

TEST(FrameMailbox, NewestFrameWinsAndANotificationComesPerEmptySlot) {
    CFrameMailbox mailbox;
    int notified = 0;
    mailbox.SetNotify([&] { ++notified; });
    FrameBuffer frame;
    EXPECT_FALSE(mailbox.Take(frame));

    mailbox.Publish(Picture(4, 2, 1).data(), 4, 2);
    mailbox.Publish(Picture(4, 2, 2).data(), 4, 2);
    EXPECT_EQ(notified, 1);
    ASSERT_TRUE(mailbox.Take(frame));
    EXPECT_EQ(frame.Width(), 4);
    EXPECT_EQ(frame.Height(), 2);
    EXPECT_EQ(frame.Bits()[0], 2);
    EXPECT_FALSE(mailbox.Take(frame));
    EXPECT_EQ(frame.Bits()[23], 2);  // a failed take leaves the frame as it was

    mailbox.Publish(Picture(2, 2, 3).data(), 2, 2);
    EXPECT_EQ(notified, 2);
    ASSERT_TRUE(mailbox.Take(frame));
    EXPECT_EQ(frame.Width(), 2);
    EXPECT_EQ(frame.Bits()[11], 3);

    mailbox.Publish(Picture(2, 2, 4).data(), 2, 2);
    mailbox.Clear();
    EXPECT_FALSE(mailbox.Take(frame));
    mailbox.Publish(nullptr, 2, 2);
    mailbox.Publish(Picture(2, 2, 5).data(), 0, 2);
    EXPECT_FALSE(mailbox.Take(frame));
    EXPECT_EQ(notified, 3);
}

TEST(FrameMailbox, FramesHandedOverWithoutACopyAreNeverWrittenWhileTheWindowHoldsThem) {
    CFrameMailbox mailbox;
    int notified = 0;
    mailbox.SetNotify([&] { ++notified; });
    auto all = [](const FrameBuffer& frame, uint8_t value) {
        return !frame.Empty() && std::all_of(frame.Bits(), frame.Bits() + frame.Length(),
                                             [value](uint8_t b) { return b == value; });
    };
    // The capture side fills whatever buffer it has, making one when it has none of the size.
    FrameBuffer capture;
    auto publish = [&](uint8_t value) {
        if (capture.Width() != 4 || capture.Height() != 2) capture = FrameBuffer::Create(4, 2);
        std::fill_n(capture.Bits(), capture.Length(), value);
        mailbox.Publish(capture);
    };
    FrameBuffer window;
    FrameBuffer empty;
    mailbox.Publish(empty);
    EXPECT_FALSE(mailbox.Take(window));
    EXPECT_EQ(notified, 0);

    publish(1);
    ASSERT_TRUE(mailbox.Take(window));
    for (uint8_t value = 2; value < 6; ++value) {
        publish(value);
        EXPECT_TRUE(all(window, value - 1)) << int{value};  // what the window shows stays as it was
        ASSERT_TRUE(mailbox.Take(window));
        EXPECT_TRUE(all(window, value));
    }
    // Frames the window did not take are dropped, and their buffers written again.
    publish(7);
    publish(8);
    publish(9);
    EXPECT_TRUE(all(window, 5));
    ASSERT_TRUE(mailbox.Take(window));
    EXPECT_TRUE(all(window, 9));
    // A copied frame of another size between them.
    mailbox.Publish(Picture(2, 2, 10).data(), 2, 2);
    publish(11);
    EXPECT_TRUE(all(window, 9));
    ASSERT_TRUE(mailbox.Take(window));
    EXPECT_EQ(window.Width(), 4);
    EXPECT_TRUE(all(window, 11));
}

}  // namespace
}  // namespace orvane
