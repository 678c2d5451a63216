#include "capture/capture_video.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
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
constexpr int32_t kMaxListedSide = 16383;
constexpr uint64_t kUnitsPerSecond = 10000000;  // frame intervals are compared in 100 ns units
// A stream counts as stalled after this many frame periods without a frame, but never sooner than
// kMinStallMs; the first frame after a (re)start may take kFirstFrameMs (exposure settling).
constexpr int64_t kStallFramePeriods = 5;
constexpr int64_t kMinStallMs = 500;
constexpr int64_t kFirstFrameMs = 3000;
// A timed shot due within this long (or three frame periods, if longer) makes frames whole again.
constexpr int64_t kMinLookaheadMs = 100;
constexpr int32_t kRecordingFallbackFps = 12;
// Frames in a row that could not be used before the user is told: a second's worth at the
// negotiated rate, never fewer than kMinUnreadableFrames; kUnreadableFramesNoRate without a rate.
constexpr int64_t kMinUnreadableFrames = 3;
constexpr int64_t kUnreadableFramesNoRate = 30;
// Formats tried after the camera was refused for bandwidth, the first one included.
constexpr int kBandwidthAttempts = 8;

// An interval of numerator / denominator seconds in 100 ns units; UINT64_MAX for none.
uint64_t IntervalUnits(const v4l2_fract& interval) {
    if (interval.numerator == 0 || interval.denominator == 0) return UINT64_MAX;
    return uint64_t{interval.numerator} * kUnitsPerSecond / interval.denominator;
}

int64_t ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

int64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

struct CCaptureVideo::Capability {
    uint32_t pixelFormat = 0;
    int32_t width = 0;
    int32_t height = 0;
    v4l2_fract fastest{0, 0};  // shortest frame interval offered; 0/0 when none is stated
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
        ReleaseBuffers();
        device.Close(fd);
        if (stopEvent >= 0) close(stopEvent);
    }

    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Whether `bgr` can take a whole frame; the buffer the mailbox gave back may be of another size.
    bool WholeFrameBuffer() {
        if (bgr.Width() != width || bgr.Height() != height) bgr = FrameBuffer::Create(width, height);
        return !bgr.Empty();
    }

    // Stops streaming and gives the buffers back, so that another format can be set.
    void ReleaseBuffers() {
        if (streaming) {
            v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            device.Ioctl(fd, VIDIOC_STREAMOFF, &type);
            streaming = false;
        }
        for (const Mapped& area : buffers) device.Munmap(area.start, area.length);
        buffers.clear();
        if (requested) {
            v4l2_requestbuffers release{};
            release.count = 0;
            release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            release.memory = V4L2_MEMORY_MMAP;
            device.Ioctl(fd, VIDIOC_REQBUFS, &release);
            requested = false;
        }
    }

    IDeviceFile& device;
    const int fd;
    int stopEvent = -1;
    bool requested = false;
    bool streaming = false;
    std::vector<Mapped> buffers;
    CFrameConverter converter;  // capture thread only once it runs
    FrameBuffer bgr;            // the whole frame; capture thread only once it runs
    std::vector<uint8_t> view;  // a frame converted at the size it is shown at; capture thread only
    uint32_t pixelFormat = 0;
    int32_t width = 0;
    int32_t height = 0;
    int64_t stallMs = kMinStallMs;                      // frames missing this long count as a stall
    int64_t lookaheadMs = kMinLookaheadMs;              // how far ahead a frame may be wanted whole
    int64_t unreadableLimit = kUnreadableFramesNoRate;  // unusable frames in a row that are reported
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

HRESULT CCaptureVideo::ReportDevice(HRESULT code) {
    ShowAlert(FormatDeviceError(code, WifiLink(), Strings()));
    return code;
}

int32_t CCaptureVideo::EnumDevices(DeviceList& list) {
    list.clear();
    listedIdentities.clear();
    const std::vector<CaptureDevice> devices = CDeviceIdentity(Device()).ListCaptureDevices();
    if (devices.empty()) return -1;
    int32_t index = 0;
    for (const CaptureDevice& entry : devices) {
        if (entry.devicePath.empty()) continue;
        list[index++] = DeviceEntry{entry.friendlyName, entry.devicePath};
        listedIdentities.push_back(entry.devicePath);
    }
    return index;
}

