#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/device_file.h"
#include "config/registry.h"

namespace orvane {

// One entry of a menu control: its name, or for an integer menu its number.
struct CameraControlItem {
    uint32_t index = 0;
    std::string name;
    int64_t value = 0;
};

// One control of an open camera as the camera controls dialog shows it.
struct CameraControl {
    uint32_t id = 0;
    uint32_t type = 0;  // V4L2_CTRL_TYPE_...
    std::string name;
    int64_t minimum = 0;
    int64_t maximum = 0;
    uint64_t step = 0;
    int64_t defaultValue = 0;
    uint32_t flags = 0;                    // V4L2_CTRL_FLAG_...
    std::vector<CameraControlItem> items;  // menu controls only
    int32_t value = 0;
    bool hasValue = false;  // whether value was read (not for buttons and write-only controls)
};

// The controls of an open camera: list, read, write. A value the user wrote is remembered for the
// camera's identity in the settings hive, key "Software\zentrova\devices\<identity>" (each "\" of
// the identity written as "/"), value "ctrl_<id in hex>", and set again by Apply when that camera's
// preview starts. Interface thread; the fd is the open capture node.
class CCameraControls {
public:
    // hive: where the values are remembered (nullptr: the current user's hive).
    explicit CCameraControls(IDeviceFile& device, HKEY hive = nullptr) : device(device), hive(hive) {}

    // The enabled controls in the device's order, with menu entries and current values. Empty when
    // the device has none or cannot be asked.
    std::vector<CameraControl> List(int fd) const;
    // The current value; false when it cannot be read.
    bool Read(int fd, uint32_t id, int32_t& value) const;
    // Sets the control; when that succeeds and the control holds a setting (IsRemembered), remembers
    // it for `identity` (not when the identity is empty). False when the device refused the value.
    // The device may have changed other controls too (an automatic mode makes its manual values
    // inactive, uvcvideo without saying so through V4L2_CTRL_FLAG_UPDATE): read the list again.
    bool Write(int fd, const std::string& identity, uint32_t id, int32_t value);
    // Sets every remembered control of `identity` that the device offers: the automatic modes first
    // (a camera refuses a manual focus while its automatic focus is on, and the device's order may
    // put the manual value first), then the rest in the device's order. Returns how many were set;
    // values the device refuses are skipped silently.
    int Apply(int fd, const std::string& identity);

    static std::string KeyFor(const std::string& identity);
    static std::string ValueNameFor(uint32_t id);
    // Whether a control of this type holds a value at all (not a button).
    static bool KeepsValue(uint32_t type);
    // Whether a control holds a setting worth remembering and setting again: it keeps a value that
    // can be read and written, and it is not a motion (relative moves and speeds: zoom continuous,
    // pan/tilt speed, focus relative), which would set the camera moving when replayed.
    static bool IsRemembered(uint32_t id, uint32_t type, uint32_t flags);
    // Whether the control switches an automatic mode that governs other controls.
    static bool IsAutomaticMode(uint32_t id, uint32_t flags);

private:
    IDeviceFile& device;
    HKEY hive;
};

}  // namespace orvane
