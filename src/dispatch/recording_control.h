#pragma once

#include <cstdint>
#include <string>

#include "capture/movie_recorder.h"
#include "dispatch/grabber_owner.h"

namespace orvane {

class CSettingParamManage;

// The capture object's recordings, handed to the recording slot with the movie format of the current
// settings. A finished movie is announced to the owner's resource window, the way the photo saver
// announces a photo. Interface thread only.
class CRecordingControl final : public IMovieRecorder {
public:
    // settings: where the movie format comes from (nullptr: the process-wide manager). owner: whose
    // resource window hears of finished movies (nullptr: no one); it must outlive this object.
    explicit CRecordingControl(const CSettingParamManage* settings = nullptr, IGrabberOwner* owner = nullptr)
        : settings(settings), owner(owner) {}

    bool StartRecording(const std::string& path, FrameRate rate) override;
    void StopRecording() override;

private:
    IResourceWindow* SavedFiles() const;

    const CSettingParamManage* settings;
    IGrabberOwner* owner;
};

}  // namespace orvane
