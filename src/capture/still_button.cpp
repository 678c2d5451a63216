#include "capture/still_button.h"

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/thread_name.h"
#include "capture/frame_sink.h"

namespace orvane {

namespace {

void Signal(int eventFd) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(eventFd, &one, sizeof(one));
}

void Drain(int eventFd) {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t got = read(eventFd, &count, sizeof(count));
}

bool IsEventNode(const std::string& node) { return node.find("/event") != std::string::npos; }

}  // namespace

bool CStillButton::HasButtonNode(IDeviceFile& device, const std::string& usbDevice) {
    if (usbDevice.empty()) return false;
    for (const DeviceNode& node : device.ListNodes("input")) {
        if (node.usbDevice == usbDevice && !node.node.empty() && IsEventNode(node.node)) return true;
    }
    return false;
}

CStillButton::CStillButton(IDeviceFile& device_, IFrameSink* sink_) : device(device_), sink(sink_) {}

CStillButton::~CStillButton() { Stop(); }

int CStillButton::OpenButton(const std::string& usbDevice) {
    if (usbDevice.empty()) return -1;
    for (const DeviceNode& node : device.ListNodes("input")) {
        if (node.usbDevice != usbDevice || node.node.empty() || !IsEventNode(node.node)) continue;
        const int fd = device.Open(node.node, O_RDONLY | O_NONBLOCK);
        if (fd < 0) continue;  // usually EACCES: the button is not ours to read
        // A composite device may carry other input nodes; the button is the one with KEY_CAMERA.
        // A node that cannot say which keys it has is taken as it is.
        uint8_t keys[KEY_MAX / 8 + 1] = {};
        if (device.Ioctl(fd, EVIOCGBIT(EV_KEY, sizeof(keys)), keys) < 0 ||
            (keys[KEY_CAMERA / 8] & (1u << (KEY_CAMERA % 8))) != 0) {
            return fd;
        }
        device.Close(fd);
    }
    return -1;
}

bool CStillButton::Start(const std::string& usbDevice, int32_t width, int32_t height) {
    Stop();
    if (sink == nullptr) return false;
    inputFd = OpenButton(usbDevice);
    if (inputFd < 0) return false;
    stopEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    frameEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopEvent < 0 || frameEvent < 0) {
        CloseAll();
        return false;
    }
    sink->SetFrameSize(width, height);
    pressed.store(false);
    presses.store(0);
    offeredReady = false;
    try {
        thread = std::thread(&CStillButton::Run, this);
    } catch (const std::system_error&) {
        CloseAll();
        return false;
    }
    return true;
}

void CStillButton::Stop() {
    if (thread.joinable()) {
        Signal(stopEvent);
        thread.join();
    }
    CloseAll();
    pressed.store(false);
}

void CStillButton::CloseAll() {
    if (inputFd >= 0) device.Close(inputFd);
    if (stopEvent >= 0) close(stopEvent);
    if (frameEvent >= 0) close(frameEvent);
    inputFd = stopEvent = frameEvent = -1;
}

void CStillButton::OfferFrame(const uint8_t* bits, int32_t length) {
    if (bits == nullptr || length <= 0) return;
    if (!pressed.exchange(false, std::memory_order_acq_rel)) return;
    {
        std::lock_guard<std::mutex> guard(frameLock);
        // The frame goes only when the still thread is done with the last one; the press then
        // waits for the next frame.
        if (offeredReady) {
            pressed.store(true, std::memory_order_release);
            return;
        }
        offered.assign(bits, bits + length);
        offeredReady = true;
    }
    Signal(frameEvent);
}

void CStillButton::Run() {
    NameThisThread("orv-still");
    std::vector<uint8_t> photo;
    pollfd fds[3] = {{stopEvent, POLLIN, 0}, {frameEvent, POLLIN, 0}, {inputFd, POLLIN, 0}};
    for (;;) {
        fds[0].revents = fds[1].revents = fds[2].revents = 0;
        const int ready = device.Poll(fds, 3, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) return;

        if ((fds[2].revents & POLLIN) != 0) {
            input_event events[16];
            const ssize_t got = device.Read(fds[2].fd, events, sizeof(events));
            if (got > 0) {
                for (size_t i = 0; i < static_cast<size_t>(got) / sizeof(input_event); ++i) {
                    if (events[i].type == EV_KEY && events[i].code == KEY_CAMERA && events[i].value == 1) {
                        presses.fetch_add(1, std::memory_order_relaxed);
                        pressed.store(true, std::memory_order_release);
                    }
                }
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                fds[2].fd = -1;  // the button is gone (unplugged); the preview ends by itself
            }
        } else if ((fds[2].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            fds[2].fd = -1;
        }

        if ((fds[1].revents & POLLIN) != 0) {
            Drain(frameEvent);
            {
                std::lock_guard<std::mutex> guard(frameLock);
                if (!offeredReady) continue;
                photo.swap(offered);
            }
            sink->BufferCB(0.0, photo.data(), static_cast<int32_t>(photo.size()));
            std::lock_guard<std::mutex> guard(frameLock);
            offeredReady = false;
        }
    }
}

}  // namespace orvane
