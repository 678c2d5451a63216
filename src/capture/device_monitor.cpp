#include "capture/device_monitor.h"

#include "capture/device_identity.h"

namespace orvane {

CDeviceMonitor::CDeviceMonitor(IDeviceFile* device_) : requested(device_) {}

CDeviceMonitor::~CDeviceMonitor() { Close(); }

bool CDeviceMonitor::Open() {
    Close();
    device = requested != nullptr ? requested : &CurrentDeviceFile();
    monitorFd = device->OpenMonitor();
    if (monitorFd < 0) {
        monitorFd = -1;
        return false;
    }
    // Nodes present before the monitor started are known already, so their removal counts too.
    CDeviceIdentity identity(*device);
    for (const DeviceNode& node : device->ListNodes("video4linux")) {
        if (identity.IsCaptureNode(node)) captureNodes.insert(node.node);
    }
    return true;
}

void CDeviceMonitor::Close() {
    if (monitorFd >= 0) device->CloseMonitor(monitorFd);
    monitorFd = -1;
    captureNodes.clear();
}

bool CDeviceMonitor::IsCaptureNode(const std::string& node) {
    CDeviceIdentity identity(*device);
    for (const DeviceNode& listed : device->ListNodes("video4linux")) {
        if (listed.node == node) return identity.IsCaptureNode(listed);
    }
    DeviceNode bare;
    bare.node = node;
    bare.subsystem = "video4linux";
    return identity.IsCaptureNode(bare);
}

std::vector<DeviceEvent> CDeviceMonitor::ReadEvents() {
    std::vector<DeviceEvent> events;
    if (monitorFd < 0) return events;
    DeviceEvent event;
    while (device->ReadEvent(monitorFd, event)) {
        if (event.subsystem != "video4linux" || event.node.empty()) continue;
        if (event.action == "add") {
            if (!IsCaptureNode(event.node)) continue;
            captureNodes.insert(event.node);
        } else if (event.action == "remove") {
            if (captureNodes.erase(event.node) == 0) continue;
        } else {
            continue;
        }
        events.push_back(event);
    }
    return events;
}

}  // namespace orvane
