#include "capture/capture_video.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <system_error>

#include "base/alert_sink.h"
#include "base/thread_name.h"
#include "capture/capture_error.h"
#include "capture/device_identity.h"
#include "capture/frame_converter.h"
#include "capture/frame_sink.h"
#include "capture/movie_recorder.h"
#include "capture/still_button.h"
#include "capture/wifi_device_proxy.h"
#include "localization/localizable_string.h"

namespace orvane {

namespace {

constexpr uint32_t kBufferCount = 4;
constexpr int kPollTimeoutMs = 1000;
constexpr int32_t kMaxListedSide = 16383;
constexpr int64_t kUnitsPerSecond = 10000000;  // frame intervals are compared in 100 ns units

// Frames per second of a frame interval of numerator / denominator seconds, as whole frames of
// 100 ns units: 1/30 s gives 30, 1001/30000 s gives 29. 0 for an interval of 0.
int32_t RateOfInterval(uint32_t numerator, uint32_t denominator) {
    if (numerator == 0 || denominator == 0) return 0;
    const int64_t unitsPerFrame = kUnitsPerSecond * numerator / denominator;
    return unitsPerFrame > 0 ? static_cast<int32_t>(kUnitsPerSecond / unitsPerFrame) : 0;
}

int64_t ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

}  // namespace

struct CCaptureVideo::Capability {
    uint32_t pixelFormat = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// The open device with everything that belongs to one preview. Its destructor releases them in
// order; the capture thread must have ended before.
class CCaptureVideo::Stream {
public:
    struct Mapped {
        void* start = nullptr;
        size_t length = 0;
    };

