#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <vector>

namespace orvane {

// The control table of a simulated UVC camera, answering as uvcvideo does: brightness, contrast,
// saturation, white balance, power line frequency, exposure, pan reset, focus and zoom, with the
// manual values inactive while their automatic mode is on. Not thread-safe: the camera calls it with
// its state lock held.
class SimulatedControls {
public:
    SimulatedControls();

    // Back to the defaults, as after plugging the camera in.
    void Reset();

    // VIDIOC_QUERY_EXT_CTRL (with V4L2_CTRL_FLAG_NEXT_CTRL), VIDIOC_QUERYMENU, VIDIOC_G_CTRL and
    // VIDIOC_S_CTRL: 0 or a negative errno.
    int Query(v4l2_query_ext_ctrl& query) const;
    int QueryMenu(v4l2_querymenu& query) const;
    int Access(bool write, v4l2_control& access);

private:
    struct Control {
        uint32_t id;
        uint32_t type;
        const char* name;
        int32_t minimum;
        int32_t maximum;
        int32_t step;
        int32_t defaultValue;
        uint32_t flags;
        std::vector<const char*> menu;  // by index; nullptr = an item the camera does not offer
        int32_t value = 0;
    };

    static std::vector<Control> StandardControls();
    const Control* FindControl(uint32_t id) const;
    Control* FindControl(uint32_t id);
    uint32_t DynamicFlags(const Control& control) const;

    std::vector<Control> controls;  // sorted by id
};

}  // namespace orvane