HRESULT CCaptureVideo::BindDevice(int32_t index) {
    if (index < 0) return SPAPI_E_NO_DEVICE_SELECTED;
    // A camera unplugged or plugged in since the caller's list shifts the places of the others: the
    // camera is found by the identity it had there. Without such a list, by its place now.
    const bool byIdentity = index != kWifiDeviceIndex && !listedIdentities.empty();
    if (byIdentity && static_cast<size_t>(index) >= listedIdentities.size()) return SPAPI_E_NO_DEVICE_SELECTED;
    int32_t i = 0;
    for (const CaptureDevice& entry : CDeviceIdentity(*device).ListCaptureDevices()) {
        const bool wifi = entry.devicePath.empty() && entry.IsWifiDevice();
        if (entry.devicePath.empty() && !wifi) continue;  // no identity: never bound
        if (wifi != (index == kWifiDeviceIndex)) continue;
        if (byIdentity && entry.devicePath != listedIdentities[static_cast<size_t>(index)]) continue;
        if (!wifi && !byIdentity && i++ != index) continue;

        const int fd = device->Open(entry.node, O_RDWR | O_NONBLOCK);
        if (fd < 0) return errno != 0 ? -errno : SPAPI_E_NO_DEVICE_SELECTED;
        stream = std::make_unique<Stream>(*device, fd, services.stillSink);
        boundIdentity = wifi ? std::string(kWifiDeviceName) : entry.devicePath;
        boundUsbDevice = entry.usbDevice;
        // The preview goes on without the shutter button should the link have no thread.
        if (wifi) WifiLink().Start();
        return S_OK;
    }
    return SPAPI_E_NO_DEVICE_SELECTED;
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
            auto add = [&](uint32_t width, uint32_t height) {
                caps.push_back({format.pixelformat, static_cast<int32_t>(width), static_cast<int32_t>(height),
                                FastestInterval(fd, format.pixelformat, width, height)});
            };
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                add(size.discrete.width, size.discrete.height);
                continue;
            }
            // A stepwise range stands for its smallest and its largest size.
            add(size.stepwise.min_width, size.stepwise.min_height);
            add(size.stepwise.max_width, size.stepwise.max_height);
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

v4l2_fract CCaptureVideo::FastestInterval(int fd, uint32_t pixelFormat, uint32_t width,
                                          uint32_t height) const {
    v4l2_fract fastest{0, 0};
    for (uint32_t n = 0;; ++n) {
        v4l2_frmivalenum interval{};
        interval.index = n;
        interval.pixel_format = pixelFormat;
        interval.width = width;
        interval.height = height;
        if (device->Ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0) break;
        const v4l2_fract candidate =
            interval.type == V4L2_FRMIVAL_TYPE_DISCRETE ? interval.discrete : interval.stepwise.min;
        if (IntervalUnits(candidate) < IntervalUnits(fastest)) fastest = candidate;
        if (interval.type != V4L2_FRMIVAL_TYPE_DISCRETE) break;
    }
    return fastest;
}

HRESULT CCaptureVideo::ConfigureCaptureFormat(const std::vector<Capability>& caps,
                                              const CaptureResolution& request) {
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
    const uint32_t current = format.fmt.pix.pixelformat;

    auto offered = [&caps](uint32_t pixelFormat) {
        for (const Capability& cap : caps) {
            if (cap.pixelFormat == pixelFormat) return true;
        }
        return false;
    };
    // "Any format": among the formats that offer the size, the one with the highest frame rate (MJPG
    // where a camera offers YUYV only at a few frames per second); the current one among equals. A
    // format the converter cannot read is never asked for.
    auto anyFormat = [&]() {
        const Capability* best = nullptr;
        for (const Capability& cap : caps) {
            if (cap.width != w || cap.height != h) continue;
            const uint64_t interval = IntervalUnits(cap.fastest);
            if (best == nullptr || interval < IntervalUnits(best->fastest) ||
                (interval == IntervalUnits(best->fastest) && cap.pixelFormat == current)) {
                best = &cap;
            }
        }
        if (best != nullptr) return best->pixelFormat;
        return CFrameConverter::CanConvert(current) ? current : maxSubtype;
    };

    const uint32_t pixelFormat =
        request.subtype != 0 && offered(request.subtype) ? request.subtype : anyFormat();
    return ApplyFormat(caps, pixelFormat, w, h);
}

