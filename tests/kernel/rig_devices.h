#pragma once

#include <string>
#include <vector>

namespace orvane::test {

// The devices of the kernel rig's guest, driven through the rig's own scripts: emulated UVC
// microscopes (rig/uvc_gadget.sh, found through ORVANE_RIG_DIR) and the vivid driver's instances.
// Every call waits until the kernel and udevd are done with the change. Runs only in the guest.
class RigDevices {
public:
    // Plugs gadget `name` into dummy controller `controller`; returns its capture node, "" on failure.
    static std::string PlugCamera(const std::string& name, int controller, const std::string& serial);
    static bool UnplugCamera(const std::string& name);
    // The capture node of a plugged camera, "" when it is not plugged.
    static std::string CameraNode(const std::string& name);

    // Unbinds vivid from its driver (the nodes of all its instances go away even while open, as an
    // unplugged camera's do) and binds it again. vivid makes one platform device, vivid.0, for all
    // of its instances.
    static bool UnbindVivid();
    static bool BindVivid();
    // The capture nodes of vivid's instances, in their order.
    static std::vector<std::string> VividNodes();

    // Runs a shell command; its standard output with the last line break removed, and whether it
    // exited with 0.
    static bool Run(const std::string& command, std::string* output = nullptr);
};

}  // namespace orvane::test
