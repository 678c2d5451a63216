#include "capture/real_device_file.h"

#include <fcntl.h>
#include <libudev.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace orvane {

namespace {

struct EnumerateDeleter {
    void operator()(udev_enumerate* enumerate) const { udev_enumerate_unref(enumerate); }
};
struct DeviceDeleter {
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
using DevicePtr = std::unique_ptr<udev_device, DeviceDeleter>;

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

// "/dev/video10" -> {"/dev/video", 10}: node names in the order a person counts them.
bool NodeBefore(const std::string& a, const std::string& b) {
    auto split = [](const std::string& node) {
        const size_t digits = node.find_last_not_of("0123456789") + 1;
        const long number = digits < node.size() ? std::strtol(node.c_str() + digits, nullptr, 10) : -1;
        return std::make_pair(node.substr(0, digits), number);
    };
    return split(a) < split(b);
}

std::atomic<IDeviceFile*> installedDeviceFile{nullptr};

}  // namespace

void CRealDeviceFile::UdevDeleter::operator()(udev* context) const { udev_unref(context); }
void CRealDeviceFile::MonitorDeleter::operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }

CRealDeviceFile::CRealDeviceFile() = default;
CRealDeviceFile::~CRealDeviceFile() = default;

int CRealDeviceFile::Open(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Linux releases the descriptor even when close is interrupted, so it is never retried.
int CRealDeviceFile::Close(int fd) { return ::close(fd); }

int CRealDeviceFile::Ioctl(int fd, unsigned long request, void* arg) {
    int result;
    do {
        result = ::ioctl(fd, request, arg);
    } while (result == -1 && errno == EINTR);
    return result;
}

void* CRealDeviceFile::Mmap(size_t length, int prot, int flags, int fd, off_t offset) {
    return ::mmap(nullptr, length, prot, flags, fd, offset);
}

int CRealDeviceFile::Munmap(void* address, size_t length) { return ::munmap(address, length); }

int CRealDeviceFile::Poll(struct pollfd* fds, nfds_t count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    int wait = timeoutMs;
    for (;;) {
        const int result = ::poll(fds, count, wait);
        if (result >= 0 || errno != EINTR) return result;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = static_cast<int>(std::max<int64_t>(left, 0));
        }
    }
}

ssize_t CRealDeviceFile::Read(int fd, void* buffer, size_t size) {
    ssize_t result;
    do {
        result = ::read(fd, buffer, size);
    } while (result < 0 && errno == EINTR);
    return result;
}

std::vector<DeviceNode> CRealDeviceFile::ListNodes(const std::string& subsystem) {
    std::vector<DeviceNode> nodes;
    std::unique_ptr<udev, UdevDeleter> context(udev_new());
    if (!context) return nodes;
    std::unique_ptr<udev_enumerate, EnumerateDeleter> enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), subsystem.c_str()) < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        return nodes;
    }

    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        DevicePtr device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!device) continue;
        const char* devnode = udev_device_get_devnode(device.get());
        if (devnode == nullptr) continue;

        DeviceNode node;
        node.node = devnode;
        node.subsystem = udev_device_get_subsystem(device.get()) != nullptr
                             ? udev_device_get_subsystem(device.get())
                             : subsystem;
        udev_list_entry* property = nullptr;
        udev_list_entry_foreach(property, udev_device_get_properties_list_entry(device.get())) {
            node.properties.emplace_back(OrEmpty(udev_list_entry_get_name(property)),
                                         OrEmpty(udev_list_entry_get_value(property)));
        }
        // The parent belongs to the device and goes with it.
        udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device");
        if (usb != nullptr) {
            node.usbDevice = OrEmpty(udev_device_get_syspath(usb));
            node.usbProduct = OrEmpty(udev_device_get_sysattr_value(usb, "product"));
            // Without udev's database (containers, sandboxes, no udevd) the USB ids come from sysfs.
            if (node.Property("ID_VENDOR_ID").empty()) {
                node.properties.emplace_back("ID_BUS", "usb");
                node.properties.emplace_back("ID_VENDOR_ID",
                                             OrEmpty(udev_device_get_sysattr_value(usb, "idVendor")));
                node.properties.emplace_back("ID_MODEL_ID",
                                             OrEmpty(udev_device_get_sysattr_value(usb, "idProduct")));
                node.properties.emplace_back("ID_SERIAL_SHORT",
                                             OrEmpty(udev_device_get_sysattr_value(usb, "serial")));
            }
        }
        nodes.push_back(std::move(node));
    }
    std::stable_sort(nodes.begin(), nodes.end(),
                     [](const DeviceNode& a, const DeviceNode& b) { return NodeBefore(a.node, b.node); });
    return nodes;
}

int CRealDeviceFile::OpenMonitor() {
    Monitor watch;
    watch.context.reset(udev_new());
    if (!watch.context) return -1;
    watch.monitor.reset(udev_monitor_new_from_netlink(watch.context.get(), "udev"));
    if (!watch.monitor) return -1;
    udev_monitor* monitor = watch.monitor.get();
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "video4linux", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "input", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        return -1;
    }
    const int fd = udev_monitor_get_fd(monitor);
    if (fd < 0) return -1;
    std::lock_guard guard(monitorLock);
    monitors[fd] = std::move(watch);
    return fd;
}

bool CRealDeviceFile::ReadEvent(int monitorFd, DeviceEvent& event) {
    std::lock_guard guard(monitorLock);
    auto found = monitors.find(monitorFd);
    if (found == monitors.end()) return false;
    // Bounded, so that a socket that keeps failing cannot hold the caller.
    for (int attempt = 0; attempt < 256; ++attempt) {
        // A message the filter drops or that does not parse gives no device; the next one may.
        pollfd waiting{monitorFd, POLLIN, 0};
        if (::poll(&waiting, 1, 0) <= 0 || (waiting.revents & POLLIN) == 0) return false;
        DevicePtr device(udev_monitor_receive_device(found->second.monitor.get()));
        if (!device) continue;
        const char* devnode = udev_device_get_devnode(device.get());
        if (devnode == nullptr) continue;
        event.action = OrEmpty(udev_device_get_action(device.get()));
        event.subsystem = OrEmpty(udev_device_get_subsystem(device.get()));
        event.node = devnode;
        return true;
    }
    return false;
}

void CRealDeviceFile::CloseMonitor(int monitorFd) {
    std::lock_guard guard(monitorLock);
    monitors.erase(monitorFd);
}

IDeviceFile& RealDeviceFile() {
    static CRealDeviceFile deviceFile;
    return deviceFile;
}

IDeviceFile& CurrentDeviceFile() {
    IDeviceFile* installed = installedDeviceFile.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : RealDeviceFile();
}

void SetDeviceFile(IDeviceFile* deviceFile) {
    installedDeviceFile.store(deviceFile, std::memory_order_release);
}

}  // namespace orvane
