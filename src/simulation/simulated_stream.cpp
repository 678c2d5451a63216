#include "simulation/simulated_stream.h"

#include <poll.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "simulation/simulated_camera_impl.h"
#include "simulation/simulated_kernel_text.h"
#include "simulation/simulated_pattern.h"
#include "simulation/simulated_replay.h"

namespace orvane {

namespace {

constexpr uint32_t kMaxBuffers = 32;
constexpr uint32_t kMinBuffers = 2;

size_t PageAlign(size_t size) {
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

// Frame `sequence` of a replay, from its start again after its last frame.
uint32_t CopyReplayFrame(const ReplayFrames& replay, uint32_t sequence, const SimulatedStreamFormat& format,
                         uint8_t* target) {
    if (replay.Count() == 0) return 0;
    const size_t index = sequence % replay.Count();
    const size_t bytes = std::min<size_t>(replay.FrameBytes(index), format.sizeImage);
    std::memcpy(target, replay.Frame(index), bytes);
    return static_cast<uint32_t>(bytes);
}

}  // namespace

void SimulatedStream::Reset() {
    stall.reset();
    format = DefaultFormat(camera.definition);
}

int SimulatedStream::CheckOwner(const SimulatedOpenFile& file) const {
    return queueOwner != nullptr && queueOwner != &file ? -EBUSY : 0;
}

short SimulatedStream::Revents(const SimulatedOpenFile& file) const {
    if (queueOwner != &file || !streaming) return POLLERR;
    return done.empty() ? 0 : POLLIN | POLLRDNORM;
}

int SimulatedStream::Ioctl(SimulatedOpenFile& file, unsigned long request, void* arg,
                           std::unique_lock<std::mutex>& state) {
    constexpr uint32_t kCapture = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    switch (request) {
        case VIDIOC_G_FMT: {
            auto& f = *static_cast<v4l2_format*>(arg);
            if (f.type != kCapture) return -EINVAL;
            DescribeFormat(format, f);
            return 0;
        }

        case VIDIOC_TRY_FMT:
        case VIDIOC_S_FMT: {
            auto& f = *static_cast<v4l2_format*>(arg);
            if (f.type != kCapture || camera.definition.formats.empty()) return -EINVAL;
            if (request == VIDIOC_S_FMT && (busy || CheckOwner(file) != 0 || !buffers.empty())) return -EBUSY;
            const SimulatedStreamFormat nearest = NearestFormat(camera.definition, f.fmt.pix, format);
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
                SelectFrameRate(camera.definition, parm.parm.capture.timeperframe, format);
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
                camera.stateChanged.wait(
                    state, [&] { return !done.empty() || !streaming || !camera.Alive(file) || file.closed; });
                if (file.closed) return -EBADF;
                if (!camera.Alive(file)) return -ENODEV;
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

        default:
            return EnumerateFormats(camera.definition, request, arg);
    }
}

int SimulatedStream::RequestBuffers(SimulatedOpenFile& file, v4l2_requestbuffers& request,
                                    std::unique_lock<std::mutex>& state) {
    if (request.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || request.memory != V4L2_MEMORY_MMAP) return -EINVAL;
    if (const int busyResult = CheckOwner(file); busyResult != 0) return busyResult;
    request.capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
    request.flags = 0;
    if (request.count == 0) {
        Stop(state);
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

int SimulatedStream::AllocateBuffers(uint32_t count) {
    const size_t mapLength = PageAlign(format.sizeImage);
    std::vector<Buffer> made(count);
    for (uint32_t i = 0; i < count; ++i) {
        Buffer& buffer = made[i];
        buffer.memory = UniqueFd(memfd_create("orvane-simulated-frame", MFD_CLOEXEC));
        if (buffer.memory.Get() < 0 || ftruncate(buffer.memory.Get(), static_cast<off_t>(mapLength)) != 0) {
            return -ENOMEM;
        }
        void* area = ::mmap(nullptr, mapLength, PROT_READ | PROT_WRITE, MAP_SHARED, buffer.memory.Get(), 0);
        if (area == MAP_FAILED) return -ENOMEM;
        buffer.area = MappedArea(area, mapLength);
        buffer.mapLength = mapLength;
        buffer.offset = static_cast<uint32_t>(i * mapLength);
    }
    buffers = std::move(made);
    return 0;
}

void SimulatedStream::DescribeBuffer(uint32_t index, v4l2_buffer& b) const {
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

void* SimulatedStream::Map(const SimulatedOpenFile& file, size_t length, int prot, int flags, off_t offset) {
    int error = 0;
    if (file.closed) {
        error = EBADF;
    } else if (!camera.Alive(file) || file.kind == NodeKind::Input) {
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

void SimulatedStream::ReleaseQueue() {
    streaming = false;
    buffers.clear();
    queued.clear();
    done.clear();
    queueOwner = nullptr;
    sequence = 0;
}

void SimulatedStream::Stop(std::unique_lock<std::mutex>& state) {
    streaming = false;
    StopFrameThread(state);
    ReleaseQueue();
}

void SimulatedStream::StopFrameThread(std::unique_lock<std::mutex>& state) {
    if (!frameThread.joinable()) return;
    stopFrames = true;
    camera.stateChanged.notify_all();
    std::thread ending = std::move(frameThread);
    state.unlock();
    ending.join();
    state.lock();
    stopFrames = false;
}

SimulatedStream::Clock::duration SimulatedStream::FrameInterval() const {
    const auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(int64_t{std::max<uint32_t>(1, format.interval)} * 100));
    return std::max<Clock::duration>(interval, std::chrono::milliseconds(slowIntervalMs));
}

void SimulatedStream::RunFrames() {
    const ReplayFrames* replay = camera.definition.replay.get();
    std::unique_lock state(camera.stateLock);
    Clock::time_point last = Clock::now();
    while (!stopFrames) {
        // Recomputed after every wake, so that a change of the slow source counts at once.
        const Clock::duration interval = FrameInterval();
        const Clock::time_point due = last + interval;
        const Clock::time_point now = Clock::now();
        if (now < due) {
            camera.stateChanged.wait_until(state, due);
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
        const SimulatedStreamFormat frameFormat = format;
        std::optional<CorruptFrame> damage;
        if (frameFormat.pixelFormat == V4L2_PIX_FMT_MJPEG && corruptCount > 0) {
            --corruptCount;
            damage = corruptKind;
        }

        state.unlock();
        const uint32_t used =
            replay ? CopyReplayFrame(*replay, frameSequence, frameFormat, buffer.area.Data())
                   : RenderTestPattern(frameFormat, static_cast<int>(frameSequence % kSimulatedBarPhases),
                                       damage, buffer.area.Data());
        state.lock();
        if (stopFrames) break;
        buffer.where = Where::Done;
        buffer.bytesUsed = used;
        buffer.sequence = frameSequence;
        buffer.timestamp = NowTimeval(CLOCK_MONOTONIC);
        done.push_back(index);
        delivered.fetch_add(1, std::memory_order_relaxed);
        camera.Changed();
    }
}

}  // namespace orvane
