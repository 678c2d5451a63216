#include "simulation/simulated_input_node.h"

#include <linux/input.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "simulation/simulated_camera_impl.h"
#include "simulation/simulated_kernel_text.h"

namespace orvane {

int SimulatedInputNode::Ioctl(unsigned long request, void* arg) const {
    if (request == EVIOCGVERSION) {
        *static_cast<int*>(arg) = EV_VERSION;
        return 0;
    }
    if (request == EVIOCGID) {
        auto& id = *static_cast<input_id*>(arg);
        id.bustype = BUS_USB;
        id.vendor = static_cast<uint16_t>(std::strtoul(camera.definition.vendorId.c_str(), nullptr, 16));
        id.product = static_cast<uint16_t>(std::strtoul(camera.definition.modelId.c_str(), nullptr, 16));
        id.version = 0x0100;
        return 0;
    }
    if (_IOC_TYPE(request) != 'E' || _IOC_DIR(request) != _IOC_READ) return -ENOTTY;
    const size_t size = _IOC_SIZE(request);
    auto* out = static_cast<uint8_t*>(arg);
    const unsigned nr = _IOC_NR(request);
    if (nr == _IOC_NR(EVIOCGNAME(0)) || nr == _IOC_NR(EVIOCGPHYS(0))) {
        const std::string text =
            nr == _IOC_NR(EVIOCGNAME(0)) ? camera.definition.card : camera.definition.busInfo + "/button";
        if (size == 0) return 0;
        const size_t length = std::min(text.size() + 1, size);
        std::memcpy(out, text.c_str(), length);
        return static_cast<int>(length);
    }
    if (nr == _IOC_NR(EVIOCGBIT(0, 0)) || nr == _IOC_NR(EVIOCGBIT(EV_KEY, 0))) {
        std::memset(out, 0, size);
        auto setBit = [&](unsigned bit) {
            if (bit / 8 < size) out[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
        };
        if (nr == _IOC_NR(EVIOCGBIT(0, 0))) {
            setBit(EV_SYN);
            setBit(EV_KEY);
            return static_cast<int>(std::min<size_t>(size, EV_MAX / 8 + 1));
        }
        setBit(KEY_CAMERA);
        return static_cast<int>(std::min<size_t>(size, KEY_MAX / 8 + 1));
    }
    return -ENOTTY;
}

ssize_t SimulatedInputNode::Read(SimulatedOpenFile& file, void* buffer, size_t size) const {
    std::unique_lock state(camera.stateLock);
    if (file.closed) return -EBADF;
    if (!camera.Alive(file)) return -ENODEV;
    if (file.kind != NodeKind::Input) return -EINVAL;
    if (size < sizeof(input_event)) return -EINVAL;
    if (file.events.empty()) {
        if (file.nonBlocking) return -EAGAIN;
        camera.stateChanged.wait(state,
                                 [&] { return !file.events.empty() || !camera.Alive(file) || file.closed; });
        if (file.closed) return -EBADF;
        if (!camera.Alive(file)) return -ENODEV;
    }
    size_t count = 0;
    auto* out = static_cast<input_event*>(buffer);
    while (!file.events.empty() && (count + 1) * sizeof(input_event) <= size) {
        out[count++] = file.events.front();
        file.events.pop_front();
    }
    camera.Changed();
    return static_cast<ssize_t>(count * sizeof(input_event));
}

void SimulatedInputNode::PressButton() const {
    std::lock_guard state(camera.stateLock);
    if (!camera.plugged) return;
    const timeval now = NowTimeval(CLOCK_REALTIME);
    auto event = [&](uint16_t type, uint16_t code, int32_t value) {
        input_event e{};
        e.input_event_sec = now.tv_sec;
        e.input_event_usec = now.tv_usec;
        e.type = type;
        e.code = code;
        e.value = value;
        return e;
    };
    for (const auto& file : camera.files) {
        if (file->kind != NodeKind::Input || !camera.Alive(*file)) continue;
        file->events.push_back(event(EV_KEY, KEY_CAMERA, 1));
        file->events.push_back(event(EV_SYN, SYN_REPORT, 0));
        file->events.push_back(event(EV_KEY, KEY_CAMERA, 0));
        file->events.push_back(event(EV_SYN, SYN_REPORT, 0));
    }
    camera.Changed();
}

}  // namespace orvane
