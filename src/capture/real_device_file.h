#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "capture/device_file.h"

struct udev;
struct udev_monitor;

namespace orvane {

// The device seam on the kernel and libudev; RealDeviceFile() hands out the process-wide instance.
// Every call is thread-safe. The device calls are the system calls themselves, with errno as they
// leave it: Open adds O_CLOEXEC; Open, Ioctl, Poll and Read retry when a signal interrupts them
// (Poll with what is left of its time-out).
class CRealDeviceFile final : public IDeviceFile {
public:
    CRealDeviceFile();
    ~CRealDeviceFile() override;
    CRealDeviceFile(const CRealDeviceFile&) = delete;
    CRealDeviceFile& operator=(const CRealDeviceFile&) = delete;

    int Open(const std::string& path, int flags) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    void* Mmap(size_t length, int prot, int flags, int fd, off_t offset) override;
    int Munmap(void* address, size_t length) override;
    int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) override;
    ssize_t Read(int fd, void* buffer, size_t size) override;

    // The udev devices of the subsystem that have a device node, ordered by node name with numbers
    // compared as numbers (/dev/video2 before /dev/video10). Empty when udev is not available.
    std::vector<DeviceNode> ListNodes(const std::string& subsystem) override;

    // A udev monitor on "video4linux" and "input"; -1 when udev or its netlink socket is not
    // available. ReadEvent never blocks and passes over devices that have no node.
    int OpenMonitor() override;
    bool ReadEvent(int monitorFd, DeviceEvent& event) override;
    void CloseMonitor(int monitorFd) override;

private:
    struct UdevDeleter {
        void operator()(udev* context) const;
    };
    struct MonitorDeleter {
        void operator()(udev_monitor* monitor) const;
    };
    struct Monitor {
        std::unique_ptr<udev, UdevDeleter> context;
        std::unique_ptr<udev_monitor, MonitorDeleter> monitor;
    };

    std::mutex monitorLock;           // guards monitors
    std::map<int, Monitor> monitors;  // by the monitor's descriptor
};

}  // namespace orvane
