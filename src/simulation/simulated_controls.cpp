#include "simulation/simulated_controls.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "simulation/simulated_kernel_text.h"

namespace orvane {

SimulatedControls::SimulatedControls() : controls(StandardControls()) {}

void SimulatedControls::Reset() { controls = StandardControls(); }

std::vector<SimulatedControls::Control> SimulatedControls::StandardControls() {
    auto integer = [](uint32_t id, const char* name, int32_t minimum, int32_t maximum, int32_t step,
                      int32_t byDefault, uint32_t flags) {
        return Control{id,       V4L2_CTRL_TYPE_INTEGER, name, minimum, maximum, step, byDefault, flags, {},
                       byDefault};
    };
    // As uvcvideo reports them: an automatic mode does not carry V4L2_CTRL_FLAG_UPDATE although it
    // makes the manual values it governs inactive.
    auto boolean = [](uint32_t id, const char* name, int32_t byDefault) {
        return Control{id, V4L2_CTRL_TYPE_BOOLEAN, name, 0, 1, 1, byDefault, 0, {}, byDefault};
    };
    auto menu = [](uint32_t id, const char* name, int32_t byDefault, uint32_t flags,
                   std::vector<const char*> items) {
        const auto maximum = static_cast<int32_t>(items.size()) - 1;
        return Control{id,    V4L2_CTRL_TYPE_MENU, name,     0, maximum, 1, byDefault,
                       flags, std::move(items),    byDefault};
    };
    auto button = [](uint32_t id, const char* name) {
        const uint32_t flags = V4L2_CTRL_FLAG_WRITE_ONLY | V4L2_CTRL_FLAG_EXECUTE_ON_WRITE;
        return Control{id, V4L2_CTRL_TYPE_BUTTON, name, 0, 0, 0, 0, flags, {}, 0};
    };

    // Sorted by id, as the NEXT_CTRL enumeration walks them.
    constexpr uint32_t kSlider = V4L2_CTRL_FLAG_SLIDER;
    return {
        integer(V4L2_CID_BRIGHTNESS, "Brightness", -64, 64, 1, 0, kSlider),
        integer(V4L2_CID_CONTRAST, "Contrast", 0, 64, 1, 32, kSlider),
        integer(V4L2_CID_SATURATION, "Saturation", 0, 128, 1, 64, kSlider),
        boolean(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic", 1),
        menu(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency", 1, 0, {"Disabled", "50 Hz", "60 Hz"}),
        integer(V4L2_CID_WHITE_BALANCE_TEMPERATURE, "White Balance Temperature", 2800, 6500, 10, 4600,
                kSlider),
        menu(V4L2_CID_EXPOSURE_AUTO, "Auto Exposure", 3, 0,
             {nullptr, "Manual Mode", nullptr, "Aperture Priority Mode"}),
        integer(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure Time, Absolute", 3, 2047, 1, 250, 0),
        button(V4L2_CID_PAN_RESET, "Pan, Reset"),
        // Enumerated before the automatic mode that governs it, as uvcvideo lists them.
        integer(V4L2_CID_FOCUS_ABSOLUTE, "Focus, Absolute", 0, 250, 5, 0, kSlider),
        boolean(V4L2_CID_FOCUS_AUTO, "Focus, Automatic Continuous", 1),
        // A speed: the zoom moves while it is not 0.
        integer(V4L2_CID_ZOOM_CONTINUOUS, "Zoom, Continuous", -1, 1, 1, 0, 0),
    };
}

const SimulatedControls::Control* SimulatedControls::FindControl(uint32_t id) const {
    for (const Control& control : controls) {
        if (control.id == id) return &control;
    }
    return nullptr;
}

SimulatedControls::Control* SimulatedControls::FindControl(uint32_t id) {
    return const_cast<Control*>(std::as_const(*this).FindControl(id));
}

uint32_t SimulatedControls::DynamicFlags(const Control& control) const {
    uint32_t flags = control.flags;
    if (control.id == V4L2_CID_WHITE_BALANCE_TEMPERATURE &&
        FindControl(V4L2_CID_AUTO_WHITE_BALANCE)->value != 0) {
        flags |= V4L2_CTRL_FLAG_INACTIVE;
    }
    if (control.id == V4L2_CID_EXPOSURE_ABSOLUTE && FindControl(V4L2_CID_EXPOSURE_AUTO)->value != 1) {
        flags |= V4L2_CTRL_FLAG_INACTIVE;
    }
    if (control.id == V4L2_CID_FOCUS_ABSOLUTE && FindControl(V4L2_CID_FOCUS_AUTO)->value != 0) {
        flags |= V4L2_CTRL_FLAG_INACTIVE;
    }
    return flags;
}

int SimulatedControls::Query(v4l2_query_ext_ctrl& query) const {
    const uint32_t wanted = query.id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
    const Control* found = nullptr;
    if ((query.id & V4L2_CTRL_FLAG_NEXT_CTRL) != 0) {
        for (const Control& control : controls) {
            if (control.id > wanted) {
                found = &control;
                break;
            }
        }
    } else {
        found = FindControl(wanted);
    }
    if (found == nullptr) return -EINVAL;
    std::memset(&query, 0, sizeof query);
    query.id = found->id;
    query.type = found->type;
    CopyText(query.name, sizeof query.name, found->name);
    query.minimum = found->minimum;
    query.maximum = found->maximum;
    query.step = static_cast<uint64_t>(found->step);
    query.default_value = found->defaultValue;
    query.flags = DynamicFlags(*found);
    query.elem_size = sizeof(int32_t);
    query.elems = 1;
    return 0;
}

int SimulatedControls::QueryMenu(v4l2_querymenu& query) const {
    const Control* control = FindControl(query.id);
    if (control == nullptr || control->type != V4L2_CTRL_TYPE_MENU) return -EINVAL;
    if (query.index < static_cast<uint32_t>(control->minimum) ||
        query.index > static_cast<uint32_t>(control->maximum) || query.index >= control->menu.size() ||
        control->menu[query.index] == nullptr) {
        return -EINVAL;
    }
    query.reserved = 0;
    CopyText(reinterpret_cast<char*>(query.name), sizeof query.name, control->menu[query.index]);
    return 0;
}

int SimulatedControls::Access(bool write, v4l2_control& access) {
    Control* control = FindControl(access.id);
    if (control == nullptr) return -EINVAL;
    if (!write) {
        if ((control->flags & V4L2_CTRL_FLAG_WRITE_ONLY) != 0) return -EACCES;
        access.value = control->value;
        return 0;
    }
    if ((control->flags & V4L2_CTRL_FLAG_READ_ONLY) != 0) return -EACCES;
    // The camera turns a manual value down while its automatic mode is on ("wrong state"), which
    // uvcvideo reports as EACCES.
    if ((DynamicFlags(*control) & V4L2_CTRL_FLAG_INACTIVE) != 0) return -EACCES;
    int64_t value = access.value;
    switch (control->type) {
        case V4L2_CTRL_TYPE_BUTTON:
            return 0;
        case V4L2_CTRL_TYPE_BOOLEAN:
            value = value != 0;
            break;
        case V4L2_CTRL_TYPE_MENU:
            if (value < control->minimum || value > control->maximum) return -ERANGE;
            if (static_cast<size_t>(value) >= control->menu.size() || control->menu[value] == nullptr)
                return -EINVAL;
            break;
        default: {
            // Integers are rounded to the step and clamped into the range.
            const int64_t step = std::max(1, control->step);
            value = std::clamp<int64_t>(value, control->minimum, control->maximum);
            value = control->minimum + (value - control->minimum + step / 2) / step * step;
            if (value > control->maximum) value -= step;
            break;
        }
    }
    control->value = static_cast<int32_t>(value);
    access.value = control->value;
    return 0;
}

}  // namespace orvane
