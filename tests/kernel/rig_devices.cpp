#include "rig_devices.h"

#include <dirent.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

namespace orvane::test {
namespace {

std::string GadgetScript() {
    const char* dir = std::getenv("ORVANE_RIG_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/uvc_gadget.sh";
}

bool WriteSysfs(const std::string& path, const std::string& value) {
    std::ofstream out(path);
    out << value;
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace

bool RigDevices::Run(const std::string& command, std::string* output) {
    FILE* raw = popen(command.c_str(), "r");
    if (raw == nullptr) return false;
    std::string text;
    char chunk[256];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, raw)) > 0) text.append(chunk, got);
    const int status = pclose(raw);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    if (output != nullptr) *output = text;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string RigDevices::PlugCamera(const std::string& name, int controller, const std::string& serial) {
    const std::string plug = GadgetScript() + " plug " + name + " " + std::to_string(controller) + " " + serial;
    std::string node;
    if (Run(plug, &node)) return node;
    // The emulated bus itself sometimes drops a gadget a moment after binding it, after much plugging
    // (the host sees it connect and disconnect before any request): that is the rig, not the camera
    // code under test, so the cable is pulled and put in once more, and the log says so.
    std::fprintf(stderr, "rig: %s did not come up on dummy_udc.%d; plugging it in again\n", name.c_str(), controller);
    UnplugCamera(name);
    return Run(plug, &node) ? node : "";
}

bool RigDevices::UnplugCamera(const std::string& name) { return Run(GadgetScript() + " unplug " + name); }

std::string RigDevices::CameraNode(const std::string& name) {
    std::string node;
    return Run(GadgetScript() + " node " + name + " 2>/dev/null", &node) ? node : "";
}

bool RigDevices::UnbindVivid() {
    return WriteSysfs("/sys/bus/platform/drivers/vivid/unbind", "vivid.0") &&
           Run("udevadm settle --timeout=60");
}

bool RigDevices::BindVivid() {
    return WriteSysfs("/sys/bus/platform/drivers/vivid/bind", "vivid.0") &&
           Run("udevadm settle --timeout=60");
}

std::vector<std::string> RigDevices::VividNodes() {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir("/sys/devices/platform/vivid.0/video4linux"), closedir);
    if (!dir) return names;
    while (dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.rfind("video", 0) == 0) names.push_back(name);
    }
    // By number: video2 before video10.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    std::vector<std::string> nodes;
    for (const std::string& name : names) nodes.push_back("/dev/" + name);
    return nodes;
}

}  // namespace orvane::test
