#pragma once

#include <linux/videodev2.h>
#include <sys/mman.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "base/unique_fd.h"
#include "simulation/simulated_camera.h"
#include "simulation/simulated_format.h"

namespace orvane {

struct SimulatedCameraCore;
struct SimulatedOpenFile;

// The video node's stream of a simulated camera: its format, the memory-mapped buffer queue and the
// thread that fills queued buffers with the test pattern at the frame rate. Everything here is guarded
// by the camera's stateLock; the methods are called with it held unless they say otherwise.
class SimulatedStream {
public:
    explicit SimulatedStream(SimulatedCameraCore& camera) : camera(camera) {}
    SimulatedStream(const SimulatedStream&) = delete;
    SimulatedStream& operator=(const SimulatedStream&) = delete;

    // The camera's first format and no stall, as after plugging it in.
    void Reset();

    // The video node's format, frame rate, buffer and streaming ioctls: 0 or a negative errno, -ENOTTY
    // for any other request. REQBUFS, STREAMON and STREAMOFF need the camera's controlLock as well;
    // DQBUF and stopping the frame thread let go of `state` while they wait.
    int Ioctl(SimulatedOpenFile& file, unsigned long request, void* arg, std::unique_lock<std::mutex>& state);
    // What poll reports on a live video descriptor.
    short Revents(const SimulatedOpenFile& file) const;
    // Maps the buffer at `offset` for `file`; MAP_FAILED with errno set when that is refused.
    void* Map(const SimulatedOpenFile& file, size_t length, int prot, int flags, off_t offset);
    // Ends streaming and frees the buffers. Requires controlLock; drops `state` while the frame
    // thread ends.
    void Stop(std::unique_lock<std::mutex>& state);
    // True when `file` allocated the buffers.
    bool OwnedBy(const SimulatedOpenFile& file) const { return queueOwner == &file; }

    // What the camera's owner sets (see SimulatedCamera).
    bool busy = false;
    int streamOnError = 0;
    uint64_t bandwidth = 0;
    std::optional<StallKind> stall;
    int corruptCount = 0;
    CorruptFrame corruptKind = CorruptFrame::Truncated;
    int slowIntervalMs = 0;
    std::atomic<uint64_t> delivered{0};  // read without the lock

private:
    using Clock = std::chrono::steady_clock;

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

    int CheckOwner(const SimulatedOpenFile& file) const;
    int RequestBuffers(SimulatedOpenFile& file, v4l2_requestbuffers& request,
                       std::unique_lock<std::mutex>& state);
    int AllocateBuffers(uint32_t count);
    void DescribeBuffer(uint32_t index, v4l2_buffer& b) const;
    void ReleaseQueue();
    void StopFrameThread(std::unique_lock<std::mutex>& state);
    Clock::duration FrameInterval() const;
    void RunFrames();

    SimulatedCameraCore& camera;
    SimulatedStreamFormat format;
    const SimulatedOpenFile* queueOwner = nullptr;  // the descriptor that allocated the buffers
    std::vector<Buffer> buffers;
    std::deque<uint32_t> queued;
    std::deque<uint32_t> done;
    bool streaming = false;
    uint32_t sequence = 0;
    std::thread frameThread;
    bool stopFrames = false;
};

}  // namespace orvane
