#include "capture/camera_controls.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orvane {

namespace {

bool Readable(uint32_t type, uint32_t flags) {
    if ((flags & V4L2_CTRL_FLAG_WRITE_ONLY) != 0) return false;
    return type == V4L2_CTRL_TYPE_INTEGER || type == V4L2_CTRL_TYPE_BOOLEAN || type == V4L2_CTRL_TYPE_MENU ||
           type == V4L2_CTRL_TYPE_INTEGER_MENU || type == V4L2_CTRL_TYPE_BITMASK;
}

std::string NameText(const char* name, size_t size) { return std::string(name, strnlen(name, size)); }

// Controls that move the camera rather than hold a setting.
bool IsMotion(uint32_t id) {
    switch (id) {
        case V4L2_CID_FOCUS_RELATIVE:
        case V4L2_CID_ZOOM_RELATIVE:
        case V4L2_CID_ZOOM_CONTINUOUS:
        case V4L2_CID_PAN_RELATIVE:
        case V4L2_CID_TILT_RELATIVE:
        case V4L2_CID_PAN_SPEED:
        case V4L2_CID_TILT_SPEED:
        case V4L2_CID_IRIS_RELATIVE:
        case V4L2_CID_PAN_RESET:
        case V4L2_CID_TILT_RESET:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool CCameraControls::KeepsValue(uint32_t type) {
    return type == V4L2_CTRL_TYPE_INTEGER || type == V4L2_CTRL_TYPE_BOOLEAN || type == V4L2_CTRL_TYPE_MENU ||
           type == V4L2_CTRL_TYPE_INTEGER_MENU || type == V4L2_CTRL_TYPE_BITMASK;
}

bool CCameraControls::IsRemembered(uint32_t id, uint32_t type, uint32_t flags) {
    // Volatile is no reason: uvcvideo marks the manual values an automatic mode changes so.
    constexpr uint32_t kNotSettings =
        V4L2_CTRL_FLAG_WRITE_ONLY | V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_EXECUTE_ON_WRITE;
    return KeepsValue(type) && (flags & kNotSettings) == 0 && !IsMotion(id);
}

bool CCameraControls::IsAutomaticMode(uint32_t id, uint32_t flags) {
    switch (id) {
        case V4L2_CID_EXPOSURE_AUTO:
        case V4L2_CID_AUTO_WHITE_BALANCE:
        case V4L2_CID_FOCUS_AUTO:
        case V4L2_CID_HUE_AUTO:
        case V4L2_CID_AUTOGAIN:
        case V4L2_CID_AUTOBRIGHTNESS:
        case V4L2_CID_AUTO_N_PRESET_WHITE_BALANCE:
        case V4L2_CID_ISO_SENSITIVITY_AUTO:
            return true;
        default:
            // Drivers that say so mark a control whose change alters others.
            return (flags & V4L2_CTRL_FLAG_UPDATE) != 0;
    }
}

std::string CCameraControls::KeyFor(const std::string& identity) {
    std::string name = identity;
    for (char& c : name) {
        if (c == '\\') c = '/';
    }
    return "Software\\zentrova\\devices\\" + name;
}

std::string CCameraControls::ValueNameFor(uint32_t id) {
    char name[24];
    std::snprintf(name, sizeof(name), "ctrl_%x", id);
    return name;
}

std::vector<CameraControl> CCameraControls::List(int fd) const {
    std::vector<CameraControl> controls;
    v4l2_query_ext_ctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    // The walk ends when the driver answers EINVAL after the last control; the bound only guards
    // against a driver that never does.
    for (int guard = 0; guard < 4096 && device.Ioctl(fd, VIDIOC_QUERY_EXT_CTRL, &query) == 0; ++guard) {
        const uint32_t id = query.id;
        if ((query.flags & V4L2_CTRL_FLAG_DISABLED) == 0 && query.type != V4L2_CTRL_TYPE_CTRL_CLASS) {
            CameraControl control;
            control.id = id;
            control.type = query.type;
            control.name = NameText(query.name, sizeof(query.name));
            control.minimum = query.minimum;
            control.maximum = query.maximum;
            control.step = query.step;
            control.defaultValue = query.default_value;
            control.flags = query.flags;
            if ((query.type == V4L2_CTRL_TYPE_MENU || query.type == V4L2_CTRL_TYPE_INTEGER_MENU) &&
                query.minimum >= 0 && query.maximum >= query.minimum &&
                query.maximum - query.minimum < 1024) {
                for (int64_t index = query.minimum; index <= query.maximum; ++index) {
                    v4l2_querymenu item{};
                    item.id = id;
                    item.index = static_cast<uint32_t>(index);
                    if (device.Ioctl(fd, VIDIOC_QUERYMENU, &item) != 0) continue;  // a gap in the menu
                    CameraControlItem entry;
                    entry.index = item.index;
                    if (query.type == V4L2_CTRL_TYPE_MENU) {
                        entry.name = NameText(reinterpret_cast<const char*>(item.name), sizeof(item.name));
                    } else {
                        entry.value = item.value;
                        entry.name = std::to_string(item.value);
                    }
                    control.items.push_back(std::move(entry));
                }
            }
            if (Readable(query.type, query.flags)) control.hasValue = Read(fd, id, control.value);
            controls.push_back(std::move(control));
        }
        query = v4l2_query_ext_ctrl{};
        query.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return controls;
}

bool CCameraControls::Read(int fd, uint32_t id, int32_t& value) const {
    v4l2_control control{};
    control.id = id;
    if (device.Ioctl(fd, VIDIOC_G_CTRL, &control) != 0) return false;
    value = control.value;
    return true;
}

bool CCameraControls::Write(int fd, const std::string& identity, uint32_t id, int32_t value) {
    v4l2_query_ext_ctrl query{};
    query.id = id;
    const bool known = device.Ioctl(fd, VIDIOC_QUERY_EXT_CTRL, &query) == 0;

    v4l2_control control{};
    control.id = id;
    control.value = value;
    if (device.Ioctl(fd, VIDIOC_S_CTRL, &control) != 0) return false;

    if (identity.empty() || !known || !IsRemembered(id, query.type, query.flags & ~V4L2_CTRL_FLAG_INACTIVE)) {
        return true;
    }
    CRegistry key(hive);
    if (key.Create(KeyFor(identity))) key.WriteDword(ValueNameFor(id), static_cast<uint32_t>(control.value));
    return true;
}

int CCameraControls::Apply(int fd, const std::string& identity) {
    if (identity.empty()) return 0;
    CRegistry key(hive);
    if (!key.Open(KeyFor(identity))) return 0;
    std::vector<CameraControl> listed = List(fd);
    std::stable_partition(listed.begin(), listed.end(), [](const CameraControl& control) {
        return IsAutomaticMode(control.id, control.flags);
    });
    int applied = 0;
    for (const CameraControl& control : listed) {
        if (!IsRemembered(control.id, control.type, control.flags)) continue;
        uint32_t stored = 0;
        if (!key.ReadDword(ValueNameFor(control.id), stored)) continue;
        v4l2_control value{};
        value.id = control.id;
        value.value = static_cast<int32_t>(stored);
        if (device.Ioctl(fd, VIDIOC_S_CTRL, &value) == 0) ++applied;
    }
    return applied;
}

}  // namespace orvane
