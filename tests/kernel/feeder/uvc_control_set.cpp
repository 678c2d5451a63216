#include "uvc_control_set.h"

#include <linux/usb/video.h>

#include <algorithm>

namespace orvane::rig {
namespace {

// UVC request error codes.
constexpr uint8_t kNoError = 0x00;
constexpr uint8_t kWrongState = 0x02;
constexpr uint8_t kInvalidControl = 0x06;
constexpr uint8_t kInvalidRequest = 0x07;

// GET_INFO: GET and SET supported.
constexpr uint8_t kInfoGetSet = 0x03;

// Auto-exposure mode bitmap values.
constexpr int32_t kExposureManual = 0x01;
constexpr int32_t kExposureAperturePriority = 0x08;

void PutLittleEndian(std::vector<uint8_t>& out, int32_t value, int size) {
    for (int i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i)));
}

}  // namespace

UvcControlSet::UvcControlSet() {
    controls = {
        // The mode is a bitmap; GET_RES names the modes the camera offers.
        {kCameraTerminal, UVC_CT_AE_MODE_CONTROL, 1, false, kExposureManual, kExposureAperturePriority,
         kExposureManual | kExposureAperturePriority, kExposureAperturePriority, kExposureAperturePriority},
        {kCameraTerminal, UVC_CT_EXPOSURE_TIME_ABSOLUTE_CONTROL, 4, false, 3, 2047, 1, 156, 156,
         UVC_CT_AE_MODE_CONTROL, kExposureManual},
        {kCameraTerminal, UVC_CT_FOCUS_ABSOLUTE_CONTROL, 2, false, 0, 250, 5, 0, 0, UVC_CT_FOCUS_AUTO_CONTROL,
         0},
        {kCameraTerminal, UVC_CT_FOCUS_AUTO_CONTROL, 1, false, 0, 1, 1, 1, 1},
        {kProcessingUnit, UVC_PU_BRIGHTNESS_CONTROL, 2, true, -64, 64, 1, 0, 0},
        {kProcessingUnit, UVC_PU_WHITE_BALANCE_TEMPERATURE_CONTROL, 2, false, 2800, 6500, 10, 4600, 4600,
         UVC_PU_WHITE_BALANCE_TEMPERATURE_AUTO_CONTROL, 0},
        {kProcessingUnit, UVC_PU_WHITE_BALANCE_TEMPERATURE_AUTO_CONTROL, 1, false, 0, 1, 1, 1, 1},
    };
}

UvcControlSet::Control* UvcControlSet::Find(uint8_t entity, uint8_t selector) {
    auto it = std::find_if(controls.begin(), controls.end(),
                           [&](const Control& c) { return c.entity == entity && c.selector == selector; });
    return it == controls.end() ? nullptr : &*it;
}

const UvcControlSet::Control* UvcControlSet::Find(uint8_t entity, uint8_t selector) const {
    return const_cast<UvcControlSet*>(this)->Find(entity, selector);
}

bool UvcControlSet::IsManual(const Control& control) const {
    if (control.masterSelector == 0) return true;
    const Control* master = Find(control.entity, control.masterSelector);
    return master == nullptr || master->value == control.masterManual;
}

int32_t UvcControlSet::Value(uint8_t entity, uint8_t selector) const {
    const Control* control = Find(entity, selector);
    return control ? control->value : 0;
}

bool UvcControlSet::Get(uint8_t entity, uint8_t selector, uint8_t request, uint16_t length,
                        std::vector<uint8_t>& answer) {
    answer.clear();
    if (entity == 0) {
        if (selector != UVC_VC_REQUEST_ERROR_CODE_CONTROL) {
            errorCode = kInvalidControl;
            return false;
        }
        if (request == UVC_GET_INFO) {
            answer.push_back(0x01);
        } else {
            answer.push_back(errorCode);
        }
        answer.resize(std::min<size_t>(answer.size(), length));
        return true;
    }
    Control* control = Find(entity, selector);
    if (control == nullptr) {
        errorCode = kInvalidControl;
        return false;
    }
    switch (request) {
        case UVC_GET_CUR: PutLittleEndian(answer, control->value, control->size); break;
        case UVC_GET_MIN: PutLittleEndian(answer, control->minimum, control->size); break;
        case UVC_GET_MAX: PutLittleEndian(answer, control->maximum, control->size); break;
        case UVC_GET_RES: PutLittleEndian(answer, control->resolution, control->size); break;
        case UVC_GET_DEF: PutLittleEndian(answer, control->defaultValue, control->size); break;
        case UVC_GET_INFO: answer.push_back(kInfoGetSet); break;
        case UVC_GET_LEN: PutLittleEndian(answer, control->size, 2); break;
        default: errorCode = kInvalidRequest; return false;
    }
    answer.resize(std::min<size_t>(answer.size(), length));
    errorCode = kNoError;
    return true;
}

bool UvcControlSet::CanSet(uint8_t entity, uint8_t selector, uint16_t length) {
    const Control* control = Find(entity, selector);
    if (control == nullptr) {
        errorCode = kInvalidControl;
        return false;
    }
    if (length != control->size) {
        errorCode = kInvalidRequest;
        return false;
    }
    // The data stage cannot be refused any more once it arrived: a camera turns the request down here.
    if (!IsManual(*control)) {
        errorCode = kWrongState;
        return false;
    }
    errorCode = kNoError;
    return true;
}

bool UvcControlSet::Set(uint8_t entity, uint8_t selector, const uint8_t* data, int length) {
    Control* control = Find(entity, selector);
    if (control == nullptr || length < control->size) {
        errorCode = kInvalidRequest;
        return false;
    }
    uint32_t raw = 0;
    for (int i = 0; i < control->size; ++i) raw |= uint32_t{data[i]} << (8 * i);
    int32_t value = static_cast<int32_t>(raw);
    if (control->isSigned && control->size < 4) {
        const int shift = 32 - 8 * control->size;
        value = static_cast<int32_t>(raw << shift) >> shift;
    }
    // A value out of range is brought into it, as cameras do (the request has succeeded already).
    const bool bitmap = control->entity == kCameraTerminal && control->selector == UVC_CT_AE_MODE_CONTROL;
    if (bitmap) {
        if ((value & control->resolution) != value || __builtin_popcount(static_cast<uint32_t>(value)) != 1) {
            return false;
        }
    } else {
        value = std::clamp(value, control->minimum, control->maximum);
    }
    control->value = value;
    errorCode = kNoError;
    return true;
}

}  // namespace orvane::rig
