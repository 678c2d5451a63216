#include "simulation/simulated_hotplug.h"

#include <sys/eventfd.h>

#include <algorithm>
#include <utility>

#include "simulation/simulated_camera_impl.h"
#include "simulation/simulated_kernel_text.h"

namespace orvane {

namespace {

// What udev knows of a USB camera; a definition's empty fields give no property.
std::vector<std::pair<std::string, std::string>> UsbProperties(const SimulatedCameraDefinition& definition) {
    std::string model = definition.card;
    std::replace(model.begin(), model.end(), ' ', '_');
    std::vector<std::pair<std::string, std::string>> properties = {
        {"ID_BUS", "usb"},
        {"ID_MODEL", model},
        {"ID_SERIAL", model + (definition.serial.empty() ? "" : "_" + definition.serial)},
        {"ID_USB_INTERFACE_NUM", "00"},
        {"ID_USB_DRIVER", definition.driver},
    };
    auto add = [&](const char* name, const std::string& value) {
        if (!value.empty()) properties.emplace_back(name, value);
    };
    add("ID_VENDOR_ID", definition.vendorId);
    add("ID_MODEL_ID", definition.modelId);
    add("ID_SERIAL_SHORT", definition.serial);
    add("ID_MODEL_FROM_DATABASE", definition.modelFromDatabase);
    if (!definition.port.empty()) {
        const std::string portPath = "pci-0000:00:14.0-usb-0:" + definition.port + ":1.0";
        std::string tag = portPath;
        std::replace_if(
            tag.begin(), tag.end(), [](char c) { return c == ':' || c == '.'; }, '_');
        add("ID_PATH", portPath);
        add("ID_PATH_TAG", tag);
    }
    return properties;
}

}  // namespace

int SimulatedHotplugMonitor::Open() {
    UniqueFd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake.Get() < 0) return -1;
    const int fd = wake.Get();
    std::lock_guard guard(lock);
    monitors[fd].wake = std::move(wake);
    return fd;
}

bool SimulatedHotplugMonitor::Read(int monitorFd, DeviceEvent& event) {
    std::lock_guard guard(lock);
    auto found = monitors.find(monitorFd);
    if (found == monitors.end() || found->second.events.empty()) return false;
    Monitor& monitor = found->second;
    event = std::move(monitor.events.front());
    monitor.events.pop_front();
    SetWake(monitorFd, monitor.signalled, !monitor.events.empty());
    return true;
}

void SimulatedHotplugMonitor::Close(int monitorFd) {
    std::lock_guard guard(lock);
    monitors.erase(monitorFd);
}

void SimulatedHotplugMonitor::Raise(const std::vector<DeviceEvent>& events) {
    std::lock_guard guard(lock);
    for (auto& [fd, monitor] : monitors) {
        for (const DeviceEvent& event : events) monitor.events.push_back(event);
        SetWake(fd, monitor.signalled, !monitor.events.empty());
    }
}

std::vector<DeviceEvent> SimulatedNodeEvents(const SimulatedCameraCore& camera, const std::string& action) {
    std::vector<DeviceEvent> events = {{action, "video4linux", camera.VideoPath()}};
    if (!camera.MetadataPath().empty()) events.push_back({action, "video4linux", camera.MetadataPath()});
    if (!camera.InputPath().empty()) events.push_back({action, "input", camera.InputPath()});
    return events;
}

void AppendSimulatedNodes(const SimulatedCameraCore& camera, const std::string& subsystem,
                          std::vector<DeviceNode>& nodes) {
    const SimulatedCameraDefinition& definition = camera.definition;
    std::lock_guard state(camera.stateLock);
    if (!camera.plugged) return;
    auto make = [&](const std::string& path, const std::string& capabilities) {
        DeviceNode node;
        node.node = path;
        node.subsystem = subsystem;
        node.usbDevice = camera.UsbDevicePath();
        node.properties = {{"DEVNAME", path}, {"SUBSYSTEM", subsystem}};
        if (definition.usb) {
            node.usbProduct = definition.product;
            for (auto& property : UsbProperties(definition)) node.properties.push_back(property);
        }
        if (subsystem == "video4linux") {
            node.properties.push_back({"ID_V4L_VERSION", "2"});
            node.properties.push_back({"ID_V4L_PRODUCT", definition.card});
            node.properties.push_back({"ID_V4L_CAPABILITIES", capabilities});
        } else {
            node.properties.push_back({"ID_INPUT", "1"});
            node.properties.push_back({"ID_INPUT_KEY", "1"});
        }
        nodes.push_back(std::move(node));
    };
    if (subsystem == "video4linux") {
        make(camera.VideoPath(), ":capture:");
        if (!camera.MetadataPath().empty()) make(camera.MetadataPath(), ":");
    } else if (subsystem == "input" && !camera.InputPath().empty()) {
        make(camera.InputPath(), "");
    }
}

}  // namespace orvane
