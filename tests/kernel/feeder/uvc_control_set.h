#pragma once

#include <cstdint>
#include <vector>

namespace orvane::rig {

// The controls the emulated camera declares in its descriptors, with the values it keeps while it is
// plugged in, answering the class requests of the control interface as a camera does: the camera
// terminal's auto-exposure mode (manual or aperture priority), exposure time, focus (absolute) and
// its automatic mode, the processing unit's brightness, white balance temperature and its automatic
// mode. A manual value is refused while its automatic mode is on ("wrong state"), as real cameras
// do.
class UvcControlSet {
public:
    static constexpr uint8_t kCameraTerminal = 1;
    static constexpr uint8_t kProcessingUnit = 2;

    UvcControlSet();

    // Answers GET_CUR/MIN/MAX/RES/DEF/INFO/LEN for `entity` (0 = the interface itself) and
    // `selector` with at most `length` bytes; false (the request is stalled) for an unknown control.
    bool Get(uint8_t entity, uint8_t selector, uint8_t request, uint16_t length, std::vector<uint8_t>& answer);
    // Whether a SET_CUR of `length` bytes is accepted (its data follows): not for a manual value
    // while its automatic mode is on.
    bool CanSet(uint8_t entity, uint8_t selector, uint16_t length);
    // Takes the data of a SET_CUR (a value out of range is clamped); false when it cannot be used.
    bool Set(uint8_t entity, uint8_t selector, const uint8_t* data, int length);

    // The request error code control's value: why the last request was stalled.
    void SetErrorCode(uint8_t code) { errorCode = code; }

    int32_t Value(uint8_t entity, uint8_t selector) const;

private:
    struct Control {
        uint8_t entity;
        uint8_t selector;
        uint8_t size;  // bytes on the wire
        bool isSigned;
        int32_t minimum, maximum, resolution, defaultValue;
        int32_t value;
        // The control this one needs in manual mode, and the value of that control meaning manual.
        uint8_t masterSelector = 0;
        int32_t masterManual = 0;
    };

    Control* Find(uint8_t entity, uint8_t selector);
    const Control* Find(uint8_t entity, uint8_t selector) const;
    bool IsManual(const Control& control) const;

    std::vector<Control> controls;
    uint8_t errorCode = 0;
};

}  // namespace orvane::rig
