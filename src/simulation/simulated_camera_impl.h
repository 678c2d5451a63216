#pragma once

// The inside of a simulated camera, shared by the files of this folder only.

#include <linux/input.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "simulation/simulated_camera.h"
#include "simulation/simulated_controls.h"
#include "simulation/simulated_input_node.h"
#include "simulation/simulated_stream.h"

namespace orvane {

enum class NodeKind { Video, Metadata, Input };

// One descriptor handed out by SimulatedDeviceFile::Open.
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

// The state of one camera and what its three nodes share: the plug state, the open descriptors and
// the locks. The video node's stream, the control table and the button's input node are parts of
// their own.
struct SimulatedCameraCore {
    SimulatedCameraCore(SimulatedDeviceFile& owner, SimulatedCameraDefinition definition, int videoNumber,
                        int inputNumber);

    SimulatedDeviceFile& owner;
    const SimulatedCameraDefinition definition;
    const int videoNumber;
    const int inputNumber;  // -1 without a button

    std::mutex controlLock;  // serialises starting and stopping the frame thread; taken before stateLock
    mutable std::mutex stateLock;  // guards everything below and the state of the parts
    std::condition_variable stateChanged;
    bool plugged = true;
    uint64_t generation = 0;
    int openError = 0;
    std::vector<std::shared_ptr<SimulatedOpenFile>> files;
    SimulatedControls controls;
    SimulatedStream stream{*this};
    SimulatedInputNode input{*this};

    std::string VideoPath() const;
    std::string MetadataPath() const;
    std::string InputPath() const;
    std::string UsbDevicePath() const;

    // Back to the state of a camera just plugged in. Requires stateLock.
    void ResetDevice();
    // The descriptor was opened since the camera was last plugged in and it is still there.
    bool Alive(const SimulatedOpenFile& file) const { return plugged && file.generation == generation; }
    // What poll reports on the descriptor. Requires stateLock.
    short Revents(const SimulatedOpenFile& file) const;
    // Keeps every open descriptor readable exactly while poll has something to report, and wakes the
    // blocked callers. Called with stateLock held after every change.
    void Changed();

    // The descriptor's ioctl: the result or a negative errno.
    int Ioctl(SimulatedOpenFile& file, unsigned long request, void* arg);
    void* Map(SimulatedOpenFile& file, size_t length, int prot, int flags, off_t offset);
    void Attach(const std::shared_ptr<SimulatedOpenFile>& file);
    void Detach(SimulatedOpenFile& file);
    // The kind of node behind a path, when the camera is plugged in and has it.
    bool MatchNode(const std::string& path, NodeKind& kind) const;

private:
    void QueryCap(NodeKind kind, v4l2_capability& cap) const;
    int VideoIoctl(SimulatedOpenFile& file, unsigned long request, void* arg,
                   std::unique_lock<std::mutex>& state);
    int MetadataIoctl(unsigned long request, void* arg) const;
};

struct SimulatedCamera::Impl : SimulatedCameraCore {
    using SimulatedCameraCore::SimulatedCameraCore;
};

}  // namespace orvane