    Stream(IDeviceFile& device, int fd, IFrameSink* stillSink)
        : device(device), fd(fd), still(device, stillSink) {}
    ~Stream() {
        still.Stop();
        if (streaming) {
            v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            device.Ioctl(fd, VIDIOC_STREAMOFF, &type);
        }
        for (const Mapped& area : buffers) device.Munmap(area.start, area.length);
        if (requested) {
            v4l2_requestbuffers release{};
            release.count = 0;
            release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            release.memory = V4L2_MEMORY_MMAP;
            device.Ioctl(fd, VIDIOC_REQBUFS, &release);
        }
        device.Close(fd);
        if (stopEvent >= 0) close(stopEvent);
    }

    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    IDeviceFile& device;
    const int fd;
    int stopEvent = -1;
    bool requested = false;
    bool streaming = false;
    std::vector<Mapped> buffers;
    CFrameConverter converter;  // capture thread only once it runs
    std::vector<uint8_t> bgr;   // capture thread only once it runs
    int32_t width = 0;
    int32_t height = 0;
    CStillButton still;
};

CCaptureVideo::CCaptureVideo(const CaptureVideoServices& services_) : services(services_) {}

CCaptureVideo::~CCaptureVideo() { StopPreview(); }

IDeviceFile& CCaptureVideo::Device() const {
    return services.device != nullptr ? *services.device : CurrentDeviceFile();
}

CWifiDeviceProxy& CCaptureVideo::WifiLink() const {
    return services.wifiLink != nullptr ? *services.wifiLink : *CWifiDeviceProxy::GetInstance();
}

CLocalizableString& CCaptureVideo::Strings() const {
    return services.strings != nullptr ? *services.strings : *CLocalizableString::GetInstance();
}

HRESULT CCaptureVideo::Report(HRESULT code) {
    ShowAlert(FormatCaptureError(code, WifiLink(), Strings()));
    return code;
}

HRESULT CCaptureVideo::ReportBusy(HRESULT code) {
    ShowAlert(Strings().GetString(keys::kAlertNotPreviewDevice));
    return code;
}

int32_t CCaptureVideo::EnumDevices(DeviceList& list) {
    list.clear();
    const std::vector<CaptureDevice> devices = CDeviceIdentity(Device()).ListCaptureDevices();
    if (devices.empty()) return -1;
    int32_t index = 0;
    for (const CaptureDevice& entry : devices) {
        if (entry.devicePath.empty()) continue;
        list[index++] = DeviceEntry{entry.friendlyName, entry.devicePath};
    }
    return index;
}

bool CCaptureVideo::BindDevice(int32_t index) {
    if (index < 0) return false;
    int32_t i = 0;
    for (const CaptureDevice& entry : CDeviceIdentity(*device).ListCaptureDevices()) {
        const bool wifi = entry.devicePath.empty() && entry.IsWifiDevice();
        if (entry.devicePath.empty() && !wifi) continue;  // no identity: never bound
        if (!wifi && i++ != index) continue;
        if (wifi && index != kWifiDeviceIndex) continue;

        const int fd = device->Open(entry.node, O_RDWR | O_NONBLOCK);
        if (fd < 0) return false;
        stream = std::make_unique<Stream>(*device, fd, services.stillSink);
        boundIdentity = wifi ? std::string(kWifiDeviceName) : entry.devicePath;
        boundUsbDevice = entry.usbDevice;
        // The preview goes on without the shutter button should the link have no thread.
        if (wifi) WifiLink().Start();
        return true;
    }
    return false;
}

std::vector<CCaptureVideo::Capability> CCaptureVideo::ListCapabilities(int fd) const {
    std::vector<Capability> caps;
    for (uint32_t f = 0;; ++f) {
        v4l2_fmtdesc format{};
        format.index = f;
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (device->Ioctl(fd, VIDIOC_ENUM_FMT, &format) != 0) break;
        if (!CFrameConverter::CanConvert(format.pixelformat)) continue;
        for (uint32_t s = 0;; ++s) {
            v4l2_frmsizeenum size{};
            size.index = s;
            size.pixel_format = format.pixelformat;
            if (device->Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                caps.push_back({format.pixelformat, static_cast<int32_t>(size.discrete.width),
                                static_cast<int32_t>(size.discrete.height)});
                continue;
            }
            // A stepwise range stands for its smallest and its largest size.
            caps.push_back({format.pixelformat, static_cast<int32_t>(size.stepwise.min_width),
                            static_cast<int32_t>(size.stepwise.min_height)});
            caps.push_back({format.pixelformat, static_cast<int32_t>(size.stepwise.max_width),
                            static_cast<int32_t>(size.stepwise.max_height)});
            break;
        }
    }
    return caps;
}

bool CCaptureVideo::ListResolutions(const std::vector<Capability>& caps, int32_t& maxW, int32_t& maxH,
                                    uint32_t& maxSubtype, bool publish) {
    maxW = maxH = 0;
    maxSubtype = 0;
    bool result = false;
    ResolutionList list;
    for (const Capability& cap : caps) {
        // Twice the height must still make a positive key.
        if (cap.width <= 0 || cap.height <= 0 || cap.width > kMaxListedSide || cap.height > kMaxListedSide)
            continue;
        // Among equal sizes the last one counts.
        if (cap.width >= maxW && cap.height >= maxH) {
            maxW = cap.width;
            maxH = cap.height;
            maxSubtype = cap.pixelFormat;
            result = true;
        }
        list.emplace(ResolutionKey(cap.height, cap.pixelFormat),
                     CaptureResolution{cap.width, cap.height, cap.pixelFormat, false});
    }
    if (maxW > 0 && maxH > 0) {
        list.emplace(ResolutionKey(2 * maxH, maxSubtype),
                     CaptureResolution{2 * maxW, 2 * maxH, maxSubtype, true});
    }
    if (publish && viewer != nullptr) viewer->SetResolutionList(list);
    return result;
}

int32_t CCaptureVideo::FindFrameRate(const std::vector<Capability>& caps,
                                     const CaptureResolution& request) const {
    for (const Capability& cap : caps) {
        if (cap.width < request.width || cap.height < request.height || cap.pixelFormat != request.subtype)
            continue;
        v4l2_frmivalenum interval{};
        interval.index = 0;
        interval.pixel_format = cap.pixelFormat;
        interval.width = static_cast<uint32_t>(cap.width);
        interval.height = static_cast<uint32_t>(cap.height);
        if (device->Ioctl(stream->fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0) return 0;
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            return RateOfInterval(interval.discrete.numerator, interval.discrete.denominator);
        }
        return RateOfInterval(interval.stepwise.min.numerator, interval.stepwise.min.denominator);
    }
    return 0;
}

int32_t CCaptureVideo::CurrentFrameRate() const {
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device->Ioctl(stream->fd, VIDIOC_G_PARM, &parm) != 0) return 0;
    return RateOfInterval(parm.parm.capture.timeperframe.numerator,
                          parm.parm.capture.timeperframe.denominator);
}

HRESULT CCaptureVideo::ConfigureCaptureFormat(const CaptureResolution& request) {
    const std::vector<Capability> caps = ListCapabilities(stream->fd);
    int32_t maxW = 0;
    int32_t maxH = 0;
    uint32_t maxSubtype = 0;
    if (!ListResolutions(caps, maxW, maxH, maxSubtype, true)) return S_OK;

    int32_t w = request.width;
    int32_t h = request.height;
    const bool noPreference = request.width == 0 && request.height == 0 && request.subtype == 0;
    if (noPreference && viewer != nullptr) {
        CaptureResolution largest;
        if (viewer->LargestListedResolution(largest)) {
            w = largest.width;
            h = largest.height;
        }
    }
    // An interpolated request (twice the maximum) captures at the maximum.
    if (w > maxW || h > maxH) {
        w = maxW;
        h = maxH;
    }

    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device->Ioctl(stream->fd, VIDIOC_G_FMT, &format) != 0) return S_OK;
    // No size asked for (and none listed by the viewer): the current size stays.
    if (w <= 0 || h <= 0) {
        w = static_cast<int32_t>(format.fmt.pix.width);
        h = static_cast<int32_t>(format.fmt.pix.height);
    }

