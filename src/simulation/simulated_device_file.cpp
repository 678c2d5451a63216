#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
#include "simulation/simulated_camera.h"
#include "simulation/simulated_camera_impl.h"
#include "simulation/simulated_hotplug.h"

namespace orvane {

struct SimulatedDeviceFile::Tables {
    SimulatedHotplugMonitor hotplug;
    mutable std::mutex lock;  // guards everything below; taken before a camera's locks
    std::vector<std::unique_ptr<SimulatedCamera>> cameras;
    std::map<int, std::shared_ptr<SimulatedOpenFile>> files;
    std::map<void*, size_t> mappings;
    int nextVideo = 0;
    int nextInput = 0;
};

namespace {

using Clock = std::chrono::steady_clock;

int Fail(int error) {
    errno = error;
    return -1;
}

}  // namespace

SimulatedDeviceFile::SimulatedDeviceFile() : tables(std::make_unique<Tables>()) {}

SimulatedDeviceFile::SimulatedDeviceFile(const std::vector<SimulatedCameraDefinition>& cameras)
    : SimulatedDeviceFile() {
    for (const SimulatedCameraDefinition& definition : cameras) AddCamera(definition);
}

SimulatedDeviceFile::~SimulatedDeviceFile() {
    std::vector<std::unique_ptr<SimulatedCamera>> cameras;
    {
        std::lock_guard guard(tables->lock);
        cameras = std::move(tables->cameras);
        tables->files.clear();
    }
    cameras.clear();
}

std::vector<SimulatedCameraDefinition> SimulatedDeviceFile::DemoCameras() {
    return {
        SimulatedCameraDefinition::UsbCamera("USB Microscope", "f0c1", "0a01", "MS2024001", "1"),
        SimulatedCameraDefinition::UsbCamera("HD Webcam", "f0c2", "0b02", "", "2"),
        SimulatedCameraDefinition::WifiCamera(),
    };
}

SimulatedCamera& SimulatedDeviceFile::AddCamera(const SimulatedCameraDefinition& definition) {
    SimulatedCamera* camera = nullptr;
    {
        std::lock_guard guard(tables->lock);
        const int video = tables->nextVideo;
        tables->nextVideo += definition.usb ? 2 : 1;
        int input = -1;
        if (definition.usb && definition.snapshotButton) input = tables->nextInput++;
        tables->cameras.push_back(
            std::unique_ptr<SimulatedCamera>(new SimulatedCamera(*this, definition, video, input)));
        camera = tables->cameras.back().get();
    }
    RaiseEvents(SimulatedNodeEvents(*camera->impl, "add"));
    return *camera;
}

SimulatedCamera& SimulatedDeviceFile::Camera(size_t index) {
    std::lock_guard guard(tables->lock);
    return *tables->cameras.at(index);
}

size_t SimulatedDeviceFile::CameraCount() const {
    std::lock_guard guard(tables->lock);
    return tables->cameras.size();
}

size_t SimulatedDeviceFile::OpenDescriptors() const {
    std::lock_guard guard(tables->lock);
    return tables->files.size();
}

size_t SimulatedDeviceFile::MappedAreas() const {
    std::lock_guard guard(tables->lock);
    return tables->mappings.size();
}

std::shared_ptr<SimulatedOpenFile> SimulatedDeviceFile::FindFile(int fd) const {
    std::lock_guard guard(tables->lock);
    auto found = tables->files.find(fd);
    return found == tables->files.end() ? nullptr : found->second;
}

void SimulatedDeviceFile::RaiseEvents(const std::vector<DeviceEvent>& events) {
    tables->hotplug.Raise(events);
}

int SimulatedDeviceFile::Open(const std::string& path, int flags) {
    std::lock_guard guard(tables->lock);
    for (const auto& camera : tables->cameras) {
        NodeKind kind{};
        if (!camera->impl->MatchNode(path, kind)) continue;
        UniqueFd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (wake.Get() < 0) return -1;
        const int fd = wake.Get();
        SimulatedCamera::Impl& impl = *camera->impl;
        std::lock_guard state(impl.stateLock);
        if (kind == NodeKind::Video && impl.openError != 0) return Fail(impl.openError);
        auto file = std::make_shared<SimulatedOpenFile>(std::move(wake), camera.get(), kind,
                                                        (flags & O_NONBLOCK) != 0, impl.generation);
        impl.Attach(file);
        tables->files.emplace(fd, std::move(file));
        return fd;
    }
    return Fail(ENOENT);
}

int SimulatedDeviceFile::Close(int fd) {
    std::shared_ptr<SimulatedOpenFile> file;
    {
        std::lock_guard guard(tables->lock);
        auto found = tables->files.find(fd);
        if (found == tables->files.end()) return Fail(EBADF);
        file = std::move(found->second);
        tables->files.erase(found);
    }
    file->camera->impl->Detach(*file);
    return 0;
}

int SimulatedDeviceFile::Ioctl(int fd, unsigned long request, void* arg) {
    const std::shared_ptr<SimulatedOpenFile> file = FindFile(fd);
    if (!file) return Fail(EBADF);
    const int result = file->camera->impl->Ioctl(*file, request, arg);
    return result < 0 ? Fail(-result) : result;
}

void* SimulatedDeviceFile::Mmap(size_t length, int prot, int flags, int fd, off_t offset) {
    const std::shared_ptr<SimulatedOpenFile> file = FindFile(fd);
    if (!file) {
        errno = EBADF;
        return MAP_FAILED;
    }
    void* address = file->camera->impl->Map(*file, length, prot, flags, offset);
    if (address != MAP_FAILED) {
        std::lock_guard guard(tables->lock);
        tables->mappings[address] = length;
    }
    return address;
}

int SimulatedDeviceFile::Munmap(void* address, size_t length) {
    {
        std::lock_guard guard(tables->lock);
        tables->mappings.erase(address);
    }
    return ::munmap(address, length);
}

int SimulatedDeviceFile::Poll(struct pollfd* fds, nfds_t count, int timeoutMs) {
    std::vector<std::shared_ptr<SimulatedOpenFile>> simulated(count);
    // A simulated descriptor is readable while its camera has something to report; that is all the
    // kernel is asked to watch on it.
    std::vector<pollfd> watched(fds, fds + count);
    for (nfds_t i = 0; i < count; ++i) {
        simulated[i] = FindFile(fds[i].fd);
        if (simulated[i]) watched[i].events = POLLIN;
    }
    auto revents = [&](nfds_t i) -> short {
        SimulatedCamera::Impl& impl = *simulated[i]->camera->impl;
        std::lock_guard state(impl.stateLock);
        return static_cast<short>(impl.Revents(*simulated[i]) &
                                  (fds[i].events | POLLERR | POLLHUP | POLLNVAL));
    };
    auto left = [&](Clock::time_point deadline) {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return static_cast<int>(std::max<int64_t>(0, ms));
    };

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        bool ready = false;
        for (nfds_t i = 0; i < count; ++i) ready = ready || (simulated[i] && revents(i) != 0);
        const int wait = ready ? 0 : timeoutMs < 0 ? -1 : left(deadline);
        const int result = ::poll(watched.data(), count, wait);
        if (result < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        int events = 0;
        bool woken = false;
        for (nfds_t i = 0; i < count; ++i) {
            woken = woken || watched[i].revents != 0;
            fds[i].revents = simulated[i] ? revents(i) : watched[i].revents;
            if (fds[i].revents != 0) ++events;
        }
        if (events > 0 || (timeoutMs >= 0 && Clock::now() >= deadline)) return events;
        // Woken for an event the caller did not ask for: do not spin on it.
        if (woken)
            std::this_thread::sleep_for(
                std::chrono::milliseconds(timeoutMs < 0 ? 5 : std::min(5, left(deadline))));
    }
}

ssize_t SimulatedDeviceFile::Read(int fd, void* buffer, size_t size) {
    const std::shared_ptr<SimulatedOpenFile> file = FindFile(fd);
    if (!file) return Fail(EBADF);
    const ssize_t result = file->camera->impl->input.Read(*file, buffer, size);
    return result < 0 ? Fail(static_cast<int>(-result)) : result;
}

std::vector<DeviceNode> SimulatedDeviceFile::ListNodes(const std::string& subsystem) {
    std::vector<DeviceNode> nodes;
    std::lock_guard guard(tables->lock);
    for (const auto& camera : tables->cameras) AppendSimulatedNodes(*camera->impl, subsystem, nodes);
    auto number = [](const std::string& node) {
        const size_t digits = node.find_last_not_of("0123456789") + 1;
        return std::atoi(node.c_str() + digits);
    };
    std::stable_sort(nodes.begin(), nodes.end(), [&](const DeviceNode& a, const DeviceNode& b) {
        return number(a.node) < number(b.node);
    });
    return nodes;
}

int SimulatedDeviceFile::OpenMonitor() { return tables->hotplug.Open(); }

bool SimulatedDeviceFile::ReadEvent(int monitorFd, DeviceEvent& event) {
    return tables->hotplug.Read(monitorFd, event);
}

void SimulatedDeviceFile::CloseMonitor(int monitorFd) { tables->hotplug.Close(monitorFd); }

}  // namespace orvane
