#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "capture/device_file.h"

namespace orvane {

struct SimulatedCameraCore;

// The simulated udev monitors: every monitor descriptor is an eventfd, readable while events wait for
// it. Thread-safe; its lock is taken after any other and never held while calling out.
class SimulatedHotplugMonitor {
public:
    // A new monitor that sees the events raised from now on; -1 with errno set on failure.
    int Open();
    // The oldest waiting event of `monitorFd`; false when none waits or the monitor is unknown.
    bool Read(int monitorFd, DeviceEvent& event);
    void Close(int monitorFd);
    // Hands `events` to every open monitor.
    void Raise(const std::vector<DeviceEvent>& events);

private:
    struct Monitor {
        UniqueFd wake;
        bool signalled = false;
        std::deque<DeviceEvent> events;
    };

    std::mutex lock;  // guards monitors
    std::map<int, Monitor> monitors;
};

// The events a camera's nodes raise on being plugged in ("add") or pulled out ("remove").
std::vector<DeviceEvent> SimulatedNodeEvents(const SimulatedCameraCore& camera, const std::string& action);
// Appends the nodes of `subsystem` ("video4linux" or "input") the camera has while plugged in, with
// the properties udev gives them. Takes the camera's stateLock.
void AppendSimulatedNodes(const SimulatedCameraCore& camera, const std::string& subsystem,
                          std::vector<DeviceNode>& nodes);

}  // namespace orvane
