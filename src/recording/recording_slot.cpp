#include "recording/recording_slot.h"

#include <sys/stat.h>

#include "config/setting_param_manage.h"
#include "recording/ffmpeg_avi_output.h"
#include "recording/ffmpeg_output.h"
#include "recording/saved_file_sink.h"

namespace orvane {

std::mutex g_recordingLock;
std::unique_ptr<IVideoOutput> g_recordingOutput;

bool StartRecording(const std::string& path, FrameRate rate) {
    return StartRecording(path, rate, *CSettingParamManage::GetInstance());
}

bool StartRecording(const std::string& path, FrameRate rate, const CSettingParamManage& settings) {
    bool running = false;
    {
        std::lock_guard<std::mutex> guard(g_recordingLock);
        running = g_recordingOutput != nullptr;
    }
    if (running) StopRecording();

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

void StopRecording() {
    std::string fileName;
    {
        std::lock_guard<std::mutex> guard(g_recordingLock);
        if (g_recordingOutput == nullptr) return;
        g_recordingOutput->Close();
        fileName = g_recordingOutput->GetFileName();
        g_recordingOutput.reset();
    }
    // A recording that never received a frame created no file; announcing one would put a
    // movie into the panel that cannot be opened.
    struct stat info {};
    if (::stat(fileName.c_str(), &info) == 0 && S_ISREG(info.st_mode)) AddSavedFile(fileName);
}

}  // namespace orvane
