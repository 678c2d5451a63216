#include "capture/device_identity.h"

#include <fcntl.h>
#include <linux/videodev2.h>

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

std::string CardText(const v4l2_capability& caps) {
    const char* card = reinterpret_cast<const char*>(caps.card);
    return std::string(card, strnlen(card, sizeof(caps.card)));
}

}  // namespace

bool CaptureDevice::IsWifiDevice() const { return friendlyName == kWifiDeviceName; }

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

bool CDeviceIdentity::Query(const std::string& node, std::string& card, bool& capture, bool& convertible) {
    const int fd = device.Open(node, O_RDWR | O_NONBLOCK);
    if (fd < 0) return false;
    v4l2_capability caps{};
    const bool ok = device.Ioctl(fd, VIDIOC_QUERYCAP, &caps) == 0;
    if (ok) {
        card = CardText(caps);
        const uint32_t nodeCaps =
            (caps.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? caps.device_caps : caps.capabilities;
        capture = (nodeCaps & V4L2_CAP_VIDEO_CAPTURE) != 0;
        convertible = false;
        for (uint32_t index = 0; capture && !convertible; ++index) {
            v4l2_fmtdesc format{};
            format.index = index;
            format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            if (device.Ioctl(fd, VIDIOC_ENUM_FMT, &format) != 0) break;
            convertible = CFrameConverter::CanConvert(format.pixelformat);
        }
    }
    device.Close(fd);
    return ok;
}

std::vector<CaptureDevice> CDeviceIdentity::ListCaptureDevices() {
    std::vector<CaptureDevice> devices;
    for (const DeviceNode& node : device.ListNodes("video4linux")) {
        std::string card;
        bool capture = false;
        bool convertible = false;
        if (node.node.empty()) continue;
        if (!Query(node.node, card, capture, convertible)) {
            // A camera we may not open (no permission, or one user at a time and in use) is still a
            // camera: listed from what udev knows, so that opening it can say what is wrong.
            const int error = errno;
            if (error != EACCES && error != EPERM && error != EBUSY) continue;
            card = node.Property("ID_V4L_PRODUCT");
            capture = node.Property("ID_V4L_CAPABILITIES").find(":capture:") != std::string::npos;
            convertible = true;
        }
        if (!capture || !convertible) continue;

        CaptureDevice entry{node.node, card, {}, node.usbDevice};
        if (!entry.IsWifiDevice()) entry.devicePath = DevicePathOf(node);
        // Two capture interfaces of one camera share its serial number; the later ones are told
        // apart by their interface number, then by their place.
        if (!entry.devicePath.empty()) {
            auto taken = [&devices](const std::string& path) {
                for (const CaptureDevice& other : devices) {
                    if (other.devicePath == path) return true;
                }
                return false;
            };
            if (taken(entry.devicePath)) {
                const std::string interface = node.Property("ID_USB_INTERFACE_NUM");
                std::string candidate = entry.devicePath + "#" + (interface.empty() ? "1" : interface);
                for (int n = 2; taken(candidate); ++n) candidate = entry.devicePath + "#" + std::to_string(n);
                entry.devicePath = candidate;
            }
        }
        devices.push_back(std::move(entry));
    }
    return devices;
}

bool CDeviceIdentity::IsCaptureNode(const DeviceNode& node) {
    std::string card;
    bool capture = false;
    bool convertible = false;
    if (!node.node.empty() && Query(node.node, card, capture, convertible)) return capture;
    return node.Property("ID_V4L_CAPABILITIES").find(":capture:") != std::string::npos;
}

}  // namespace orvane