    auto offers = [&caps, w, h](uint32_t pixelFormat) {
        for (const Capability& cap : caps) {
            if (cap.pixelFormat == pixelFormat && cap.width == w && cap.height == h) return true;
        }
        return false;
    };
    auto offered = [&caps](uint32_t pixelFormat) {
        for (const Capability& cap : caps) {
            if (cap.pixelFormat == pixelFormat) return true;
        }
        return false;
    };
    // "Any format" takes the current one when it has the size, else the first that has it; a format
    // the converter cannot read is never asked for.
    auto anyFormat = [&](uint32_t current) {
        if (CFrameConverter::CanConvert(current) && offers(current)) return current;
        for (const Capability& cap : caps) {
            if (cap.width == w && cap.height == h) return cap.pixelFormat;
        }
        return CFrameConverter::CanConvert(current) ? current : maxSubtype;
    };

    uint32_t pixelFormat;
    if (request.subtype == 0) {
        pixelFormat = anyFormat(format.fmt.pix.pixelformat);
    } else {
        framesPerSecond = FindFrameRate(caps, request);
        pixelFormat = offered(request.subtype) ? request.subtype : anyFormat(format.fmt.pix.pixelformat);
    }

    format.fmt.pix.width = static_cast<uint32_t>(w);
    format.fmt.pix.height = static_cast<uint32_t>(h);
    format.fmt.pix.pixelformat = pixelFormat;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    format.fmt.pix.bytesperline = 0;
    format.fmt.pix.sizeimage = 0;
    // Any other refusal leaves the current format, as the connected format read next tells.
    if (device->Ioctl(stream->fd, VIDIOC_S_FMT, &format) != 0 && errno == EBUSY) return -EBUSY;
    if (request.subtype == 0) framesPerSecond = CurrentFrameRate();
    return S_OK;
}

void CCaptureVideo::BuildStillBranch(int32_t width, int32_t height) {
    stream->still.Start(boundUsbDevice, width, height);
}

