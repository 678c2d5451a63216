#pragma once

#include <cstdint>
#include <string>

#include "capture/movie_recorder.h"

namespace orvane {

class CSettingParamManage;

// The capture object's recordings, handed to the recording slot with the movie format of the current
// settings. Interface thread only.
class CRecordingControl final : public IMovieRecorder {
public:
    // settings: where the movie format comes from (nullptr: the process-wide manager).
    explicit CRecordingControl(const CSettingParamManage* settings = nullptr) : settings(settings) {}

    bool StartRecording(const std::string& path, int32_t framesPerSecond) override;
    void StopRecording() override;

private:
    const CSettingParamManage* settings;
};

}  // namespace orvane
