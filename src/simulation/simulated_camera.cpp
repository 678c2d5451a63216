#include "simulation/simulated_camera.h"

#include <fcntl.h>
#include <linux/input.h>
#include <linux/videodev2.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <time.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <thread>
#include <tuple>
#include <utility>

#include "base/unique_fd.h"

namespace orvane {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kKernelVersion = (6u << 16) | (1u << 8);
constexpr int kBarPhases = 8;
constexpr uint32_t kMaxBuffers = 32;
constexpr uint32_t kMinBuffers = 2;
constexpr uint32_t kMetaBufferSize = 10240;
constexpr uint32_t kUnitsPerSecond = 10000000;  // frame intervals count in 100 ns units
constexpr uint32_t kMjpgBandwidthShare = 6;     // MJPG needs a sixth of the uncompressed bandwidth

// The intervals of a frame size in 100 ns units, fastest first.
std::vector<uint32_t> IntervalsOf(const SimulatedFrameSize& size) {
    if (!size.intervals.empty()) return size.intervals;
    std::vector<uint32_t> intervals;
    for (int fps : size.framesPerSecond) {
        if (fps > 0)
            intervals.push_back((kUnitsPerSecond + static_cast<uint32_t>(fps) / 2) /
                                static_cast<uint32_t>(fps));
    }
    return intervals;
}

// uvcvideo hands intervals out as the continued-fraction approximation it makes of interval / 10^7
// (at most 8 terms, stopping at a term of 333 or more): 333333 gives 1/30, 333667 gives 100/2997.
v4l2_fract SimplifiedInterval(uint32_t interval) {
    constexpr unsigned kTerms = 8;
    constexpr uint32_t kThreshold = 333;
    uint32_t terms[kTerms] = {};
    uint32_t x = interval;
    uint32_t y = kUnitsPerSecond;
    unsigned n = 0;
    for (; n < kTerms && y != 0; ++n) {
        terms[n] = x / y;
        if (terms[n] >= kThreshold) {
            if (n < 2) ++n;
            break;
        }
        const uint32_t r = x - terms[n] * y;
        x = y;
        y = r;
    }
    uint32_t numerator = 0;
    uint32_t denominator = 1;
    for (unsigned i = n; i > 0; --i) {
        const uint32_t r = denominator;
        denominator = terms[i - 1] * denominator + numerator;
        numerator = r;
    }
    return {denominator, numerator};
}

// The driver's own mapping of a frame buffer.
class MappedArea {
public:
    MappedArea() = default;
    MappedArea(void* address, size_t length) : address(address), length(length) {}
    ~MappedArea() {
        if (address != nullptr) ::munmap(address, length);
    }
    MappedArea(MappedArea&& other) noexcept
        : address(std::exchange(other.address, nullptr)), length(std::exchange(other.length, 0)) {}
    MappedArea& operator=(MappedArea&& other) noexcept {
        if (this != &other) {
            if (address != nullptr) ::munmap(address, length);
            address = std::exchange(other.address, nullptr);
            length = std::exchange(other.length, 0);
        }
        return *this;
    }
    uint8_t* Data() const { return static_cast<uint8_t*>(address); }

private:
    void* address = nullptr;
    size_t length = 0;
};

struct TurboJpegCompressor {
    void operator()(void* handle) const { tjDestroy(handle); }
};

void SetWake(int fd, bool& signalled, bool wanted) {
    if (wanted == signalled) return;
    uint64_t value = 1;
    if (wanted) {
        if (::write(fd, &value, sizeof value) == sizeof value) signalled = true;
    } else {
        if (::read(fd, &value, sizeof value) == sizeof value || errno == EAGAIN) signalled = false;
    }
}

void CopyText(char* target, size_t size, const std::string& text) {
    std::memset(target, 0, size);
    std::memcpy(target, text.data(), std::min(text.size(), size - 1));
}

timeval NowTimeval(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return timeval{now.tv_sec, now.tv_nsec / 1000};
}

size_t PageAlign(size_t size) {
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

// --- The test pattern ---------------------------------------------------------------------------

struct Yuv {
    uint8_t y, u, v;
};

Yuv ToYuv(SimulatedCamera::Colour c) {
    const double r = c.red, g = c.green, b = c.blue;
    auto clamp = [](double value) { return static_cast<uint8_t>(std::clamp(value + 0.5, 0.0, 255.0)); };
    return {clamp(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255),
            clamp(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255),
            clamp(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255)};
}

int BarWidth(int width) { return std::max(2, (width / 16) & ~1); }

int BarLeft(int width, int phase) {
    const int start = (width / 4 + 1) & ~1;
    const int span = std::max(0, width - start - BarWidth(width));
    return (start + span * phase / (kBarPhases - 1)) & ~1;
}

// The three kinds of row: through the marker, the rest of the top half, the bottom half.
enum RowKind { kMarkerRow, kTopRow, kBottomRow };

RowKind KindOfRow(int height, int y) {
    if (y < height / 8) return kMarkerRow;
    return y < height / 2 ? kTopRow : kBottomRow;
}

SimulatedCamera::Colour PatternAt(int width, int height, int phase, RowKind kind, int x) {
    if (kind == kMarkerRow && x < height / 8) return SimulatedCamera::kMarkerColour;
    const int left = BarLeft(width, phase);
    if (x >= left && x < left + BarWidth(width)) return SimulatedCamera::kBarColour;
    return kind == kBottomRow ? SimulatedCamera::kBottomColour : SimulatedCamera::kTopColour;
}

// Packed 4:2:2 (YUYV or UYVY), lines of bytesPerLine.
void RenderPacked422(uint8_t* target, int width, int height, uint32_t bytesPerLine, int phase, bool uyvy) {
    std::vector<uint8_t> rows[3];
    for (int kind = 0; kind < 3; ++kind) {
        rows[kind].assign(bytesPerLine, 0);
        for (int x = 0; x + 1 < width; x += 2) {
            const Yuv a = ToYuv(PatternAt(width, height, phase, RowKind(kind), x));
            const Yuv b = ToYuv(PatternAt(width, height, phase, RowKind(kind), x + 1));
            const auto u = static_cast<uint8_t>((a.u + b.u + 1) / 2);
            const auto v = static_cast<uint8_t>((a.v + b.v + 1) / 2);
            uint8_t* p = rows[kind].data() + static_cast<size_t>(x) * 2;
            if (uyvy) {
                p[0] = u, p[1] = a.y, p[2] = v, p[3] = b.y;
            } else {
                p[0] = a.y, p[1] = u, p[2] = b.y, p[3] = v;
            }
        }
    }
    for (int y = 0; y < height; ++y) {
        std::memcpy(target + static_cast<size_t>(y) * bytesPerLine, rows[KindOfRow(height, y)].data(),
                    bytesPerLine);
    }
}

std::vector<uint8_t> EncodeJpeg(int width, int height, int phase) {
    const size_t line = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> rows[3];
    for (int kind = 0; kind < 3; ++kind) {
        rows[kind].resize(line);
        for (int x = 0; x < width; ++x) {
            const SimulatedCamera::Colour c = PatternAt(width, height, phase, RowKind(kind), x);
            rows[kind][x * 3] = c.red, rows[kind][x * 3 + 1] = c.green, rows[kind][x * 3 + 2] = c.blue;
        }
    }
    std::vector<uint8_t> rgb(line * height);
    for (int y = 0; y < height; ++y) std::memcpy(&rgb[y * line], rows[KindOfRow(height, y)].data(), line);

    std::unique_ptr<void, TurboJpegCompressor> compressor(tjInitCompress());
    if (!compressor) return {};
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(compressor.get(), rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_422, 85,
                    0) != 0) {
        tjFree(jpeg);
        return {};
    }
    std::vector<uint8_t> result(jpeg, jpeg + size);
    tjFree(jpeg);
    return result;
}

// Encoding a large JPEG takes longer than a frame interval, so every size and bar position is
// encoded once per process and reused by every camera.
const std::vector<uint8_t>& CachedJpeg(int width, int height, int phase) {
    static std::mutex lock;  // guards frames
    static std::map<std::tuple<int, int, int>, std::vector<uint8_t>> frames;
    std::lock_guard guard(lock);
    auto [entry, added] = frames.try_emplace({width, height, phase});
    if (added) entry->second = EncodeJpeg(width, height, phase);
    return entry->second;
}

// --- Controls -----------------------------------------------------------------------------------

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

Control Integer(uint32_t id, const char* name, int32_t minimum, int32_t maximum, int32_t step,
                int32_t byDefault, uint32_t flags) {
    return {id, V4L2_CTRL_TYPE_INTEGER, name, minimum, maximum, step, byDefault, flags, {}, byDefault};
}

// As uvcvideo reports them: an automatic mode does not carry V4L2_CTRL_FLAG_UPDATE although it makes
// the manual values it governs inactive.
Control Boolean(uint32_t id, const char* name, int32_t byDefault) {
    return {id, V4L2_CTRL_TYPE_BOOLEAN, name, 0, 1, 1, byDefault, 0, {}, byDefault};
}

Control Menu(uint32_t id, const char* name, int32_t byDefault, uint32_t flags,
             std::vector<const char*> items) {
    const auto maximum = static_cast<int32_t>(items.size()) - 1;
    return {id, V4L2_CTRL_TYPE_MENU, name, 0, maximum, 1, byDefault, flags, std::move(items), byDefault};
}

Control Button(uint32_t id, const char* name) {
    const uint32_t flags = V4L2_CTRL_FLAG_WRITE_ONLY | V4L2_CTRL_FLAG_EXECUTE_ON_WRITE;
    return {id, V4L2_CTRL_TYPE_BUTTON, name, 0, 0, 0, 0, flags, {}, 0};
}

// Sorted by id, as the NEXT_CTRL enumeration walks them.
std::vector<Control> StandardControls() {
    constexpr uint32_t kSlider = V4L2_CTRL_FLAG_SLIDER;
    return {
        Integer(V4L2_CID_BRIGHTNESS, "Brightness", -64, 64, 1, 0, kSlider),
        Integer(V4L2_CID_CONTRAST, "Contrast", 0, 64, 1, 32, kSlider),
        Integer(V4L2_CID_SATURATION, "Saturation", 0, 128, 1, 64, kSlider),
        Boolean(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic", 1),
        Menu(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency", 1, 0, {"Disabled", "50 Hz", "60 Hz"}),
        Integer(V4L2_CID_WHITE_BALANCE_TEMPERATURE, "White Balance Temperature", 2800, 6500, 10, 4600,
                kSlider),
        Menu(V4L2_CID_EXPOSURE_AUTO, "Auto Exposure", 3, 0,
             {nullptr, "Manual Mode", nullptr, "Aperture Priority Mode"}),
        Integer(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure Time, Absolute", 3, 2047, 1, 250, 0),
        Button(V4L2_CID_PAN_RESET, "Pan, Reset"),
        // Enumerated before the automatic mode that governs it, as uvcvideo lists them.
        Integer(V4L2_CID_FOCUS_ABSOLUTE, "Focus, Absolute", 0, 250, 5, 0, kSlider),
        Boolean(V4L2_CID_FOCUS_AUTO, "Focus, Automatic Continuous", 1),
        // A speed: the zoom moves while it is not 0.
        Integer(V4L2_CID_ZOOM_CONTINUOUS, "Zoom, Continuous", -1, 1, 1, 0, 0),
    };
}

}  // namespace

// --- Open descriptors ---------------------------------------------------------------------------

enum class NodeKind { Video, Metadata, Input };

struct SimulatedOpenFile {
    SimulatedOpenFile(UniqueFd wake, SimulatedCamera* camera, NodeKind kind, bool nonBlocking,
                      uint64_t generation)
        : wake(std::move(wake)),
          camera(camera),
          kind(kind),
          nonBlocking(nonBlocking),
          generation(generation) {}

    UniqueFd wake;  // the descriptor the user holds; readable while Revents has something
    SimulatedCamera* camera;
    NodeKind kind;
    bool nonBlocking;
    uint64_t generation;  // of the camera's plug-in when opened

    // Guarded by the camera's stateLock.
    bool closed = false;
    bool signalled = false;
    std::deque<input_event> events;
};

// --- One camera ---------------------------------------------------------------------------------

struct SimulatedCamera::Impl {
    enum class Where { Dequeued, Queued, Filling, Done };
    struct Buffer {
        UniqueFd memory;
        MappedArea area;
        size_t mapLength = 0;
        uint32_t offset = 0;
        Where where = Where::Dequeued;
        bool mapped = false;
        uint32_t bytesUsed = 0;
        uint32_t sequence = 0;
        timeval timestamp{};
    };
    struct StreamFormat {
        uint32_t pixelFormat = 0;
        int width = 0;
        int height = 0;
        uint32_t bytesPerLine = 0;
        uint32_t sizeImage = 0;
        uint32_t interval = kUnitsPerSecond / 30;  // in 100 ns units
    };

    Impl(SimulatedDeviceFile& owner, SimulatedCameraDefinition definition, int videoNumber, int inputNumber)
        : owner(owner),
          definition(std::move(definition)),
          videoNumber(videoNumber),
          inputNumber(inputNumber) {
        ResetDevice();
    }

    SimulatedDeviceFile& owner;
    const SimulatedCameraDefinition definition;
    const int videoNumber;
    const int inputNumber;  // -1 without a button
    std::atomic<uint64_t> delivered{0};

    std::mutex controlLock;  // serialises starting and stopping the frame thread; taken before stateLock
    mutable std::mutex stateLock;  // guards everything below
    std::condition_variable stateChanged;
    bool plugged = true;
    uint64_t generation = 0;
    bool busy = false;
    int openError = 0;
    int streamOnError = 0;
    uint64_t bandwidth = 0;
    std::optional<StallKind> stall;
    int corruptCount = 0;
    CorruptFrame corruptKind = CorruptFrame::Truncated;
    int slowIntervalMs = 0;
    StreamFormat format;
    std::vector<Control> controls;
    std::vector<std::shared_ptr<SimulatedOpenFile>> files;
    const SimulatedOpenFile* queueOwner = nullptr;  // the descriptor that allocated the buffers
    std::vector<Buffer> buffers;
    std::deque<uint32_t> queued;
    std::deque<uint32_t> done;
    bool streaming = false;
    uint32_t sequence = 0;
    std::thread frameThread;
    bool stopFrames = false;

    std::string VideoPath() const { return "/dev/video" + std::to_string(videoNumber); }
    std::string MetadataPath() const {
        return definition.usb ? "/dev/video" + std::to_string(videoNumber + 1) : std::string();
    }
    std::string InputPath() const {
        return inputNumber >= 0 ? "/dev/input/event" + std::to_string(inputNumber) : std::string();
    }
    std::string UsbDevicePath() const {
        if (!definition.usb || definition.port.empty()) return {};
        return "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + definition.port;
    }

    void ResetDevice() {
        controls = StandardControls();
        stall.reset();
        format = {};
        if (!definition.formats.empty() && !definition.formats[0].sizes.empty()) {
            const SimulatedFrameSize& size = definition.formats[0].sizes[0];
            SetFormat(definition.formats[0].pixelFormat, size);
        }
    }

    void SetFormat(uint32_t pixelFormat, const SimulatedFrameSize& size) {
        format.pixelFormat = pixelFormat;
        format.width = size.width;
        format.height = size.height;
        FillSizes(format);
        format.interval = DefaultInterval(size);
    }

    static uint32_t DefaultInterval(const SimulatedFrameSize& size) {
        const std::vector<uint32_t> intervals = IntervalsOf(size);
        return intervals.empty() ? kUnitsPerSecond / 30 : intervals[0];
    }

    uint64_t BandwidthNeeded(const StreamFormat& f) const {
        const bool compressed = f.pixelFormat == V4L2_PIX_FMT_MJPEG || f.pixelFormat == V4L2_PIX_FMT_JPEG;
        const uint64_t perFrame = uint64_t{f.sizeImage} / (compressed ? kMjpgBandwidthShare : 1);
        return perFrame * kUnitsPerSecond / std::max<uint32_t>(1, f.interval);
    }

    static void FillSizes(StreamFormat& f) {
        const bool compressed = f.pixelFormat == V4L2_PIX_FMT_MJPEG || f.pixelFormat == V4L2_PIX_FMT_JPEG;
        f.bytesPerLine = compressed ? 0 : static_cast<uint32_t>(f.width) * 2;
        f.sizeImage = static_cast<uint32_t>(f.width) * f.height * 2;
    }

    const SimulatedFormat* FindFormat(uint32_t pixelFormat) const {
        for (const SimulatedFormat& f : definition.formats) {
            if (f.pixelFormat == pixelFormat) return &f;
        }
        return nullptr;
    }

    const SimulatedFrameSize* FindSize(uint32_t pixelFormat, int width, int height) const {
        const SimulatedFormat* f = FindFormat(pixelFormat);
        if (f == nullptr) return nullptr;
        for (const SimulatedFrameSize& size : f->sizes) {
            if (size.width == width && size.height == height) return &size;
        }
        return nullptr;
    }

    bool Alive(const SimulatedOpenFile& file) const { return plugged && file.generation == generation; }

    short Revents(const SimulatedOpenFile& file) const {
        if (file.closed) return POLLNVAL;
        if (!Alive(file))
            return file.kind == NodeKind::Input ? POLLERR | POLLHUP : POLLERR | POLLHUP | POLLPRI;
        switch (file.kind) {
            case NodeKind::Input:
                return file.events.empty() ? 0 : POLLIN | POLLRDNORM;
            case NodeKind::Metadata:
                return POLLERR;
            case NodeKind::Video:
                if (queueOwner != &file || !streaming) return POLLERR;
                return done.empty() ? 0 : POLLIN | POLLRDNORM;
        }
        return 0;
    }

    // Keeps every open descriptor readable exactly while poll has something to report, and wakes the
    // blocked callers. Called with stateLock held after every change.
    void Changed() {
        for (const auto& file : files) {
            if (!file->closed) SetWake(file->wake.Get(), file->signalled, Revents(*file) != 0);
        }
        stateChanged.notify_all();
    }

    // --- frames ---

    Clock::duration FrameInterval() const {
        const auto interval = std::chrono::duration_cast<Clock::duration>(
            std::chrono::nanoseconds(int64_t{std::max<uint32_t>(1, format.interval)} * 100));
        return std::max<Clock::duration>(interval, std::chrono::milliseconds(slowIntervalMs));
    }

    // Requires controlLock; drops stateLock while the thread ends.
    void StopFrameThread(std::unique_lock<std::mutex>& state) {
        if (!frameThread.joinable()) return;
        stopFrames = true;
        stateChanged.notify_all();
        std::thread ending = std::move(frameThread);
        state.unlock();
        ending.join();
        state.lock();
        stopFrames = false;
    }

    void RunFrames() {
        std::unique_lock state(stateLock);
        Clock::time_point last = Clock::now();
        while (!stopFrames) {
            // Recomputed after every wake, so that a change of the slow source counts at once.
            const Clock::duration interval = FrameInterval();
            const Clock::time_point due = last + interval;
            const Clock::time_point now = Clock::now();
            if (now < due) {
                stateChanged.wait_until(state, due);
                continue;
            }
            // On schedule without drift, unless the source fell a whole frame behind.
            last = now - due < interval ? due : now;

            if (stall) continue;  // nothing arrives, and nothing tells why
            const uint32_t frameSequence = sequence++;
            if (queued.empty()) continue;  // no buffer: the frame is lost, as on a real camera
            const uint32_t index = queued.front();
            queued.pop_front();
            Buffer& buffer = buffers[index];
            buffer.where = Where::Filling;
            const StreamFormat frameFormat = format;
            const bool jpeg = frameFormat.pixelFormat == V4L2_PIX_FMT_MJPEG;
            std::optional<CorruptFrame> damage;
            if (jpeg && corruptCount > 0) {
                --corruptCount;
                damage = corruptKind;
            }

            state.unlock();
            const uint32_t used = RenderFrame(frameFormat, static_cast<int>(frameSequence % kBarPhases),
                                              damage, buffer.area.Data());
            state.lock();
            if (stopFrames) break;
            buffer.where = Where::Done;
            buffer.bytesUsed = used;
            buffer.sequence = frameSequence;
            buffer.timestamp = NowTimeval(CLOCK_MONOTONIC);
            done.push_back(index);
            delivered.fetch_add(1, std::memory_order_relaxed);
            Changed();
        }
    }

    static uint32_t RenderFrame(const StreamFormat& f, int phase, std::optional<CorruptFrame> damage,
                                uint8_t* target) {
        switch (f.pixelFormat) {
            case V4L2_PIX_FMT_YUYV:
            case V4L2_PIX_FMT_UYVY:
                RenderPacked422(target, f.width, f.height, f.bytesPerLine, phase,
                                f.pixelFormat == V4L2_PIX_FMT_UYVY);
                return f.bytesPerLine * f.height;
            case V4L2_PIX_FMT_MJPEG: {
                const std::vector<uint8_t>& jpeg = CachedJpeg(f.width, f.height, phase);
                size_t size = std::min<size_t>(jpeg.size(), f.sizeImage);
                std::memcpy(target, jpeg.data(), size);
                if (damage == CorruptFrame::Truncated) {
                    size = size * 3 / 5;
                } else if (damage == CorruptFrame::Garbage) {
                    uint32_t noise = 0x2545F491u + static_cast<uint32_t>(phase);
                    for (size_t i = 2; i < size; ++i) {
                        noise = noise * 1664525u + 1013904223u;
                        target[i] = static_cast<uint8_t>(noise >> 24);
                    }
                }
                return static_cast<uint32_t>(size);
            }
            default:
                std::memset(target, 0x80, f.sizeImage);
                return f.sizeImage;
        }
    }

    // --- buffers ---

    void ReleaseQueue() {
        streaming = false;
        buffers.clear();
        queued.clear();
        done.clear();
        queueOwner = nullptr;
        sequence = 0;
    }

    int AllocateBuffers(uint32_t count) {
        const size_t mapLength = PageAlign(format.sizeImage);
        std::vector<Buffer> made(count);
        for (uint32_t i = 0; i < count; ++i) {
            Buffer& buffer = made[i];
            buffer.memory = UniqueFd(memfd_create("orvane-simulated-frame", MFD_CLOEXEC));
            if (buffer.memory.Get() < 0 ||
                ftruncate(buffer.memory.Get(), static_cast<off_t>(mapLength)) != 0) {
                return -ENOMEM;
            }
            void* area =
                ::mmap(nullptr, mapLength, PROT_READ | PROT_WRITE, MAP_SHARED, buffer.memory.Get(), 0);
            if (area == MAP_FAILED) return -ENOMEM;
            buffer.area = MappedArea(area, mapLength);
            buffer.mapLength = mapLength;
            buffer.offset = static_cast<uint32_t>(i * mapLength);
        }
        buffers = std::move(made);
        return 0;
    }

    void DescribeBuffer(uint32_t index, v4l2_buffer& b) const {
        const Buffer& buffer = buffers[index];
        b.index = index;
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.field = V4L2_FIELD_NONE;
        b.m.offset = buffer.offset;
        b.length = format.sizeImage;
        b.flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
        if (buffer.mapped) b.flags |= V4L2_BUF_FLAG_MAPPED;
        if (buffer.where == Where::Queued || buffer.where == Where::Filling) b.flags |= V4L2_BUF_FLAG_QUEUED;
        if (buffer.where == Where::Done) b.flags |= V4L2_BUF_FLAG_DONE;
        b.bytesused = buffer.where == Where::Done ? buffer.bytesUsed : 0;
        b.sequence = buffer.sequence;
        b.timestamp = buffer.timestamp;
    }

    int CheckOwner(const SimulatedOpenFile& file) const {
        return queueOwner != nullptr && queueOwner != &file ? -EBUSY : 0;
    }

    // --- ioctls ---

    int Ioctl(SimulatedOpenFile& file, unsigned long request, void* arg) {
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
                result = InputIoctl(request, arg);
                break;
        }
        Changed();
        return result;
    }

    void QueryCap(NodeKind kind, v4l2_capability& cap) const {
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

    void DescribeFormat(const StreamFormat& f, v4l2_format& out) const {
        std::memset(&out.fmt.pix, 0, sizeof out.fmt.pix);
        out.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        out.fmt.pix.width = static_cast<uint32_t>(f.width);
        out.fmt.pix.height = static_cast<uint32_t>(f.height);
        out.fmt.pix.pixelformat = f.pixelFormat;
        out.fmt.pix.field = V4L2_FIELD_NONE;
        out.fmt.pix.bytesperline = f.bytesPerLine;
        out.fmt.pix.sizeimage = f.sizeImage;
        out.fmt.pix.colorspace = V4L2_COLORSPACE_SRGB;
        out.fmt.pix.priv = V4L2_PIX_FMT_PRIV_MAGIC;
    }

    // The camera's answer to a wish: its format of that FOURCC (else its first format) and, among its
    // sizes, the one nearest in area and shape.
    StreamFormat NearestFormat(const v4l2_pix_format& wish) const {
        const SimulatedFormat* f = FindFormat(wish.pixelformat);
        if (f == nullptr) f = &definition.formats.front();
        const SimulatedFrameSize* best = nullptr;
        uint64_t bestDistance = UINT64_MAX;
        for (const SimulatedFrameSize& size : f->sizes) {
            const uint64_t w = static_cast<uint32_t>(size.width), h = static_cast<uint32_t>(size.height);
            const uint64_t overlap = std::min<uint64_t>(w, wish.width) * std::min<uint64_t>(h, wish.height);
            const uint64_t distance = w * h + uint64_t{wish.width} * wish.height - 2 * overlap;
            if (distance < bestDistance) best = &size, bestDistance = distance;
        }
        if (best == nullptr) return format;
        StreamFormat result;
        result.pixelFormat = f->pixelFormat;
        result.width = best->width;
        result.height = best->height;
        FillSizes(result);
        result.interval = DefaultInterval(*best);
        return result;
    }

    int VideoIoctl(SimulatedOpenFile& file, unsigned long request, void* arg,
                   std::unique_lock<std::mutex>& state) {
        constexpr uint32_t kCapture = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        switch (request) {
            case VIDIOC_QUERYCAP:
                QueryCap(NodeKind::Video, *static_cast<v4l2_capability*>(arg));
                return 0;

            case VIDIOC_ENUM_FMT: {
                auto& desc = *static_cast<v4l2_fmtdesc*>(arg);
                if (desc.type != kCapture || desc.index >= definition.formats.size()) return -EINVAL;
                const SimulatedFormat& f = definition.formats[desc.index];
                const uint32_t index = desc.index;
                std::memset(&desc, 0, sizeof desc);
                desc.index = index;
                desc.type = kCapture;
                desc.pixelformat = f.pixelFormat;
                if (f.pixelFormat == V4L2_PIX_FMT_MJPEG || f.pixelFormat == V4L2_PIX_FMT_JPEG) {
                    desc.flags = V4L2_FMT_FLAG_COMPRESSED;
                }
                CopyText(reinterpret_cast<char*>(desc.description), sizeof desc.description, f.description);
                return 0;
            }

            case VIDIOC_ENUM_FRAMESIZES: {
                auto& sizes = *static_cast<v4l2_frmsizeenum*>(arg);
                const SimulatedFormat* f = FindFormat(sizes.pixel_format);
                if (f == nullptr || sizes.index >= f->sizes.size()) return -EINVAL;
                sizes.type = V4L2_FRMSIZE_TYPE_DISCRETE;
                sizes.discrete.width = static_cast<uint32_t>(f->sizes[sizes.index].width);
                sizes.discrete.height = static_cast<uint32_t>(f->sizes[sizes.index].height);
                return 0;
            }

            case VIDIOC_ENUM_FRAMEINTERVALS: {
                auto& intervals = *static_cast<v4l2_frmivalenum*>(arg);
                const SimulatedFrameSize* size =
                    FindSize(intervals.pixel_format, static_cast<int>(intervals.width),
                             static_cast<int>(intervals.height));
                if (size == nullptr) return -EINVAL;
                const std::vector<uint32_t> offered = IntervalsOf(*size);
                if (intervals.index >= offered.size()) return -EINVAL;
                intervals.type = V4L2_FRMIVAL_TYPE_DISCRETE;
                intervals.discrete = SimplifiedInterval(offered[intervals.index]);
                return 0;
            }

            case VIDIOC_G_FMT: {
                auto& f = *static_cast<v4l2_format*>(arg);
                if (f.type != kCapture) return -EINVAL;
                DescribeFormat(format, f);
                return 0;
            }

            case VIDIOC_TRY_FMT:
            case VIDIOC_S_FMT: {
                auto& f = *static_cast<v4l2_format*>(arg);
                if (f.type != kCapture || definition.formats.empty()) return -EINVAL;
                if (request == VIDIOC_S_FMT && (busy || CheckOwner(file) != 0 || !buffers.empty()))
                    return -EBUSY;
                const StreamFormat nearest = NearestFormat(f.fmt.pix);
                if (request == VIDIOC_S_FMT) format = nearest;
                DescribeFormat(nearest, f);
                return 0;
            }

            case VIDIOC_G_PARM:
            case VIDIOC_S_PARM: {
                auto& parm = *static_cast<v4l2_streamparm*>(arg);
                if (parm.type != kCapture) return -EINVAL;
                if (request == VIDIOC_S_PARM) {
                    if (CheckOwner(file) != 0 || streaming) return -EBUSY;
                    SelectFrameRate(parm.parm.capture.timeperframe);
                }
                std::memset(&parm.parm, 0, sizeof parm.parm);
                parm.parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
                parm.parm.capture.timeperframe = SimplifiedInterval(format.interval);
                return 0;
            }

            case VIDIOC_REQBUFS:
                return RequestBuffers(file, *static_cast<v4l2_requestbuffers*>(arg), state);

            case VIDIOC_QUERYBUF:
            case VIDIOC_QBUF: {
                auto& b = *static_cast<v4l2_buffer*>(arg);
                if (b.type != kCapture || b.memory != V4L2_MEMORY_MMAP) return -EINVAL;
                if (const int busyResult = CheckOwner(file); busyResult != 0) return busyResult;
                if (b.index >= buffers.size()) return -EINVAL;
                if (request == VIDIOC_QBUF) {
                    if (buffers[b.index].where != Where::Dequeued) return -EINVAL;
                    buffers[b.index].where = Where::Queued;
                    queued.push_back(b.index);
                }
                DescribeBuffer(b.index, b);
                return 0;
            }

            case VIDIOC_DQBUF: {
                auto& b = *static_cast<v4l2_buffer*>(arg);
                if (b.type != kCapture || b.memory != V4L2_MEMORY_MMAP) return -EINVAL;
                if (const int busyResult = CheckOwner(file); busyResult != 0) return busyResult;
                if (!streaming) return -EINVAL;
                if (done.empty()) {
                    if (file.nonBlocking) return -EAGAIN;
                    stateChanged.wait(
                        state, [&] { return !done.empty() || !streaming || !Alive(file) || file.closed; });
                    if (file.closed) return -EBADF;
                    if (!Alive(file)) return -ENODEV;
                    if (!streaming) return -EINVAL;
                }
                const uint32_t index = done.front();
                done.pop_front();
                buffers[index].where = Where::Dequeued;
                DescribeBuffer(index, b);
                b.bytesused = buffers[index].bytesUsed;
                b.flags |= V4L2_BUF_FLAG_DONE;
                return 0;
            }

            case VIDIOC_STREAMON:
            case VIDIOC_STREAMOFF: {
                const auto type = *static_cast<const int*>(arg);
                if (type != static_cast<int>(kCapture)) return -EINVAL;
                if (const int busyResult = CheckOwner(file); busyResult != 0) return busyResult;
                if (request == VIDIOC_STREAMON) {
                    if (busy) return -EBUSY;
                    if (buffers.empty()) return -EINVAL;
                    if (streaming) return 0;
                    if (streamOnError != 0) return -streamOnError;
                    if (bandwidth != 0 && BandwidthNeeded(format) > bandwidth) return -ENOSPC;
                    if (stall == StallKind::UntilRestart) stall.reset();
                    streaming = true;
                    sequence = 0;
                    frameThread = std::thread([this] { RunFrames(); });
                    return 0;
                }
                streaming = false;
                StopFrameThread(state);
                for (Buffer& buffer : buffers) buffer.where = Where::Dequeued;
                queued.clear();
                done.clear();
                sequence = 0;
                return 0;
            }

            case VIDIOC_QUERY_EXT_CTRL:
                return QueryControl(*static_cast<v4l2_query_ext_ctrl*>(arg));
            case VIDIOC_QUERYMENU:
                return QueryMenu(*static_cast<v4l2_querymenu*>(arg));
            case VIDIOC_G_CTRL:
            case VIDIOC_S_CTRL:
                return AccessControl(request == VIDIOC_S_CTRL, *static_cast<v4l2_control*>(arg));

            default:
                return -ENOTTY;
        }
    }

    void SelectFrameRate(const v4l2_fract& wish) {
        const SimulatedFrameSize* size = FindSize(format.pixelFormat, format.width, format.height);
        if (size == nullptr) return;
        const std::vector<uint32_t> offered = IntervalsOf(*size);
        if (offered.empty()) return;
        if (wish.numerator == 0 || wish.denominator == 0) {
            format.interval = offered[0];
            return;
        }
        // As uvcvideo: the wish in 100 ns units, then the nearest interval the camera offers.
        const uint64_t wished = uint64_t{wish.numerator} * kUnitsPerSecond / wish.denominator;
        uint64_t bestDistance = UINT64_MAX;
        for (uint32_t interval : offered) {
            const uint64_t distance = interval > wished ? interval - wished : wished - interval;
            if (distance < bestDistance) bestDistance = distance, format.interval = interval;
        }
    }

    int RequestBuffers(SimulatedOpenFile& file, v4l2_requestbuffers& request,
                       std::unique_lock<std::mutex>& state) {
        if (request.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || request.memory != V4L2_MEMORY_MMAP) return -EINVAL;
        if (const int busyResult = CheckOwner(file); busyResult != 0) return busyResult;
        request.capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
        request.flags = 0;
        if (request.count == 0) {
            streaming = false;
            StopFrameThread(state);
            ReleaseQueue();
            return 0;
        }
        if (busy || streaming) return -EBUSY;
        ReleaseQueue();
        const uint32_t count = std::clamp(request.count, kMinBuffers, kMaxBuffers);
        if (const int result = AllocateBuffers(count); result != 0) return result;
        queueOwner = &file;
        request.count = count;
        return 0;
    }

    Control* FindControl(uint32_t id) {
        for (Control& control : controls) {
            if (control.id == id) return &control;
        }
        return nullptr;
    }

    uint32_t DynamicFlags(const Control& control) {
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

    int QueryControl(v4l2_query_ext_ctrl& query) {
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

    int QueryMenu(v4l2_querymenu& query) {
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

    int AccessControl(bool write, v4l2_control& access) {
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

    int MetadataIoctl(unsigned long request, void* arg) {
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

    int InputIoctl(unsigned long request, void* arg) {
        if (request == EVIOCGVERSION) {
            *static_cast<int*>(arg) = EV_VERSION;
            return 0;
        }
        if (request == EVIOCGID) {
            auto& id = *static_cast<input_id*>(arg);
            id.bustype = BUS_USB;
            id.vendor = static_cast<uint16_t>(std::strtoul(definition.vendorId.c_str(), nullptr, 16));
            id.product = static_cast<uint16_t>(std::strtoul(definition.modelId.c_str(), nullptr, 16));
            id.version = 0x0100;
            return 0;
        }
        if (_IOC_TYPE(request) != 'E' || _IOC_DIR(request) != _IOC_READ) return -ENOTTY;
        const size_t size = _IOC_SIZE(request);
        auto* out = static_cast<uint8_t*>(arg);
        const unsigned nr = _IOC_NR(request);
        if (nr == _IOC_NR(EVIOCGNAME(0)) || nr == _IOC_NR(EVIOCGPHYS(0))) {
            const std::string text =
                nr == _IOC_NR(EVIOCGNAME(0)) ? definition.card : definition.busInfo + "/button";
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

    ssize_t ReadEvents(SimulatedOpenFile& file, void* buffer, size_t size) {
        std::unique_lock state(stateLock);
        if (file.closed) return -EBADF;
        if (!Alive(file)) return -ENODEV;
        if (file.kind != NodeKind::Input) return -EINVAL;
        if (size < sizeof(input_event)) return -EINVAL;
        if (file.events.empty()) {
            if (file.nonBlocking) return -EAGAIN;
            stateChanged.wait(state, [&] { return !file.events.empty() || !Alive(file) || file.closed; });
            if (file.closed) return -EBADF;
            if (!Alive(file)) return -ENODEV;
        }
        size_t count = 0;
        auto* out = static_cast<input_event*>(buffer);
        while (!file.events.empty() && (count + 1) * sizeof(input_event) <= size) {
            out[count++] = file.events.front();
            file.events.pop_front();
        }
        Changed();
        return static_cast<ssize_t>(count * sizeof(input_event));
    }

    void* Map(SimulatedOpenFile& file, size_t length, int prot, int flags, off_t offset) {
        std::lock_guard state(stateLock);
        int error = 0;
        if (file.closed) {
            error = EBADF;
        } else if (!Alive(file) || file.kind == NodeKind::Input) {
            error = ENODEV;
        } else if (file.kind != NodeKind::Video || (flags & MAP_SHARED) == 0 || (prot & PROT_READ) == 0 ||
                   length == 0) {
            error = EINVAL;
        }
        Buffer* target = nullptr;
        for (Buffer& buffer : buffers) {
            if (error == 0 && static_cast<off_t>(buffer.offset) == offset) target = &buffer;
        }
        if (error == 0 && (target == nullptr || length > target->mapLength)) error = EINVAL;
        if (error != 0) {
            errno = error;
            return MAP_FAILED;
        }
        void* address = ::mmap(nullptr, length, prot, flags, target->memory.Get(), 0);
        if (address != MAP_FAILED) target->mapped = true;
        return address;
    }

    void Attach(const std::shared_ptr<SimulatedOpenFile>& file) {
        files.push_back(file);
        Changed();
    }

    void Detach(SimulatedOpenFile& file) {
        std::lock_guard control(controlLock);
        std::unique_lock state(stateLock);
        file.closed = true;
        if (queueOwner == &file) {
            streaming = false;
            StopFrameThread(state);
            ReleaseQueue();
        }
        std::erase_if(files, [&](const auto& open) { return open.get() == &file; });
        Changed();
    }

    std::vector<DeviceEvent> NodeEvents(const std::string& action) const {
        std::vector<DeviceEvent> events = {{action, "video4linux", VideoPath()}};
        if (!MetadataPath().empty()) events.push_back({action, "video4linux", MetadataPath()});
        if (!InputPath().empty()) events.push_back({action, "input", InputPath()});
        return events;
    }

    // What udev knows of a USB camera; a definition's empty fields give no property.
    std::vector<std::pair<std::string, std::string>> UsbProperties() const {
        std::string model = definition.card;
        std::replace(model.begin(), model.end(), ' ', '_');
        std::vector<std::pair<std::string, std::string>> properties = {
            {"ID_BUS", "usb"},
            {"ID_MODEL", model},
            {"ID_SERIAL", model + (definition.serial.empty() ? "" : "_" + definition.serial)},
            {"ID_USB_INTERFACE_NUM", "00"},
            {"ID_USB_DRIVER", definition.driver},
        };
        auto add = [&](const char* name, const std::string& value) {
            if (!value.empty()) properties.emplace_back(name, value);
        };
        add("ID_VENDOR_ID", definition.vendorId);
        add("ID_MODEL_ID", definition.modelId);
        add("ID_SERIAL_SHORT", definition.serial);
        add("ID_MODEL_FROM_DATABASE", definition.modelFromDatabase);
        if (!definition.port.empty()) {
            const std::string portPath = "pci-0000:00:14.0-usb-0:" + definition.port + ":1.0";
            std::string tag = portPath;
            std::replace_if(
                tag.begin(), tag.end(), [](char c) { return c == ':' || c == '.'; }, '_');
            add("ID_PATH", portPath);
            add("ID_PATH_TAG", tag);
        }
        return properties;
    }

    void AppendNodes(const std::string& subsystem, std::vector<DeviceNode>& nodes) const {
        std::lock_guard state(stateLock);
        if (!plugged) return;
        auto make = [&](const std::string& path, const std::string& capabilities) {
            DeviceNode node;
            node.node = path;
            node.subsystem = subsystem;
            node.usbDevice = UsbDevicePath();
            node.properties = {{"DEVNAME", path}, {"SUBSYSTEM", subsystem}};
            if (definition.usb) {
                node.usbProduct = definition.product;
                for (auto& property : UsbProperties()) node.properties.push_back(property);
            }
            if (subsystem == "video4linux") {
                node.properties.push_back({"ID_V4L_VERSION", "2"});
                node.properties.push_back({"ID_V4L_PRODUCT", definition.card});
                node.properties.push_back({"ID_V4L_CAPABILITIES", capabilities});
            } else {
                node.properties.push_back({"ID_INPUT", "1"});
                node.properties.push_back({"ID_INPUT_KEY", "1"});
            }
            nodes.push_back(std::move(node));
        };
        if (subsystem == "video4linux") {
            make(VideoPath(), ":capture:");
            if (!MetadataPath().empty()) make(MetadataPath(), ":");
        } else if (subsystem == "input" && !InputPath().empty()) {
            make(InputPath(), "");
        }
    }

    // The kind of node behind a path, when the camera is plugged in and has it.
    bool MatchNode(const std::string& path, NodeKind& kind) const {
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
};

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

// --- SimulatedCamera ----------------------------------------------------------------------------

SimulatedCamera::SimulatedCamera(SimulatedDeviceFile& owner, SimulatedCameraDefinition definition,
                                 int videoNumber, int inputNumber)
    : impl(std::make_unique<Impl>(owner, std::move(definition), videoNumber, inputNumber)) {}

SimulatedCamera::~SimulatedCamera() {
    std::lock_guard control(impl->controlLock);
    std::unique_lock state(impl->stateLock);
    impl->streaming = false;
    impl->StopFrameThread(state);
    impl->ReleaseQueue();
    for (const auto& file : impl->files) file->closed = true;
    impl->files.clear();
    impl->stateChanged.notify_all();
}

const SimulatedCameraDefinition& SimulatedCamera::Definition() const { return impl->definition; }
std::string SimulatedCamera::VideoNode() const { return impl->VideoPath(); }
std::string SimulatedCamera::MetadataNode() const { return impl->MetadataPath(); }
std::string SimulatedCamera::InputNode() const { return impl->InputPath(); }
std::string SimulatedCamera::UsbDevice() const { return impl->UsbDevicePath(); }

void SimulatedCamera::PressSnapshotButton() {
    std::lock_guard state(impl->stateLock);
    if (!impl->plugged) return;
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
    for (const auto& file : impl->files) {
        if (file->kind != NodeKind::Input || !impl->Alive(*file)) continue;
        file->events.push_back(event(EV_KEY, KEY_CAMERA, 1));
        file->events.push_back(event(EV_SYN, SYN_REPORT, 0));
        file->events.push_back(event(EV_KEY, KEY_CAMERA, 0));
        file->events.push_back(event(EV_SYN, SYN_REPORT, 0));
    }
    impl->Changed();
}

void SimulatedCamera::Unplug() {
    std::vector<DeviceEvent> events;
    {
        std::lock_guard control(impl->controlLock);
        std::unique_lock state(impl->stateLock);
        if (!impl->plugged) return;
        impl->plugged = false;
        ++impl->generation;
        impl->streaming = false;
        impl->StopFrameThread(state);
        impl->ReleaseQueue();
        for (const auto& file : impl->files) file->events.clear();
        impl->Changed();
        events = impl->NodeEvents("remove");
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
        events = impl->NodeEvents("add");
    }
    impl->owner.RaiseEvents(events);
}

bool SimulatedCamera::IsPlugged() const {
    std::lock_guard state(impl->stateLock);
    return impl->plugged;
}

void SimulatedCamera::SetBusy(bool busy) {
    std::lock_guard state(impl->stateLock);
    impl->busy = busy;
}

void SimulatedCamera::SetOpenError(int error) {
    std::lock_guard state(impl->stateLock);
    impl->openError = std::max(0, error);
}

void SimulatedCamera::SetStreamOnError(int error) {
    std::lock_guard state(impl->stateLock);
    impl->streamOnError = std::max(0, error);
}

void SimulatedCamera::SetUsbBandwidth(uint64_t bytesPerSecond) {
    std::lock_guard state(impl->stateLock);
    impl->bandwidth = bytesPerSecond;
}

void SimulatedCamera::StopDelivering(StallKind kind) {
    std::lock_guard state(impl->stateLock);
    impl->stall = kind;
    impl->stateChanged.notify_all();
}

void SimulatedCamera::CorruptNextMjpgFrames(int count, CorruptFrame kind) {
    std::lock_guard state(impl->stateLock);
    impl->corruptCount = std::max(0, count);
    impl->corruptKind = kind;
}

void SimulatedCamera::SetSlowSource(int frameIntervalMs) {
    std::lock_guard state(impl->stateLock);
    impl->slowIntervalMs = std::max(0, frameIntervalMs);
    impl->stateChanged.notify_all();
}

uint64_t SimulatedCamera::FramesDelivered() const { return impl->delivered.load(std::memory_order_relaxed); }

// --- SimulatedDeviceFile ------------------------------------------------------------------------

struct SimulatedDeviceFile::Monitor {
    UniqueFd wake;
    bool signalled = false;
    std::deque<DeviceEvent> events;
};

struct SimulatedDeviceFile::Tables {
    mutable std::mutex lock;  // guards everything below; taken before a camera's locks
    std::vector<std::unique_ptr<SimulatedCamera>> cameras;
    std::map<int, std::shared_ptr<SimulatedOpenFile>> files;
    std::map<int, Monitor> monitors;
    std::map<void*, size_t> mappings;
    int nextVideo = 0;
    int nextInput = 0;
};

namespace {

int Fail(int error) {
    errno = error;
    return -1;
}

}  // namespace

SimulatedDeviceFile::SimulatedDeviceFile() : tables(std::make_unique<Tables>()) {}

SimulatedDeviceFile::SimulatedDeviceFile(const std::vector<SimulatedCameraDefinition>& cameras)
    : SimulatedDeviceFile() {
    for (const SimulatedCameraDefinition& definition : cameras) AddCamera(definition);
}

SimulatedDeviceFile::~SimulatedDeviceFile() {
    std::vector<std::unique_ptr<SimulatedCamera>> cameras;
    {
        std::lock_guard guard(tables->lock);
        cameras = std::move(tables->cameras);
        tables->files.clear();
    }
    cameras.clear();
}

std::vector<SimulatedCameraDefinition> SimulatedDeviceFile::DemoCameras() {
    return {
        SimulatedCameraDefinition::UsbCamera("USB Microscope", "f0c1", "0a01", "MS2024001", "1"),
        SimulatedCameraDefinition::UsbCamera("HD Webcam", "f0c2", "0b02", "", "2"),
        SimulatedCameraDefinition::WifiCamera(),
    };
}

SimulatedCamera& SimulatedDeviceFile::AddCamera(const SimulatedCameraDefinition& definition) {
    SimulatedCamera* camera = nullptr;
    {
        std::lock_guard guard(tables->lock);
        const int video = tables->nextVideo;
        tables->nextVideo += definition.usb ? 2 : 1;
        int input = -1;
        if (definition.usb && definition.snapshotButton) input = tables->nextInput++;
        tables->cameras.push_back(
            std::unique_ptr<SimulatedCamera>(new SimulatedCamera(*this, definition, video, input)));
        camera = tables->cameras.back().get();
    }
    RaiseEvents(camera->impl->NodeEvents("add"));
    return *camera;
}

SimulatedCamera& SimulatedDeviceFile::Camera(size_t index) {
    std::lock_guard guard(tables->lock);
    return *tables->cameras.at(index);
}

size_t SimulatedDeviceFile::CameraCount() const {
    std::lock_guard guard(tables->lock);
    return tables->cameras.size();
}

size_t SimulatedDeviceFile::OpenDescriptors() const {
    std::lock_guard guard(tables->lock);
    return tables->files.size();
}

size_t SimulatedDeviceFile::MappedAreas() const {
    std::lock_guard guard(tables->lock);
    return tables->mappings.size();
}

std::shared_ptr<SimulatedOpenFile> SimulatedDeviceFile::FindFile(int fd) const {
    std::lock_guard guard(tables->lock);
    auto found = tables->files.find(fd);
    return found == tables->files.end() ? nullptr : found->second;
}

void SimulatedDeviceFile::RaiseEvents(const std::vector<DeviceEvent>& events) {
    std::lock_guard guard(tables->lock);
    for (auto& [fd, monitor] : tables->monitors) {
        for (const DeviceEvent& event : events) monitor.events.push_back(event);
        SetWake(fd, monitor.signalled, !monitor.events.empty());
    }
}

int SimulatedDeviceFile::Open(const std::string& path, int flags) {
    std::lock_guard guard(tables->lock);
    for (const auto& camera : tables->cameras) {
        NodeKind kind{};
        if (!camera->impl->MatchNode(path, kind)) continue;
        UniqueFd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (wake.Get() < 0) return -1;
        const int fd = wake.Get();
        SimulatedCamera::Impl& impl = *camera->impl;
        std::lock_guard state(impl.stateLock);
        if (kind == NodeKind::Video && impl.openError != 0) return Fail(impl.openError);
        auto file = std::make_shared<SimulatedOpenFile>(std::move(wake), camera.get(), kind,
                                                        (flags & O_NONBLOCK) != 0, impl.generation);
        impl.Attach(file);
        tables->files.emplace(fd, std::move(file));
        return fd;
    }
    return Fail(ENOENT);
}

int SimulatedDeviceFile::Close(int fd) {
    std::shared_ptr<SimulatedOpenFile> file;
    {
        std::lock_guard guard(tables->lock);
        auto found = tables->files.find(fd);
        if (found == tables->files.end()) return Fail(EBADF);
        file = std::move(found->second);
        tables->files.erase(found);
    }
    file->camera->impl->Detach(*file);
    return 0;
}

int SimulatedDeviceFile::Ioctl(int fd, unsigned long request, void* arg) {
    const std::shared_ptr<SimulatedOpenFile> file = FindFile(fd);
    if (!file) return Fail(EBADF);
    const int result = file->camera->impl->Ioctl(*file, request, arg);
    return result < 0 ? Fail(-result) : result;
}

void* SimulatedDeviceFile::Mmap(size_t length, int prot, int flags, int fd, off_t offset) {
    const std::shared_ptr<SimulatedOpenFile> file = FindFile(fd);
    if (!file) {
        errno = EBADF;
        return MAP_FAILED;
    }
    void* address = file->camera->impl->Map(*file, length, prot, flags, offset);
    if (address != MAP_FAILED) {
        std::lock_guard guard(tables->lock);
        tables->mappings[address] = length;
    }
    return address;
}

int SimulatedDeviceFile::Munmap(void* address, size_t length) {
    {
        std::lock_guard guard(tables->lock);
        tables->mappings.erase(address);
    }
    return ::munmap(address, length);
}

int SimulatedDeviceFile::Poll(struct pollfd* fds, nfds_t count, int timeoutMs) {
    std::vector<std::shared_ptr<SimulatedOpenFile>> simulated(count);
    // A simulated descriptor is readable while its camera has something to report; that is all the
    // kernel is asked to watch on it.
    std::vector<pollfd> watched(fds, fds + count);
    for (nfds_t i = 0; i < count; ++i) {
        simulated[i] = FindFile(fds[i].fd);
        if (simulated[i]) watched[i].events = POLLIN;
    }
    auto revents = [&](nfds_t i) -> short {
        SimulatedCamera::Impl& impl = *simulated[i]->camera->impl;
        std::lock_guard state(impl.stateLock);
        return static_cast<short>(impl.Revents(*simulated[i]) &
                                  (fds[i].events | POLLERR | POLLHUP | POLLNVAL));
    };
    auto left = [&](Clock::time_point deadline) {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return static_cast<int>(std::max<int64_t>(0, ms));
    };

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        bool ready = false;
        for (nfds_t i = 0; i < count; ++i) ready = ready || (simulated[i] && revents(i) != 0);
        const int wait = ready ? 0 : timeoutMs < 0 ? -1 : left(deadline);
        const int result = ::poll(watched.data(), count, wait);
        if (result < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        int events = 0;
        bool woken = false;
        for (nfds_t i = 0; i < count; ++i) {
            woken = woken || watched[i].revents != 0;
            fds[i].revents = simulated[i] ? revents(i) : watched[i].revents;
            if (fds[i].revents != 0) ++events;
        }
        if (events > 0 || (timeoutMs >= 0 && Clock::now() >= deadline)) return events;
        // Woken for an event the caller did not ask for: do not spin on it.
        if (woken)
            std::this_thread::sleep_for(
                std::chrono::milliseconds(timeoutMs < 0 ? 5 : std::min(5, left(deadline))));
    }
}

ssize_t SimulatedDeviceFile::Read(int fd, void* buffer, size_t size) {
    const std::shared_ptr<SimulatedOpenFile> file = FindFile(fd);
    if (!file) return Fail(EBADF);
    const ssize_t result = file->camera->impl->ReadEvents(*file, buffer, size);
    return result < 0 ? Fail(static_cast<int>(-result)) : result;
}

std::vector<DeviceNode> SimulatedDeviceFile::ListNodes(const std::string& subsystem) {
    std::vector<DeviceNode> nodes;
    std::lock_guard guard(tables->lock);
    for (const auto& camera : tables->cameras) camera->impl->AppendNodes(subsystem, nodes);
    auto number = [](const std::string& node) {
        const size_t digits = node.find_last_not_of("0123456789") + 1;
        return std::atoi(node.c_str() + digits);
    };
    std::stable_sort(nodes.begin(), nodes.end(), [&](const DeviceNode& a, const DeviceNode& b) {
        return number(a.node) < number(b.node);
    });
    return nodes;
}

int SimulatedDeviceFile::OpenMonitor() {
    UniqueFd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake.Get() < 0) return -1;
    const int fd = wake.Get();
    std::lock_guard guard(tables->lock);
    tables->monitors[fd].wake = std::move(wake);
    return fd;
}

bool SimulatedDeviceFile::ReadEvent(int monitorFd, DeviceEvent& event) {
    std::lock_guard guard(tables->lock);
    auto found = tables->monitors.find(monitorFd);
    if (found == tables->monitors.end() || found->second.events.empty()) return false;
    Monitor& monitor = found->second;
    event = std::move(monitor.events.front());
    monitor.events.pop_front();
    SetWake(monitorFd, monitor.signalled, !monitor.events.empty());
    return true;
}

void SimulatedDeviceFile::CloseMonitor(int monitorFd) {
    std::lock_guard guard(tables->lock);
    tables->monitors.erase(monitorFd);
}

}  // namespace orvane
