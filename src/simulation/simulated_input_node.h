#pragma once

#include <sys/types.h>

#include <cstddef>

namespace orvane {

struct SimulatedCameraCore;
struct SimulatedOpenFile;

// The input node of a simulated camera's snapshot button: its identity ioctls and the KEY_CAMERA
// events read from it. Each open descriptor keeps its own event queue.
class SimulatedInputNode {
public:
    explicit SimulatedInputNode(SimulatedCameraCore& camera) : camera(camera) {}

    // EVIOCGVERSION, EVIOCGID, EVIOCGNAME, EVIOCGPHYS and EVIOCGBIT: the length written or 0, or a
    // negative errno. Called with the camera's stateLock held.
    int Ioctl(unsigned long request, void* arg) const;
    // Reads whole input_events; blocks while there is none unless the descriptor is non-blocking.
    // Bytes read or a negative errno. Takes the camera's stateLock.
    ssize_t Read(SimulatedOpenFile& file, void* buffer, size_t size) const;
    // Queues a press and a release for every live input descriptor. Takes the camera's stateLock.
    void PressButton() const;

private:
    SimulatedCameraCore& camera;
};

}  // namespace orvane
