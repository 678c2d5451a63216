#include "recording/recording_slot.h"

#include "base/alert_sink.h"
#include "base/text.h"
#include "config/setting_param_manage.h"
#include "recording/ffmpeg_avi_output.h"
#include "recording/ffmpeg_output.h"
#include "recording/first_video_frame.h"

namespace orvane {

std::mutex g_recordingLock;
std::unique_ptr<IVideoOutput> g_recordingOutput;

bool StartRecording(const std::string& path, FrameRate rate, IResourceWindow* savedFiles) {
    return StartRecording(path, rate, *CSettingParamManage::GetInstance(), savedFiles);
}

bool StartRecording(const std::string& path, FrameRate rate, const CSettingParamManage& settings,
                    IResourceWindow* savedFiles) {
    bool running = false;
    {
        std::lock_guard<std::mutex> guard(g_recordingLock);
        running = g_recordingOutput != nullptr;
    }
    if (running) StopRecording(savedFiles);

    std::unique_ptr<IVideoOutput> output;
    switch (settings.GetUsingParam().movieformat) {
        case 0:
            output = std::make_unique<FFMPEGAVIOutput>();
            break;
        case 1:
            output = std::make_unique<FFMPEGOutput>();
            break;
        default:
            return false;
    }
    output->Start(path, rate);
    std::lock_guard<std::mutex> guard(g_recordingLock);
    g_recordingOutput = std::move(output);
    return true;
}

void StopRecording(IResourceWindow* savedFiles, const std::string& cannotWriteText) {
    std::unique_ptr<IVideoOutput> output;
    {
        std::lock_guard<std::mutex> guard(g_recordingLock);
        output = std::move(g_recordingOutput);
    }
    if (output == nullptr) return;
    // Closing encodes up to a queue of frames and writes the index: the streaming thread, which takes
    // the lock for every frame, must not wait for that.
    const bool closed = output->Close() >= 0;
    const std::string fileName = output->GetFileName();
    const std::string reason = output->GetCloseErrorText();
    output.reset();

    if (!closed) {
        ShowAlert(Format(cannotWriteText, fileName + ": " + reason));
    }
    // A recording that never received a frame created no file, and a disk that filled before the
    // first frames reached it left one that nothing can play: neither is put into the panel.
    if (savedFiles != nullptr && IsPlayableMovie(fileName)) savedFiles->AddSavedFile(fileName);
}

}  // namespace orvane
