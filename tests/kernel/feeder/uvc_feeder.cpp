#include "uvc_feeder.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "test_pattern.h"

namespace orvane::rig {
namespace {

constexpr int kBufferCount = 4;
constexpr uint32_t kClockFrequency = 48000000;
// The largest probe/commit structure (UVC 1.5); older hosts ask for the first 26 or 34 bytes of it.
constexpr size_t kProbeLength = 48;

int Xioctl(int fd, unsigned long request, void* arg) {
    int result;
    do {
        result = ioctl(fd, request, arg);
    } while (result == -1 && errno == EINTR);
    return result;
}

void Log(const char* format, auto... args) {
    std::fprintf(stderr, "feeder: ");
    std::fprintf(stderr, format, args...);
    std::fprintf(stderr, "\n");
}

size_t FrameBytes(uint32_t pixelFormat, int width, int height) {
    // The gadget sizes an MJPG buffer by the frame's largest size, which the rig sets to this too.
    (void)pixelFormat;
    return static_cast<size_t>(width) * height * 2;
}

}  // namespace

UvcFeeder::UvcFeeder(FeederOptions options) : options(std::move(options)) {
    probe = Defaults();
    commit = probe;
}

UvcFeeder::~UvcFeeder() {
    StopStreaming();
    if (timerFd >= 0) close(timerFd);
    if (fd >= 0) close(fd);
}

bool UvcFeeder::PrepareFrames() {
    for (const FeederFormat& format : options.formats) {
        auto& perSize = frames.emplace_back();
        for (const auto& [width, height] : format.sizes) {
            auto& phases = perSize.emplace_back();
            for (int phase = 0; phase < TestPattern::kPhases; ++phase) {
                phases.push_back(format.pixelFormat == V4L2_PIX_FMT_MJPEG
                                     ? TestPattern::CachedJpeg(options.patternCache, width, height, phase)
                                     : TestPattern::Yuyv(width, height, phase));
                if (phases.back().empty()) {
                    Log("cannot make the %dx%d test picture", width, height);
                    return false;
                }
            }
        }
    }
    return !frames.empty();
}

int UvcFeeder::Run(const std::function<void()>& connected) {
    if (!PrepareFrames()) return 1;
    fd = open(options.node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Log("cannot open %s: %s", options.node.c_str(), std::strerror(errno));
        return 1;
    }
    timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timerFd < 0) return 1;
    // Subscribing to the setup requests last: that is what lets the gadget connect to the host.
    for (uint32_t type : {UVC_EVENT_CONNECT, UVC_EVENT_DISCONNECT, UVC_EVENT_STREAMON, UVC_EVENT_STREAMOFF,
                          UVC_EVENT_DATA, UVC_EVENT_SETUP}) {
        v4l2_event_subscription subscription{};
        subscription.type = type;
        if (Xioctl(fd, VIDIOC_SUBSCRIBE_EVENT, &subscription) < 0) {
            Log("cannot subscribe to event %#x: %s", type, std::strerror(errno));
            return 1;
        }
    }
    Log("serving %s", options.node.c_str());
    if (connected) connected();

