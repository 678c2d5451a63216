#include "capture/device_identity.h"

#include <fcntl.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "base/text.h"
#include "capture/frame_converter.h"
#include "capture/resolution_list.h"

namespace orvane {

namespace {

bool IsHexId(const std::string& text) {
    if (text.size() != 4) return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

std::string CapText(const uint8_t* text, size_t size) {
    const char* chars = reinterpret_cast<const char*>(text);
    return std::string(chars, strnlen(chars, size));
}

}  // namespace

bool CaptureDevice::IsWifiDevice() const { return card == kWifiDeviceName; }

std::string CDeviceIdentity::DriverIdentity(const NodeFacts& facts) {
    if (facts.driver.empty() && facts.busInfo.empty()) return {};
    return "v4l2#" + facts.driver + "#" + facts.busInfo + "#" + facts.card;
}

std::string CDeviceIdentity::DevicePathOf(const DeviceNode& node) {
    const std::string vendor = ToLowerAscii(node.Property("ID_VENDOR_ID"));
    const std::string model = ToLowerAscii(node.Property("ID_MODEL_ID"));
    const std::string serial = node.Property("ID_SERIAL_SHORT");
    const std::string port = node.Property("ID_PATH");
    const bool usb = node.Property("ID_BUS") == "usb" || !node.usbDevice.empty();

    if (usb && IsHexId(vendor) && IsHexId(model)) {
        std::string path = "usb#vid_" + vendor + "&pid_" + model;
        if (!serial.empty()) {
            path += "#" + serial;
        } else if (!port.empty()) {
            path += "#" + port;
        }
        return path;
    }
    return port;
}

bool CDeviceIdentity::Query(const std::string& node, NodeFacts& facts) {
    const int fd = device.Open(node, O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        facts.openError = errno;
        return false;
    }
    v4l2_capability caps{};
    const bool ok = device.Ioctl(fd, VIDIOC_QUERYCAP, &caps) == 0;
    if (ok) {
        facts.driver = CapText(caps.driver, sizeof(caps.driver));
        facts.card = CapText(caps.card, sizeof(caps.card));
        facts.busInfo = CapText(caps.bus_info, sizeof(caps.bus_info));
        const uint32_t nodeCaps =
            (caps.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? caps.device_caps : caps.capabilities;
        // A node of a media-controller pipeline (V4L2_CAP_IO_MC, such as the capture nodes of an
        // image processing unit) gives no picture unless the pipeline is set up first, and a node
        // without streaming I/O cannot be read the way every camera is.
        facts.capture = (nodeCaps & V4L2_CAP_VIDEO_CAPTURE) != 0 && (nodeCaps & V4L2_CAP_STREAMING) != 0 &&
                        (nodeCaps & V4L2_CAP_IO_MC) == 0;
        facts.convertible = false;
        for (uint32_t index = 0; facts.capture && !facts.convertible; ++index) {
            v4l2_fmtdesc format{};
            format.index = index;
            format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            if (device.Ioctl(fd, VIDIOC_ENUM_FMT, &format) != 0) break;
            facts.convertible = CFrameConverter::CanConvert(format.pixelformat);
        }
    }
    device.Close(fd);
    return ok;
}

std::vector<CaptureDevice> CDeviceIdentity::ListCaptureDevices() {
    struct Found {
        CaptureDevice entry;
        DeviceNode node;
        NodeFacts facts;
    };
    std::vector<Found> found;
    for (const DeviceNode& node : device.ListNodes("video4linux")) {
        NodeFacts facts;
        if (node.node.empty()) continue;
        if (!Query(node.node, facts)) {
            // A camera that cannot be opened now is still a camera: listed from what udev knows, so
            // that choosing it says what is wrong (no permission, a program that holds it alone) or,
            // when it was only still being set up after its arrival, simply opens then. Leaving it out
            // would hide a camera just plugged in until the next arrival. Only the open's own error
            // counts; a node that opened and then failed its questions is no camera. A camera is bound
            // by the identity it had in the list, so two looks that differ choose no wrong camera.
            if (facts.openError == 0) continue;
            facts = NodeFacts{};
            facts.card = node.Property("ID_V4L_PRODUCT");
            facts.capture = node.Property("ID_V4L_CAPABILITIES").find(":capture:") != std::string::npos;
            facts.convertible = true;
        }
        if (!facts.capture || !facts.convertible) continue;

        CaptureDevice entry{node.node, {}, {}, node.usbDevice, facts.card};
        if (!node.usbProduct.empty()) {
            entry.friendlyName = node.usbProduct;
        } else if (!node.Property("ID_MODEL_FROM_DATABASE").empty()) {
            entry.friendlyName = node.Property("ID_MODEL_FROM_DATABASE");
        } else {
            entry.friendlyName = facts.card;
        }
        if (!entry.IsWifiDevice()) {
            entry.devicePath = DevicePathOf(node);
            if (entry.devicePath.empty()) entry.devicePath = DriverIdentity(facts);
        }
        found.push_back({std::move(entry), node, std::move(facts)});
    }

    // One identity shared by nodes of different devices: each is told apart by where it is.
    auto otherDevice = [](const Found& a, const Found& b) {
        return a.entry.usbDevice != b.entry.usbDevice || a.entry.usbDevice.empty();
    };
    std::vector<std::string> refined(found.size());
    for (size_t i = 0; i < found.size(); ++i) {
        const CaptureDevice& entry = found[i].entry;
        if (entry.devicePath.empty()) continue;
        const bool shared = std::any_of(found.begin(), found.end(), [&](const Found& other) {
            return &other != &found[i] && other.entry.devicePath == entry.devicePath &&
                   otherDevice(found[i], other);
        });
        if (!shared) continue;
        const std::string port = found[i].node.Property("ID_PATH");
        if (!entry.usbDevice.empty()) {
            if (!port.empty() && entry.devicePath.find(port) == std::string::npos)
                refined[i] = entry.devicePath + "#" + port;
        } else {
            refined[i] = DriverIdentity(found[i].facts);
        }
    }

    std::vector<CaptureDevice> devices;
    for (size_t i = 0; i < found.size(); ++i) {
        CaptureDevice entry = std::move(found[i].entry);
        if (!refined[i].empty()) entry.devicePath = refined[i];
        // Two capture interfaces of one camera share its identity; the later ones are told apart by
        // their interface number, then by their place.
        if (!entry.devicePath.empty()) {
            auto taken = [&devices](const std::string& path) {
                return std::any_of(devices.begin(), devices.end(),
                                   [&](const CaptureDevice& other) { return other.devicePath == path; });
            };
            if (taken(entry.devicePath)) {
                const std::string interface = found[i].node.Property("ID_USB_INTERFACE_NUM");
                std::string candidate = entry.devicePath + "#" + (interface.empty() ? "1" : interface);
                for (int n = 2; taken(candidate); ++n) candidate = entry.devicePath + "#" + std::to_string(n);
                entry.devicePath = candidate;
            }
        }
        devices.push_back(std::move(entry));
    }

    // Names that several cameras share are numbered in the list's order.
    std::vector<std::string> names;
    for (const CaptureDevice& entry : devices) names.push_back(entry.friendlyName);
    for (size_t i = 0; i < devices.size(); ++i) {
        const int earlier = static_cast<int>(std::count(names.begin(), names.begin() + i, names[i]));
        if (earlier > 0 && !devices[i].IsWifiDevice())
            devices[i].friendlyName += " (" + std::to_string(earlier + 1) + ")";
    }
    return devices;
}

bool CDeviceIdentity::IsCaptureNode(const DeviceNode& node) {
    NodeFacts facts;
    if (!node.node.empty() && Query(node.node, facts)) return facts.capture;
    const std::string capabilities = node.Property("ID_V4L_CAPABILITIES");
    // Neither the node nor udev could tell (udev questions the node too, and a camera still being set
    // up or busy for a moment answers neither): it may well be a camera, and the list made on its
    // account decides. Dropping it would leave a camera unseen until the next plug.
    if (capabilities.empty()) return true;
    return capabilities.find(":capture:") != std::string::npos;
}

}  // namespace orvane
