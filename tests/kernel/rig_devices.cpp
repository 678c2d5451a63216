#include "rig_devices.h"

#include <dirent.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
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
    std::string node;
    if (!Run(GadgetScript() + " plug " + name + " " + std::to_string(controller) + " " + serial, &node)) return "";
    return node;
}

bool RigDevices::UnplugCamera(const std::string& name) { return Run(GadgetScript() + " unplug " + name); }

std::string RigDevices::CameraNode(const std::string& name) {
    std::string node;
    return Run(GadgetScript() + " node " + name + " 2>/dev/null", &node) ? node : "";
}

bool RigDevices::UnbindVivid(int instance) {
    return WriteSysfs("/sys/bus/platform/drivers/vivid/unbind", "vivid." + std::to_string(instance)) &&
           Run("udevadm settle --timeout=60");
}

bool RigDevices::BindVivid(int instance) {
    return WriteSysfs("/sys/bus/platform/drivers/vivid/bind", "vivid." + std::to_string(instance)) &&
           Run("udevadm settle --timeout=60");
}

std::vector<std::string> RigDevices::VividNodes() {
    std::vector<std::string> nodes;
    for (int instance = 0; instance < 8; ++instance) {
        const std::string folder = "/sys/devices/platform/vivid." + std::to_string(instance) + "/video4linux";
        std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
        if (!dir) continue;
        std::vector<std::string> names;
        while (dirent* entry = readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (name.rfind("video", 0) == 0) names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) nodes.push_back("/dev/" + name);
    }
    return nodes;
}

}  // namespace orvane::test