    bool outputBroken = false;
    for (;;) {
        pollfd fds[2] = {{fd, static_cast<short>(POLLPRI | (streaming && !outputBroken ? POLLOUT : 0)), 0},
                         {timerFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        if (fds[0].revents & POLLHUP) break;  // the gadget was unbound: the node is gone
        if (fds[0].revents & POLLPRI) {
            v4l2_event event{};
            while (Xioctl(fd, VIDIOC_DQEVENT, &event) == 0) {
                HandleEvent(event);
                if (event.type == UVC_EVENT_STREAMON) outputBroken = false;
            }
            if (errno == ENODEV) break;
        }
        if (fds[0].revents & POLLOUT) ReclaimBuffers();
        // An output queue in error reports POLLERR until it is stopped; wait for the events then.
        if ((fds[0].revents & POLLERR) && streaming) outputBroken = true;
        if (fds[1].revents & POLLIN) {
            uint64_t expirations = 0;
            if (read(timerFd, &expirations, sizeof expirations) == sizeof expirations && streaming) QueueFrame();
        }
    }
    Log("%s is gone after %llu frames", options.node.c_str(), static_cast<unsigned long long>(sent));
    return 0;
}

void UvcFeeder::HandleEvent(const v4l2_event& event) {
    const auto* uvc = reinterpret_cast<const uvc_event*>(&event.u.data);
    switch (event.type) {
        case UVC_EVENT_CONNECT: Log("connected"); break;
        case UVC_EVENT_DISCONNECT:
            Log("disconnected");
            StopStreaming();
            break;
        case UVC_EVENT_SETUP: HandleSetup(uvc->req); break;
        case UVC_EVENT_DATA: HandleData(uvc->data); break;
        case UVC_EVENT_STREAMON:
            if (!StartStreaming()) Log("cannot start streaming: %s", std::strerror(errno));
            break;
        case UVC_EVENT_STREAMOFF: StopStreaming(); break;
        default: break;
    }
}

void UvcFeeder::Respond(const void* data, int length) {
    uvc_request_data response{};
    response.length = length;
    if (data != nullptr && length > 0) {
        std::memcpy(response.data, data, std::min<size_t>(static_cast<size_t>(length), sizeof response.data));
    }
    if (Xioctl(fd, UVCIOC_SEND_RESPONSE, &response) < 0) Log("response failed: %s", std::strerror(errno));
}

void UvcFeeder::Stall(uint8_t errorCode) {
    controls.SetErrorCode(errorCode);
    Respond(nullptr, -EL2HLT);
}

void UvcFeeder::HandleSetup(const usb_ctrlrequest& request) {
    setPending = false;
    if ((request.bRequestType & USB_TYPE_MASK) != USB_TYPE_CLASS ||
        (request.bRequestType & USB_RECIP_MASK) != USB_RECIP_INTERFACE) {
        Stall(0x07);
        return;
    }
    const uint8_t interface = request.wIndex & 0xff;
    if (interface == options.streamingInterface) {
        HandleStreamingRequest(request);
        return;
    }
    const uint8_t entity = request.wIndex >> 8;
    const uint8_t selector = request.wValue >> 8;
    if (request.bRequest == UVC_SET_CUR) {
        if (!controls.CanSet(entity, selector, request.wLength)) {
            Respond(nullptr, -EL2HLT);
            return;
        }
        pendingSet = request;
        setPending = true;
        Respond(nullptr, request.wLength);
        return;
    }
    std::vector<uint8_t> answer;
    if (!controls.Get(entity, selector, request.bRequest, request.wLength, answer)) {
        Respond(nullptr, -EL2HLT);
        return;
    }
    Respond(answer.data(), static_cast<int>(answer.size()));
}

void UvcFeeder::HandleStreamingRequest(const usb_ctrlrequest& request) {
    const uint8_t selector = request.wValue >> 8;
    if (selector != UVC_VS_PROBE_CONTROL && selector != UVC_VS_COMMIT_CONTROL) {
        Stall(0x06);
        return;
    }
    const int length = std::min<int>(request.wLength, kProbeLength);
    uint8_t answer[kProbeLength] = {};
    uvc_streaming_control control{};
    switch (request.bRequest) {
        case UVC_SET_CUR:
            pendingSet = request;
            setPending = true;
            Respond(nullptr, request.wLength);
            return;
        case UVC_GET_CUR: control = selector == UVC_VS_PROBE_CONTROL ? probe : commit; break;
        case UVC_GET_MIN:
        case UVC_GET_MAX:
        case UVC_GET_DEF: control = Defaults(); break;
        case UVC_GET_RES: break;
        case UVC_GET_LEN: {
            const uint16_t size = kProbeLength;
            Respond(&size, std::min<int>(request.wLength, 2));
            return;
        }
        case UVC_GET_INFO: {
            const uint8_t info = 0x03;
            Respond(&info, std::min<int>(request.wLength, 1));
            return;
        }
        default: Stall(0x07); return;
    }
    std::memcpy(answer, &control, sizeof control);
    Respond(answer, length);
}

void UvcFeeder::HandleData(const uvc_request_data& data) {
    if (!setPending) return;
    setPending = false;
    const usb_ctrlrequest& request = pendingSet;
    const uint8_t selector = request.wValue >> 8;
    if ((request.wIndex & 0xff) == options.streamingInterface) {
        uvc_streaming_control control{};
        std::memcpy(&control, data.data, std::min<size_t>(std::max(data.length, 0), sizeof control));
        Negotiate(control);
        if (selector == UVC_VS_PROBE_CONTROL) {
            probe = control;
        } else {
            commit = control;
            Log("commit: format %u frame %u", control.bFormatIndex, control.bFrameIndex);
        }
        return;
    }
    if (!controls.Set(request.wIndex >> 8, selector, data.data, data.length)) {
        Log("control %u/%u: value refused", request.wIndex >> 8, selector);
    }
}

uvc_streaming_control UvcFeeder::Defaults() const {
    uvc_streaming_control control{};
    control.bFormatIndex = 1;
    control.bFrameIndex = 1;
    Negotiate(control);
    return control;
}

void UvcFeeder::Negotiate(uvc_streaming_control& control) const {
    const int formatCount = static_cast<int>(options.formats.size());
    if (control.bFormatIndex < 1 || control.bFormatIndex > formatCount) control.bFormatIndex = 1;
    const FeederFormat& format = options.formats[control.bFormatIndex - 1];
    if (control.bFrameIndex < 1 || control.bFrameIndex > format.sizes.size()) control.bFrameIndex = 1;
    const auto [width, height] = format.sizes[control.bFrameIndex - 1];
    control.bmHint = 1;
    control.dwFrameInterval = 10000000 / options.framesPerSecond;
    control.wKeyFrameRate = 0;
    control.wPFrameRate = 0;
    control.wCompQuality = 0;
    control.wCompWindowSize = 0;
    control.wDelay = 0;
    control.dwMaxVideoFrameSize = static_cast<uint32_t>(FrameBytes(format.pixelFormat, width, height));
    control.dwMaxPayloadTransferSize = options.maxPayloadTransferSize;
    control.dwClockFrequency = kClockFrequency;
    control.bmFramingInfo = 3;
    control.bPreferedVersion = 1;
    control.bMinVersion = 1;
    control.bMaxVersion = 1;
}

const std::vector<std::vector<uint8_t>>& UvcFeeder::FramesOf(int formatIndex, int frameIndex) const {
    return frames[formatIndex - 1][frameIndex - 1];
}

bool UvcFeeder::StartStreaming() {
    StopStreaming();
    const FeederFormat& format = options.formats[commit.bFormatIndex - 1];
    const auto [width, height] = format.sizes[commit.bFrameIndex - 1];
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    fmt.fmt.pix.width = width;
    fmt.fmt.pix.height = height;
    fmt.fmt.pix.pixelformat = format.pixelFormat;
    fmt.fmt.pix.field = V4L2_FIELD_NONE;
    fmt.fmt.pix.sizeimage = static_cast<uint32_t>(FrameBytes(format.pixelFormat, width, height));
    if (Xioctl(fd, VIDIOC_S_FMT, &fmt) < 0) return false;

    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    request.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(fd, VIDIOC_REQBUFS, &request) < 0) return false;
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (Xioctl(fd, VIDIOC_QUERYBUF, &buffer) < 0) return false;
        void* start = mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, buffer.m.offset);
        if (start == MAP_FAILED) return false;
        buffers.push_back({start, buffer.length});
        freeBuffers.push_back(i);
    }
    int type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    if (Xioctl(fd, VIDIOC_STREAMON, &type) < 0) return false;
    streaming = true;
    Log("streaming %c%c%c%c %dx%d at %d fps", format.pixelFormat & 0xff, (format.pixelFormat >> 8) & 0xff,
        (format.pixelFormat >> 16) & 0xff, format.pixelFormat >> 24, width, height, options.framesPerSecond);
    QueueFrame();
    const long period = 1000000000L / (options.pace > 0 ? options.pace : options.framesPerSecond);
    itimerspec timer{{0, period}, {0, period}};
    timerfd_settime(timerFd, 0, &timer, nullptr);
    return true;
}