HRESULT CCaptureVideo::ApplyFormat(const std::vector<Capability>& caps, uint32_t pixelFormat, int32_t width,
                                   int32_t height) {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = static_cast<uint32_t>(width);
    format.fmt.pix.height = static_cast<uint32_t>(height);
    format.fmt.pix.pixelformat = pixelFormat;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    // Any other refusal leaves the current format, as the connected format read next tells.
    if (device->Ioctl(stream->fd, VIDIOC_S_FMT, &format) != 0 && errno == EBUSY) return -EBUSY;

    // The camera's answer may differ from the wish: the rate belongs to what it took.
    format = {};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    v4l2_fract fastest{0, 0};
    if (device->Ioctl(stream->fd, VIDIOC_G_FMT, &format) == 0) {
        for (const Capability& cap : caps) {
            if (cap.pixelFormat == format.fmt.pix.pixelformat &&
                cap.width == static_cast<int32_t>(format.fmt.pix.width) &&
                cap.height == static_cast<int32_t>(format.fmt.pix.height)) {
                fastest = cap.fastest;
            }
        }
    }
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (fastest.numerator != 0 && fastest.denominator != 0) {
        parm.parm.capture.timeperframe = fastest;
        device->Ioctl(stream->fd, VIDIOC_S_PARM, &parm);
    }
    // The rate the driver granted, as it states it; without one the fastest offered interval.
    parm = {};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    frameRate = FrameRate{0, 1};
    if (device->Ioctl(stream->fd, VIDIOC_G_PARM, &parm) == 0 &&
        (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) != 0) {
        frameRate = FrameRate::OfInterval(parm.parm.capture.timeperframe.numerator,
                                          parm.parm.capture.timeperframe.denominator);
    }
    if (!frameRate.IsValid()) frameRate = FrameRate::OfInterval(fastest.numerator, fastest.denominator);
    return S_OK;
}

bool CCaptureVideo::NextLighterFormat(const std::vector<Capability>& caps, Capability& next) const {
    const Stream& s = *stream;
    auto find = [&caps](uint32_t pixelFormat, int32_t width, int32_t height) -> const Capability* {
        for (const Capability& cap : caps) {
            if (cap.pixelFormat == pixelFormat && cap.width == width && cap.height == height) return &cap;
        }
        return nullptr;
    };
    // MJPG at the same size first: it needs a fraction of the bandwidth.
    if (s.pixelFormat != V4L2_PIX_FMT_MJPEG) {
        if (const Capability* mjpg = find(V4L2_PIX_FMT_MJPEG, s.width, s.height)) {
            next = *mjpg;
            return true;
        }
    }
    // Then the largest smaller size, in MJPG where it is offered, else in the current format.
    const int64_t area = int64_t{s.width} * s.height;
    const Capability* best = nullptr;
    for (const Capability& cap : caps) {
        const int64_t capArea = int64_t{cap.width} * cap.height;
        if (capArea >= area || (cap.pixelFormat != V4L2_PIX_FMT_MJPEG && cap.pixelFormat != s.pixelFormat))
            continue;
        const int64_t bestArea = best != nullptr ? int64_t{best->width} * best->height : 0;
        if (best == nullptr || capArea > bestArea ||
            (capArea == bestArea && cap.pixelFormat == V4L2_PIX_FMT_MJPEG)) {
            best = &cap;
        }
    }
    if (best == nullptr) return false;
    next = *best;
    return true;
}