HRESULT CCaptureVideo::StartPreview(int32_t index, void* /*host*/, CaptureResolution& resolution) {
    StopPreview();

    device = &Device();
    statFrames = 0;
    statDelivered = 0;
    statDropped = 0;
    statLost = 0;
    statCpuNs = 0;
    streamEnded = false;
    built = true;

    if (!BindDevice(index)) return Report(SPAPI_E_NO_DEVICE_SELECTED);
    Stream& s = *stream;
    s.stopEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s.stopEvent < 0) return Report(-errno);

    if (HRESULT hr = ConfigureCaptureFormat(resolution); FAILED(hr)) return ReportBusy(hr);

    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device->Ioctl(s.fd, VIDIOC_G_FMT, &format) != 0) return Report(-errno);
    const auto width = static_cast<int32_t>(format.fmt.pix.width);
    const auto height = static_cast<int32_t>(format.fmt.pix.height);
    if (width <= 0 || height <= 0 || width > 0x7FFF || height > 0x7FFF ||
        !s.converter.Configure(format.fmt.pix.pixelformat, width, height, format.fmt.pix.bytesperline)) {
        return Report(-ENOTSUP);
    }
    s.width = width;
    s.height = height;
    s.bgr.assign(s.converter.OutputSize(), 0);
    if (services.previewSink != nullptr) services.previewSink->SetFrameSize(width, height);
    if (!resolution.interpolation) {
        resolution.width = width;
        resolution.height = height;
    }

    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (device->Ioctl(s.fd, VIDIOC_REQBUFS, &request) != 0) {
        const HRESULT hr = -errno;
        return hr == -EBUSY ? ReportBusy(hr) : Report(hr);
    }
    s.requested = true;
    if (request.count == 0) return Report(E_OUTOFMEMORY);
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.index = i;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (device->Ioctl(s.fd, VIDIOC_QUERYBUF, &buffer) != 0) return Report(-errno);
        void* start = device->Mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, s.fd, buffer.m.offset);
        if (start == MAP_FAILED) return Report(-errno);
        s.buffers.push_back({start, buffer.length});
        if (device->Ioctl(s.fd, VIDIOC_QBUF, &buffer) != 0) return Report(-errno);
    }

    CCameraControls(*device, services.hive).Apply(s.fd, boundIdentity);
    BuildStillBranch(width, height);

    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device->Ioctl(s.fd, VIDIOC_STREAMON, &type) != 0) return ReportBusy(-errno);
    s.streaming = true;
    try {
        captureThread = std::thread(&CCaptureVideo::CaptureLoop, this);
    } catch (const std::system_error&) {
        return Report(-EAGAIN);
    }
    return S_OK;
}

void CCaptureVideo::StopPreview() {
    WifiLink().Stop();
    if (captureThread.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t written = write(stream->stopEvent, &one, sizeof(one));
        captureThread.join();
    }
    stream.reset();
    mailbox.Clear();
    built = false;
    boundIdentity.clear();
    boundUsbDevice.clear();
}