void UvcFeeder::StopStreaming() {
    if (fd < 0 || buffers.empty()) return;
    const itimerspec off{};
    if (timerFd >= 0) timerfd_settime(timerFd, 0, &off, nullptr);
    int type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    if (streaming) Xioctl(fd, VIDIOC_STREAMOFF, &type);
    for (const Buffer& buffer : buffers) munmap(buffer.start, buffer.length);
    buffers.clear();
    freeBuffers.clear();
    v4l2_requestbuffers request{};
    request.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    request.memory = V4L2_MEMORY_MMAP;
    Xioctl(fd, VIDIOC_REQBUFS, &request);
    if (streaming) Log("stream stopped after %llu frames", static_cast<unsigned long long>(sent));
    streaming = false;
}

void UvcFeeder::ReclaimBuffers() {
    for (;;) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (Xioctl(fd, VIDIOC_DQBUF, &buffer) < 0) return;
        freeBuffers.push_back(buffer.index);
    }
}

void UvcFeeder::QueueFrame() {
    ReclaimBuffers();
    if (freeBuffers.empty()) return;  // the host takes frames slower than they come: skip this one
    const uint32_t index = freeBuffers.back();
    freeBuffers.pop_back();
    const auto& phases = FramesOf(commit.bFormatIndex, commit.bFrameIndex);
    const std::vector<uint8_t>& payload = phases[sent % phases.size()];
    const size_t bytes = std::min(payload.size(), buffers[index].length);
    std::memcpy(buffers[index].start, payload.data(), bytes);
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = index;
    buffer.bytesused = static_cast<uint32_t>(bytes);
    if (Xioctl(fd, VIDIOC_QBUF, &buffer) < 0) {
        freeBuffers.push_back(index);
        return;
    }
    ++sent;
}

}  // namespace orvane::rig