void CCaptureVideo::BuildStillBranch(int32_t width, int32_t height) {
    snapshotButton = boundIdentity == kWifiDeviceName || CStillButton::HasButtonNode(*device, boundUsbDevice);
    stream->still.Start(boundUsbDevice, width, height);
}

HRESULT CCaptureVideo::StartPreview(int32_t index, void* /*host*/, CaptureResolution& resolution) {
    StopPreview();

    device = &Device();
    statFrames = 0;
    statDelivered = 0;
    statViewFrames = 0;
    statDropped = 0;
    statLost = 0;
    statCpuNs = 0;
    statRestarts = 0;
    streamEnded = false;
    streamStalled = false;
    framesUnreadable = false;
    built = true;

    if (const HRESULT hr = BindDevice(index); FAILED(hr)) {
        return hr == SPAPI_E_NO_DEVICE_SELECTED ? Report(hr) : ReportDevice(hr);
    }
    Stream& s = *stream;
    s.stopEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s.stopEvent < 0) return Report(-errno);

    const std::vector<Capability> caps = ListCapabilities(s.fd);
    if (HRESULT hr = ConfigureCaptureFormat(caps, resolution); FAILED(hr)) return ReportDevice(hr);
    if (HRESULT hr = PrepareBuffers(resolution); FAILED(hr)) return ReportDevice(hr);
    CCameraControls(*device, services.hive).Apply(s.fd, boundIdentity);

    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    HRESULT started = device->Ioctl(s.fd, VIDIOC_STREAMON, &type) == 0 ? S_OK : -errno;
    // Too little USB bandwidth for this format: MJPG needs less, a smaller size less again.
    Capability lighter;
    for (int attempt = 1;
         started == -ENOSPC && attempt < kBandwidthAttempts && NextLighterFormat(caps, lighter); ++attempt) {
        s.ReleaseBuffers();
        if (HRESULT hr = ApplyFormat(caps, lighter.pixelFormat, lighter.width, lighter.height); FAILED(hr))
            return ReportDevice(hr);
        if (HRESULT hr = PrepareBuffers(resolution); FAILED(hr)) return ReportDevice(hr);
        started = device->Ioctl(s.fd, VIDIOC_STREAMON, &type) == 0 ? S_OK : -errno;
    }
    if (FAILED(started)) return ReportDevice(started);
    s.streaming = true;
    if (frameRate.IsValid()) {
        s.stallMs =
            std::max<int64_t>(kMinStallMs, kStallFramePeriods * 1000 * frameRate.seconds / frameRate.frames);
        const int64_t perSecond = (int64_t{frameRate.frames} + frameRate.seconds - 1) / frameRate.seconds;
        s.unreadableLimit = std::max(kMinUnreadableFrames, perSecond);
        s.lookaheadMs = std::max<int64_t>(kMinLookaheadMs, 3 * 1000 * frameRate.seconds / frameRate.frames);
    }
    BuildStillBranch(s.width, s.height);
    try {
        captureThread = std::thread(&CCaptureVideo::CaptureLoop, this);
    } catch (const std::system_error&) {
        return Report(-EAGAIN);
    }
    return S_OK;
}

HRESULT CCaptureVideo::PrepareBuffers(CaptureResolution& resolution) {
    Stream& s = *stream;
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device->Ioctl(s.fd, VIDIOC_G_FMT, &format) != 0) return -errno;
    const auto width = static_cast<int32_t>(format.fmt.pix.width);
    const auto height = static_cast<int32_t>(format.fmt.pix.height);
    if (width <= 0 || height <= 0 || width > 0x7FFF || height > 0x7FFF ||
        !s.converter.Configure(format.fmt.pix.pixelformat, width, height, format.fmt.pix.bytesperline)) {
        return -ENOTSUP;
    }
    s.pixelFormat = format.fmt.pix.pixelformat;
    streamingPixelFormat = s.pixelFormat;
    s.width = width;
    s.height = height;
    if (!s.WholeFrameBuffer()) return -ENOMEM;
    if (services.previewSink != nullptr) services.previewSink->SetFrameSize(width, height);
    if (!resolution.interpolation) {
        resolution.width = width;
        resolution.height = height;
    }

    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (device->Ioctl(s.fd, VIDIOC_REQBUFS, &request) != 0) return -errno;
    s.requested = true;
    if (request.count == 0) return E_OUTOFMEMORY;
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.index = i;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (device->Ioctl(s.fd, VIDIOC_QUERYBUF, &buffer) != 0) return -errno;
        void* start = device->Mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, s.fd, buffer.m.offset);
        if (start == MAP_FAILED) return -errno;
        s.buffers.push_back({start, buffer.length});
        if (device->Ioctl(s.fd, VIDIOC_QBUF, &buffer) != 0) return -errno;
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
    streamingPixelFormat = 0;
    boundIdentity.clear();
    boundUsbDevice.clear();
    snapshotButton = false;
}

