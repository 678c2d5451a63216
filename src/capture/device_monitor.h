#pragma once

#include <set>
#include <string>
#include <vector>

#include "capture/device_file.h"

namespace orvane {

// The hot-plug source: arrivals and removals of camera nodes. The viewer watches Descriptor() (a
// QSocketNotifier on the interface thread) and calls ReadEvents() when it becomes readable.
// Metadata nodes, input nodes and other udev actions are filtered out. Interface thread only.
class CDeviceMonitor {
public:
    // nullptr: the seam in force when Open is called.
    explicit CDeviceMonitor(IDeviceFile* device = nullptr);
    ~CDeviceMonitor();

    CDeviceMonitor(const CDeviceMonitor&) = delete;
    CDeviceMonitor& operator=(const CDeviceMonitor&) = delete;

    // Starts watching (a monitor already open is closed first). False when watching is not possible.
    bool Open();
    void Close();
    // Readable while events wait; -1 while not open.
    int Descriptor() const { return monitorFd; }

    // Takes every waiting event and returns the "add" and "remove" events of capture nodes, in the
    // order they came. Empty while not open.
    std::vector<DeviceEvent> ReadEvents();

private:
    bool IsCaptureNode(const std::string& node);

    IDeviceFile* requested;
    IDeviceFile* device = nullptr;  // the seam of the open monitor
    int monitorFd = -1;
    std::set<std::string> captureNodes;  // capture nodes present, for telling removals apart
};

}  // namespace orvane
