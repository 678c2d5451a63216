#pragma once

#include <cstdint>
#include <string>

namespace orvane {

// Where the capture object's recordings go: the recording slot, reached through the dispatch layer.
// Interface thread only.
class IMovieRecorder {
public:
    virtual ~IMovieRecorder() = default;
    // Starts a recording of the frames that follow into `path` (without extension). False when none
    // could be started.
    virtual bool StartRecording(const std::string& path, int32_t framesPerSecond) = 0;
    // Finishes the running recording; nothing when none runs.
    virtual void StopRecording() = 0;
};

}  // namespace orvane