void CCaptureVideo::CaptureLoop() {
    NameThisThread("orv-capture");
    Stream& s = *stream;
    pollfd fds[2] = {{s.fd, POLLIN, 0}, {s.stopEvent, POLLIN, 0}};
    const auto length = static_cast<int32_t>(s.bgr.size());
    std::optional<uint32_t> lastSequence;
    for (;;) {
        fds[0].revents = fds[1].revents = 0;
        const int ready = device->Poll(fds, 2, kPollTimeoutMs);
        if (ready < 0 && errno != EINTR) break;
        if ((fds[1].revents & POLLIN) != 0) return;
        if (ready <= 0) continue;

        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (device->Ioctl(s.fd, VIDIOC_DQBUF, &buffer) != 0) {
            if (errno == EINTR) continue;
            // EAGAIN is "nothing yet" unless poll reported the device in error (gone, not streaming).
            if (errno == EAGAIN && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) == 0) continue;
            break;
        }
        if (buffer.index >= s.buffers.size()) break;
        statFrames.fetch_add(1, std::memory_order_relaxed);
        // The driver numbers every frame it made, also those it had no free buffer for.
        if (lastSequence && buffer.sequence > *lastSequence + 1) {
            statLost.fetch_add(buffer.sequence - *lastSequence - 1, std::memory_order_relaxed);
        }
        lastSequence = buffer.sequence;

        const Stream::Mapped& area = s.buffers[buffer.index];
        size_t used = buffer.bytesused != 0 ? buffer.bytesused : buffer.length;
        if (used > area.length) used = area.length;
        // A damaged frame is dropped and the stream goes on.
        if ((buffer.flags & V4L2_BUF_FLAG_ERROR) == 0 &&
            s.converter.Convert(static_cast<const uint8_t*>(area.start), used, s.bgr.data())) {
            if (s.still.WantsFrame()) s.still.OfferFrame(s.bgr.data(), length);
            const double sampleTime = static_cast<double>(buffer.timestamp.tv_sec) +
                                      static_cast<double>(buffer.timestamp.tv_usec) / 1e6;
            if (services.previewSink != nullptr)
                services.previewSink->BufferCB(sampleTime, s.bgr.data(), length);
            mailbox.Publish(s.bgr.data(), s.width, s.height);
            statDelivered.fetch_add(1, std::memory_order_relaxed);
        } else {
            statDropped.fetch_add(1, std::memory_order_relaxed);
        }
        statCpuNs.store(ThreadCpuNs(), std::memory_order_relaxed);

        if (device->Ioctl(s.fd, VIDIOC_QBUF, &buffer) != 0 && errno != EINTR) break;
    }
    // The device went away or failed: the stream ends here, the viewer learns of it from the
    // hot-plug source, and StopPreview releases what is left.
    statCpuNs.store(ThreadCpuNs(), std::memory_order_relaxed);
    streamEnded.store(true, std::memory_order_release);
}

bool CCaptureVideo::IsStreaming() const {
    return captureThread.joinable() && !streamEnded.load(std::memory_order_acquire);
}

bool CCaptureVideo::HasStillBranch() const { return stream != nullptr && stream->still.IsRunning(); }

CaptureStats CCaptureVideo::GetCaptureStats() const {
    CaptureStats stats;
    stats.frames = statFrames.load(std::memory_order_relaxed);
    stats.delivered = statDelivered.load(std::memory_order_relaxed);
    stats.dropped = statDropped.load(std::memory_order_relaxed);
    stats.lost = statLost.load(std::memory_order_relaxed);
    stats.threadCpuNs = statCpuNs.load(std::memory_order_relaxed);
    stats.ended = streamEnded.load(std::memory_order_acquire);
    return stats;
}

void CCaptureVideo::ShowDeviceProperties() {
    if (!built) {
        ShowAlert(Strings().GetString(keys::kAlertNoCameraForControls));
        return;
    }
    if (stream != nullptr && propertiesHandler) propertiesHandler();
}

void CCaptureVideo::StartRecording(const std::string& path) {
    if (framesPerSecond == 0) framesPerSecond = 12;
    if (services.recorder != nullptr) services.recorder->StartRecording(path, framesPerSecond);
}

void CCaptureVideo::StopRecording() {
    if (services.recorder != nullptr) services.recorder->StopRecording();
}

std::vector<CameraControl> CCaptureVideo::GetControls() {
    if (stream == nullptr) return {};
    return CCameraControls(*device, services.hive).List(stream->fd);
}

bool CCaptureVideo::GetControl(uint32_t id, int32_t& value) {
    if (stream == nullptr) return false;
    return CCameraControls(*device, services.hive).Read(stream->fd, id, value);
}

bool CCaptureVideo::SetControl(uint32_t id, int32_t value) {
    if (stream == nullptr) return false;
    return CCameraControls(*device, services.hive).Write(stream->fd, boundIdentity, id, value);
}

}  // namespace orvane
