#include "simulation/simulated_camera.h"

#include <linux/videodev2.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "simulation/simulated_camera_impl.h"
#include "simulation/simulated_hotplug.h"
#include "simulation/simulated_kernel_text.h"
#include "simulation/simulated_replay.h"

namespace orvane {

namespace {

constexpr uint32_t kKernelVersion = (6u << 16) | (1u << 8);
constexpr uint32_t kMetaBufferSize = 10240;

}  // namespace

// --- SimulatedCameraDefinition ------------------------------------------------------------------

std::vector<SimulatedFormat> SimulatedCameraDefinition::StandardFormats() {
    const std::vector<int> normal = {30, 15, 10};
    const std::vector<int> largest = {15, 5};
    return {
        {V4L2_PIX_FMT_YUYV,
         "YUYV 4:2:2",
         {{640, 480, normal},
          {848, 480, normal},
          {1280, 720, normal},
          {1920, 1080, normal},
          {2592, 1944, largest}}},
        {V4L2_PIX_FMT_MJPEG,
         "Motion-JPEG",
         {{1920, 1080, normal}, {640, 480, normal}, {1280, 720, normal}, {2592, 1944, largest}}},
    };
}

SimulatedCameraDefinition SimulatedCameraDefinition::UsbCamera(const std::string& card,
                                                               const std::string& vendorId,
                                                               const std::string& modelId,
                                                               const std::string& serial,
                                                               const std::string& port) {
    SimulatedCameraDefinition definition;
    definition.card = card;
    definition.product = card;
    definition.busInfo = "usb-0000:00:14.0-" + port;
    definition.vendorId = vendorId;
    definition.modelId = modelId;
    definition.serial = serial;
    definition.port = port;
    definition.formats = StandardFormats();
    return definition;
}

SimulatedCameraDefinition SimulatedCameraDefinition::WifiCamera() {
    SimulatedCameraDefinition definition;
    definition.card = "wifi device";
    definition.driver = "wifi_camera";
    definition.busInfo = "platform:wifi_camera.0";
    definition.usb = false;
    definition.snapshotButton = false;
    definition.port.clear();
    definition.formats = {
        {V4L2_PIX_FMT_MJPEG, "Motion-JPEG", {{1280, 720, {30, 15}}, {640, 480, {30, 15}}}},
        {V4L2_PIX_FMT_YUYV, "YUYV 4:2:2", {{640, 480, {30, 15}}}},
    };
    return definition;
}

SimulatedCameraDefinition SimulatedCameraDefinition::ReplayCamera(SimulatedCameraDefinition camera,
                                                                  std::shared_ptr<const ReplayFrames> frames,
                                                                  FrameRate rate) {
    if (!rate.IsValid()) rate = frames->rate.IsValid() ? frames->rate : FrameRate(30);
    const int64_t interval =
        (int64_t{rate.seconds} * kSimulatedUnitsPerSecond + rate.frames / 2) / rate.frames;
    const bool mjpg = frames->pixelFormat == V4L2_PIX_FMT_MJPEG;
    SimulatedFrameSize size(frames->width, frames->height, {},
                            {static_cast<uint32_t>(std::clamp<int64_t>(interval, 1, UINT32_MAX))});
    camera.formats = {{frames->pixelFormat, mjpg ? "Motion-JPEG" : "YUYV 4:2:2", {size}}};
    camera.replay = std::move(frames);
    return camera;
}

// --- SimulatedCameraCore ------------------------------------------------------------------------

SimulatedCameraCore::SimulatedCameraCore(SimulatedDeviceFile& owner, SimulatedCameraDefinition definition,
                                         int videoNumber, int inputNumber)
    : owner(owner), definition(std::move(definition)), videoNumber(videoNumber), inputNumber(inputNumber) {
    ResetDevice();
}

std::string SimulatedCameraCore::VideoPath() const { return "/dev/video" + std::to_string(videoNumber); }

std::string SimulatedCameraCore::MetadataPath() const {
    return definition.usb ? "/dev/video" + std::to_string(videoNumber + 1) : std::string();
}

std::string SimulatedCameraCore::InputPath() const {
    return inputNumber >= 0 ? "/dev/input/event" + std::to_string(inputNumber) : std::string();
}

std::string SimulatedCameraCore::UsbDevicePath() const {
    if (!definition.usb || definition.port.empty()) return {};
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + definition.port;
}

void SimulatedCameraCore::ResetDevice() {
    controls.Reset();
    stream.Reset();
}

short SimulatedCameraCore::Revents(const SimulatedOpenFile& file) const {
    if (file.closed) return POLLNVAL;
    if (!Alive(file)) return file.kind == NodeKind::Input ? POLLERR | POLLHUP : POLLERR | POLLHUP | POLLPRI;
    switch (file.kind) {
        case NodeKind::Input:
            return file.events.empty() ? 0 : POLLIN | POLLRDNORM;
        case NodeKind::Metadata:
            return POLLERR;
        case NodeKind::Video:
            return stream.Revents(file);
    }
    return 0;
}

void SimulatedCameraCore::Changed() {
    for (const auto& file : files) {
        if (!file->closed) SetWake(file->wake.Get(), file->signalled, Revents(*file) != 0);
    }
    stateChanged.notify_all();
}

int SimulatedCameraCore::Ioctl(SimulatedOpenFile& file, unsigned long request, void* arg) {
    const bool controlsThread =
        request == VIDIOC_REQBUFS || request == VIDIOC_STREAMON || request == VIDIOC_STREAMOFF;
    std::unique_lock control(controlLock, std::defer_lock);
    if (controlsThread) control.lock();
    std::unique_lock state(stateLock);
    if (file.closed) return -EBADF;
    if (!Alive(file)) return -ENODEV;
    if (arg == nullptr) return -EFAULT;
    int result = -ENOTTY;
    switch (file.kind) {
        case NodeKind::Video:
            result = VideoIoctl(file, request, arg, state);
            break;
        case NodeKind::Metadata:
            result = MetadataIoctl(request, arg);
            break;
        case NodeKind::Input:
            result = input.Ioctl(request, arg);
            break;
    }
    Changed();
    return result;
}

void SimulatedCameraCore::QueryCap(NodeKind kind, v4l2_capability& cap) const {
    std::memset(&cap, 0, sizeof cap);
    CopyText(reinterpret_cast<char*>(cap.driver), sizeof cap.driver, definition.driver);
    CopyText(reinterpret_cast<char*>(cap.card), sizeof cap.card, definition.card);
    CopyText(reinterpret_cast<char*>(cap.bus_info), sizeof cap.bus_info, definition.busInfo);
    cap.version = kKernelVersion;
    const uint32_t videoCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
    const uint32_t metaCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
    cap.device_caps = kind == NodeKind::Metadata ? metaCaps : videoCaps;
    if (kind == NodeKind::Video) {
        if (definition.mediaController) cap.device_caps |= V4L2_CAP_IO_MC;
        if (!definition.streaming)
            cap.device_caps = (cap.device_caps & ~V4L2_CAP_STREAMING) | V4L2_CAP_READWRITE;
    }
    cap.capabilities = cap.device_caps | (definition.usb ? metaCaps : 0) | V4L2_CAP_DEVICE_CAPS;
}

int SimulatedCameraCore::VideoIoctl(SimulatedOpenFile& file, unsigned long request, void* arg,
                                    std::unique_lock<std::mutex>& state) {
    switch (request) {
        case VIDIOC_QUERYCAP:
            QueryCap(NodeKind::Video, *static_cast<v4l2_capability*>(arg));
            return 0;
        case VIDIOC_QUERY_EXT_CTRL:
            return controls.Query(*static_cast<v4l2_query_ext_ctrl*>(arg));
        case VIDIOC_QUERYMENU:
            return controls.QueryMenu(*static_cast<v4l2_querymenu*>(arg));
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL:
            return controls.Access(request == VIDIOC_S_CTRL, *static_cast<v4l2_control*>(arg));
        default:
            return stream.Ioctl(file, request, arg, state);
    }
}

int SimulatedCameraCore::MetadataIoctl(unsigned long request, void* arg) const {
    constexpr uint32_t kMeta = V4L2_BUF_TYPE_META_CAPTURE;
    switch (request) {
        case VIDIOC_QUERYCAP:
            QueryCap(NodeKind::Metadata, *static_cast<v4l2_capability*>(arg));
            return 0;
        case VIDIOC_ENUM_FMT: {
            auto& desc = *static_cast<v4l2_fmtdesc*>(arg);
            if (desc.type != kMeta || desc.index != 0) return -EINVAL;
            std::memset(&desc, 0, sizeof desc);
            desc.type = kMeta;
            desc.pixelformat = V4L2_META_FMT_UVC;
            CopyText(reinterpret_cast<char*>(desc.description), sizeof desc.description,
                     "UVC Payload Header Metadata");
            return 0;
        }
        case VIDIOC_G_FMT:
        case VIDIOC_S_FMT:
        case VIDIOC_TRY_FMT: {
            auto& f = *static_cast<v4l2_format*>(arg);
            if (f.type != kMeta) return -EINVAL;
            std::memset(&f.fmt.meta, 0, sizeof f.fmt.meta);
            f.fmt.meta.dataformat = V4L2_META_FMT_UVC;
            f.fmt.meta.buffersize = kMetaBufferSize;
            return 0;
        }
        case VIDIOC_REQBUFS:
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF:
        case VIDIOC_DQBUF:
        case VIDIOC_STREAMON:
        case VIDIOC_STREAMOFF:
            return -EINVAL;  // only metadata buffers, which no video user asks for
        default:
            return -ENOTTY;
    }
}

void* SimulatedCameraCore::Map(SimulatedOpenFile& file, size_t length, int prot, int flags, off_t offset) {
    std::lock_guard state(stateLock);
    return stream.Map(file, length, prot, flags, offset);
}

void SimulatedCameraCore::Attach(const std::shared_ptr<SimulatedOpenFile>& file) {
    files.push_back(file);
    Changed();
}

void SimulatedCameraCore::Detach(SimulatedOpenFile& file) {
    std::lock_guard control(controlLock);
    std::unique_lock state(stateLock);
    file.closed = true;
    if (stream.OwnedBy(file)) stream.Stop(state);
    std::erase_if(files, [&](const auto& open) { return open.get() == &file; });
    Changed();
}

bool SimulatedCameraCore::MatchNode(const std::string& path, NodeKind& kind) const {
    std::lock_guard state(stateLock);
    if (!plugged || path.empty()) return false;
    if (path == VideoPath())
        kind = NodeKind::Video;
    else if (path == MetadataPath())
        kind = NodeKind::Metadata;
    else if (path == InputPath())
        kind = NodeKind::Input;
    else
        return false;
    return true;
}

// --- SimulatedCamera ----------------------------------------------------------------------------

SimulatedCamera::SimulatedCamera(SimulatedDeviceFile& owner, SimulatedCameraDefinition definition,
                                 int videoNumber, int inputNumber)
    : impl(std::make_unique<Impl>(owner, std::move(definition), videoNumber, inputNumber)) {}

SimulatedCamera::~SimulatedCamera() {
    std::lock_guard control(impl->controlLock);
    std::unique_lock state(impl->stateLock);
    impl->stream.Stop(state);
    for (const auto& file : impl->files) file->closed = true;
    impl->files.clear();
    impl->stateChanged.notify_all();
}

const SimulatedCameraDefinition& SimulatedCamera::Definition() const { return impl->definition; }
std::string SimulatedCamera::VideoNode() const { return impl->VideoPath(); }
std::string SimulatedCamera::MetadataNode() const { return impl->MetadataPath(); }
std::string SimulatedCamera::InputNode() const { return impl->InputPath(); }
std::string SimulatedCamera::UsbDevice() const { return impl->UsbDevicePath(); }

void SimulatedCamera::PressSnapshotButton() { impl->input.PressButton(); }

void SimulatedCamera::Unplug() {
    std::vector<DeviceEvent> events;
    {
        std::lock_guard control(impl->controlLock);
        std::unique_lock state(impl->stateLock);
        if (!impl->plugged) return;
        impl->plugged = false;
        ++impl->generation;
        impl->stream.Stop(state);
        for (const auto& file : impl->files) file->events.clear();
        impl->Changed();
        events = SimulatedNodeEvents(*impl, "remove");
    }
    impl->owner.RaiseEvents(events);
}

void SimulatedCamera::Plug() {
    std::vector<DeviceEvent> events;
    {
        std::lock_guard state(impl->stateLock);
        if (impl->plugged) return;
        impl->plugged = true;
        impl->ResetDevice();
        impl->Changed();
        events = SimulatedNodeEvents(*impl, "add");
    }
    impl->owner.RaiseEvents(events);
}

bool SimulatedCamera::IsPlugged() const {
    std::lock_guard state(impl->stateLock);
    return impl->plugged;
}

void SimulatedCamera::SetBusy(bool busy) {
    std::lock_guard state(impl->stateLock);
    impl->stream.busy = busy;
}

void SimulatedCamera::SetOpenError(int error) {
    std::lock_guard state(impl->stateLock);
    impl->openError = std::max(0, error);
}

void SimulatedCamera::SetStreamOnError(int error) {
    std::lock_guard state(impl->stateLock);
    impl->stream.streamOnError = std::max(0, error);
}

void SimulatedCamera::SetUsbBandwidth(uint64_t bytesPerSecond) {
    std::lock_guard state(impl->stateLock);
    impl->stream.bandwidth = bytesPerSecond;
}

void SimulatedCamera::StopDelivering(StallKind kind) {
    std::lock_guard state(impl->stateLock);
    impl->stream.stall = kind;
    impl->stateChanged.notify_all();
}

void SimulatedCamera::CorruptNextMjpgFrames(int count, CorruptFrame kind) {
    std::lock_guard state(impl->stateLock);
    impl->stream.corruptCount = std::max(0, count);
    impl->stream.corruptKind = kind;
}

void SimulatedCamera::SetSlowSource(int frameIntervalMs) {
    std::lock_guard state(impl->stateLock);
    impl->stream.slowIntervalMs = std::max(0, frameIntervalMs);
    impl->stateChanged.notify_all();
}

uint64_t SimulatedCamera::FramesDelivered() const {
    return impl->stream.delivered.load(std::memory_order_relaxed);
}

}  // namespace orvane
