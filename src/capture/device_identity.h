#pragma once

#include <string>
#include <vector>

#include "capture/device_file.h"

namespace orvane {

// One video4linux node that can serve as a camera: it captures video by streaming (not a metadata
// node, not a node of a media-controller pipeline) and offers at least one pixel format the frame
// converter understands.
struct CaptureDevice {
    std::string node;  // "/dev/video0"
    // The name the list shows: the USB product string, else the model name of the USB ID database,
    // else the card name; names that several cameras share get " (2)", " (3)" ... on the later ones.
    std::string friendlyName;
    // The identity; empty when none can be formed, and always for the wireless camera.
    std::string devicePath;
    std::string usbDevice;  // the sysfs path of its USB device, "" when not on USB
    std::string card;       // the driver's card name (at most 31 characters)

    bool IsWifiDevice() const;
};

// Finds the cameras of the system and the identity that recognises each one across reboots, USB
// port changes of other devices and /dev/videoN renumbering. Interface thread.
class CDeviceIdentity {
public:
    explicit CDeviceIdentity(IDeviceFile& device) : device(device) {}

    // Every camera node in the system's order, wireless camera and nodes without an identity
    // included. Nodes that cannot be opened or queried are left out.
    //
    // Identities: DevicePathOf, else (no udev database, a virtual camera) "v4l2#" driver "#" bus_info
    // "#" card. Cameras of different devices that would share one identity are told apart by where
    // they are, whatever order they came in: USB cameras with one serial number (a fake one) by their
    // port path appended, other devices (instances of one platform driver) by driver, bus_info and
    // card. Several capture nodes of one USB device get its interface number, then their place.
    std::vector<CaptureDevice> ListCaptureDevices();

    // Whether the node captures video: from the node itself when it can be opened, else from the udev
    // capability property; true when neither can tell. Used for arrival and removal events.
    bool IsCaptureNode(const DeviceNode& node);

    // The identity from the node's udev properties: a USB camera gives
    // "usb#vid_xxxx&pid_yyyy" (lower-case hex) followed by "#" and its serial number, or, when it has
    // none, "#" and its port path (ID_PATH); any other node gives its ID_PATH. Empty when neither
    // can be formed.
    static std::string DevicePathOf(const DeviceNode& node);

private:
    struct NodeFacts {
        std::string driver, card, busInfo;
        bool capture = false;      // captures video by streaming and is no media-controller node
        bool convertible = false;  // offers a format the frame converter understands
        int openError = 0;         // errno of a failed open; 0 when the node opened
    };
    // Opens the node and asks it what it is.
    bool Query(const std::string& node, NodeFacts& facts);
    // "v4l2#driver#bus_info#card"; empty when the driver gives neither name nor bus.
    static std::string DriverIdentity(const NodeFacts& facts);

    IDeviceFile& device;
};

}  // namespace orvane
