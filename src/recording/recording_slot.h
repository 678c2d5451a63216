#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/frame_rate.h"
#include "base/resource_window.h"
#include "recording/video_output.h"

namespace orvane {

class CSettingParamManage;

// The running recording, if any. The streaming thread writes frames to it only while it holds
// g_recordingLock; StartRecording and StopRecording take the same lock to change it. The lock is
// taken before an output's own queue lock, never the other way round.
extern std::mutex g_recordingLock;
extern std::unique_ptr<IVideoOutput> g_recordingOutput;  // guarded by g_recordingLock

// Interface thread. Stops a running recording first (as StopRecording, announcing its movie to
// `savedFiles`), then starts an output for `path` (no extension) by the current "movieformat": 0 an
// AVI, 1 an MP4; any other value starts nothing. True when a recording was started.
bool StartRecording(const std::string& path, FrameRate rate, IResourceWindow* savedFiles = nullptr);
// The same with the settings taken from `settings` instead of the process-wide manager.
bool StartRecording(const std::string& path, FrameRate rate, const CSettingParamManage& settings,
                    IResourceWindow* savedFiles = nullptr);

// Interface thread. Takes the running recording out of the slot, so that the streaming thread goes on
// at once, and finishes it: the queued frames are encoded and the file is closed. A file that could
// not be written whole is told with an alert ("Cannot write file: ..."); the movie is announced to
// `savedFiles` (nullptr: to no one) only when its first picture decodes. Nothing when no recording
// runs. `cannotWriteText`: the alert's text in the user's language, with one %s for the file and the
// reason.
void StopRecording(IResourceWindow* savedFiles = nullptr,
                   const std::string& cannotWriteText = "Cannot write file: %s");

}  // namespace orvane
