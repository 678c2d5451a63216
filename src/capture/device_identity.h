#pragma once

#include <string>
#include <vector>

#include "capture/device_file.h"

namespace orvane {

// One video4linux node that can serve as a camera: it captures video (not a metadata node) and
// offers at least one pixel format the frame converter understands.
struct CaptureDevice {
    std::string node;          // "/dev/video0"
    std::string friendlyName;  // the card name
    // The identity; empty when none can be formed, and always for the wireless camera.
    std::string devicePath;
    std::string usbDevice;  // the sysfs path of its USB device, "" when not on USB

    bool IsWifiDevice() const;
};

// Finds the cameras of the system and the identity that recognises each one across reboots, USB
// port changes of other devices and /dev/videoN renumbering. Interface thread.
class CDeviceIdentity {
public:
    explicit CDeviceIdentity(IDeviceFile& device) : device(device) {}

    // Every camera node in the system's order, wireless camera and nodes without an identity
    // included. Nodes that cannot be opened or queried are left out.
    std::vector<CaptureDevice> ListCaptureDevices();

    // Whether the node captures video: from the node itself when it can be opened, else from the udev
    // capability property. Used for arrival and removal events.
    bool IsCaptureNode(const DeviceNode& node);

    // The identity from the node's udev properties: a USB camera gives
    // "usb#vid_xxxx&pid_yyyy" (lower-case hex) followed by "#" and its serial number, or, when it has
    // none, "#" and its port path (ID_PATH); any other node gives its ID_PATH. Empty when neither
    // can be formed.
    static std::string DevicePathOf(const DeviceNode& node);

private:
    // Opens the node, returns its card name and whether it captures and offers a convertible format.
    bool Query(const std::string& node, std::string& card, bool& capture, bool& convertible);

    IDeviceFile& device;
};

}  // namespace orvane
