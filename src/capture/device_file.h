#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace orvane {

// Everything the capture code asks of a device goes through this seam: the V4L2 capture nodes, the
// snapshot-button input nodes and the list of devices. The real implementation calls the kernel and
// libudev; the simulated camera implements the same calls in the process, so the capture code
// cannot tell the two apart.
//
// The calls keep the kernel's conventions: -1 (or MAP_FAILED) with errno set on failure. File
// descriptors handed out by either implementation are real descriptors that poll(2) understands.

// One device node as the device list sees it.
struct DeviceNode {
    std::string node;          // "/dev/video0"
    std::string subsystem;     // "video4linux" or "input"
    // udev properties of the node (ID_VENDOR_ID, ID_MODEL_ID, ID_SERIAL_SHORT, ID_PATH, ID_BUS,
    // ID_V4L_CAPABILITIES, ...); absent ones are empty.
    std::vector<std::pair<std::string, std::string>> properties;
    // The sysfs path of the USB device the node belongs to ("" when it is not on USB); a camera's
    // video nodes and its snapshot-button input node share it.
    std::string usbDevice;
    // That USB device's product string from its descriptor; "" when it has none.
    std::string usbProduct;

    std::string Property(const std::string& name) const {
        for (const auto& [key, value] : properties) {
            if (key == name) return value;
        }
        return {};
    }
};

// One arrival or removal of a device node.
struct DeviceEvent {
    std::string action;     // "add" or "remove" (other udev actions are passed on as they come)
    std::string subsystem;  // "video4linux" or "input"
    std::string node;       // "/dev/video2"
};

class IDeviceFile {
public:
    virtual ~IDeviceFile() = default;

    virtual int Open(const std::string& path, int flags) = 0;
    virtual int Close(int fd) = 0;
    // Retries on EINTR; EAGAIN is passed on ("nothing yet").
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual void* Mmap(size_t length, int prot, int flags, int fd, off_t offset) = 0;
    virtual int Munmap(void* address, size_t length) = 0;
    virtual int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) = 0;
    virtual ssize_t Read(int fd, void* buffer, size_t size) = 0;

    // The device nodes of a subsystem ("video4linux" or "input"), in the system's order.
    virtual std::vector<DeviceNode> ListNodes(const std::string& subsystem) = 0;

    // Arrival and removal of device nodes. OpenMonitor starts watching "video4linux" and "input"
    // and returns a descriptor that becomes readable while events wait (-1 when watching is not
    // possible); ReadEvent takes the next waiting event, false when none waits. CloseMonitor ends it.
    virtual int OpenMonitor() = 0;
    virtual bool ReadEvent(int monitorFd, DeviceEvent& event) = 0;
    virtual void CloseMonitor(int monitorFd) = 0;
};

// The kernel and libudev. Process-wide; thread-safe.
IDeviceFile& RealDeviceFile();

// The seam the capture code uses unless it was given one: the real one, or what SetDeviceFile
// installed (the demo program and the tests install the simulated camera). nullptr restores the
// real one.
IDeviceFile& CurrentDeviceFile();
void SetDeviceFile(IDeviceFile* deviceFile);

}  // namespace orvane