bool CCaptureVideo::RestartStream() {
    Stream& s = *stream;
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device->Ioctl(s.fd, VIDIOC_STREAMOFF, &type) != 0) return false;
    // STREAMOFF gave every buffer back to us.
    for (uint32_t i = 0; i < s.buffers.size(); ++i) {
        v4l2_buffer buffer{};
        buffer.index = i;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (device->Ioctl(s.fd, VIDIOC_QBUF, &buffer) != 0) return false;
    }
    return device->Ioctl(s.fd, VIDIOC_STREAMON, &type) == 0;
}

void CCaptureVideo::CaptureLoop() {
    NameThisThread("orv-capture");
    Stream& s = *stream;
    pollfd fds[2] = {{s.fd, POLLIN, 0}, {s.stopEvent, POLLIN, 0}};
    const int32_t length = s.bgr.Length();
    const int64_t lookaheadMs = s.lookaheadMs;
    int64_t lastSequence = -1;  // none yet
    int64_t unreadableRun = 0;  // frames in a row that could not be used
    // The stream is watched through poll's time-out: a frame pushes the deadline on; reaching it
    // restarts the stream once, reaching it again after the restart ends it.
    int64_t deadline = MonotonicMs() + kFirstFrameMs;
    bool restarted = false;
    for (;;) {
        fds[0].revents = fds[1].revents = 0;
        const int64_t wait = std::max<int64_t>(0, deadline - MonotonicMs());
        const int ready = device->Poll(fds, 2, static_cast<int>(wait));
        if (ready < 0 && errno != EINTR) break;
        if ((fds[1].revents & POLLIN) != 0) return;
        if (ready == 0 && MonotonicMs() >= deadline) {
            if (!restarted && RestartStream()) {
                restarted = true;
                lastSequence = -1;  // the driver counts afresh from STREAMON
                statRestarts.fetch_add(1, std::memory_order_relaxed);
                deadline = MonotonicMs() + kFirstFrameMs;
                continue;
            }
            streamStalled.store(true, std::memory_order_release);
            break;
        }
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
        // Any frame, damaged or not, shows that the camera still sends.
        deadline = MonotonicMs() + s.stallMs;
        restarted = false;
        // The driver numbers every frame it made, also those it had no free buffer for.
        if (lastSequence >= 0 && buffer.sequence > lastSequence + 1) {
            statLost.fetch_add(buffer.sequence - lastSequence - 1, std::memory_order_relaxed);
        }
        lastSequence = buffer.sequence;

        const Stream::Mapped& area = s.buffers[buffer.index];
        const size_t used = std::min<size_t>(buffer.bytesused, area.length);
        // A damaged frame is dropped and the stream goes on: one the driver flagged (uvcvideo does
        // for a payload it lost part of), one without data, one the converter refuses.
        const auto* data = static_cast<const uint8_t*>(area.start);
        const bool usable = used != 0 && (buffer.flags & V4L2_BUF_FLAG_ERROR) == 0;
        // A frame nobody may save is converted only at the size it is shown at; the question is asked
        // before each frame, so the first frame an action wants is whole.
        int32_t viewWidth = 0;
        int32_t viewHeight = 0;
        mailbox.ViewSize(viewWidth, viewHeight);
        FrameUse use = FrameUse::Shown;
        if (s.still.WantsFrame()) {
            use = FrameUse::Photo;
        } else if (services.previewSink != nullptr) {
            use = services.previewSink->NextFrameUse(lookaheadMs);
        }
        const bool viewOnly = usable && viewWidth > 0 && use == FrameUse::Shown;
        bool converted = false;
        if (viewOnly && s.converter.ViewSize(viewWidth, viewHeight, viewWidth, viewHeight)) {
            int32_t w = 0;
            int32_t h = 0;
            converted = s.converter.ConvertForView(data, used, viewWidth, viewHeight, s.view, w, h);
            if (converted) {
                if (services.previewSink != nullptr) services.previewSink->TurnViewFrame(s.view.data(), w, h);
                mailbox.Publish(s.view.data(), w, h);
                statViewFrames.fetch_add(1, std::memory_order_relaxed);
            }
        } else if (usable && s.WholeFrameBuffer() &&
                   s.converter.Convert(data, used, s.bgr.Bits(), use == FrameUse::Recorded)) {
            converted = true;
            if (s.still.WantsFrame()) s.still.OfferFrame(s.bgr.Bits(), length);
            const double sampleTime = static_cast<double>(buffer.timestamp.tv_sec) +
                                      static_cast<double>(buffer.timestamp.tv_usec) / 1e6;
            if (services.previewSink != nullptr)
                services.previewSink->BufferCB(sampleTime, s.bgr.Bits(), length);
            // The frame itself goes to the window; the next one is converted into a buffer it gave back.
            mailbox.Publish(s.bgr);
        }
        if (converted) {
            unreadableRun = 0;
            if (framesUnreadable.exchange(false, std::memory_order_acq_rel) && framesUnreadableHandler)
                framesUnreadableHandler();
            statDelivered.fetch_add(1, std::memory_order_relaxed);
        } else {
            statDropped.fetch_add(1, std::memory_order_relaxed);
            if (++unreadableRun == s.unreadableLimit) {
                framesUnreadable.store(true, std::memory_order_release);
                if (framesUnreadableHandler) framesUnreadableHandler();
            }
        }
        statCpuNs.store(ThreadCpuNs(), std::memory_order_relaxed);

        if (device->Ioctl(s.fd, VIDIOC_QBUF, &buffer) != 0 && errno != EINTR) break;
    }
    // The device went away or failed: the stream ends here, the viewer learns of it from the
    // hot-plug source, and StopPreview releases what is left. A stream that stalled for good has no
    // such source: it is reported here.
    statCpuNs.store(ThreadCpuNs(), std::memory_order_relaxed);
    streamEnded.store(true, std::memory_order_release);
    if (streamStalled.load(std::memory_order_acquire)) {
        ShowAlert(Strings().GetString(keys::kAlertCameraStopped));
        if (streamLostHandler) streamLostHandler();
    }
}

bool CCaptureVideo::IsStreaming() const {
    return captureThread.joinable() && !streamEnded.load(std::memory_order_acquire);
}

bool CCaptureVideo::HasStillBranch() const { return stream != nullptr && stream->still.IsRunning(); }

CaptureStats CCaptureVideo::GetCaptureStats() const {
    CaptureStats stats;
    stats.frames = statFrames.load(std::memory_order_relaxed);
    stats.delivered = statDelivered.load(std::memory_order_relaxed);
    stats.viewFrames = statViewFrames.load(std::memory_order_relaxed);
    stats.dropped = statDropped.load(std::memory_order_relaxed);
    stats.lost = statLost.load(std::memory_order_relaxed);
    stats.threadCpuNs = statCpuNs.load(std::memory_order_relaxed);
    stats.restarts = statRestarts.load(std::memory_order_relaxed);
    stats.ended = streamEnded.load(std::memory_order_acquire);
    stats.stalled = streamStalled.load(std::memory_order_acquire);
    stats.unreadable = framesUnreadable.load(std::memory_order_acquire);
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
    if (!frameRate.IsValid()) frameRate = FrameRate{kRecordingFallbackFps, 1};
    if (services.recorder != nullptr) services.recorder->StartRecording(path, frameRate);
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
