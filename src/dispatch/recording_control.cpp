#include "dispatch/recording_control.h"

#include "localization/localizable_string.h"
#include "recording/recording_slot.h"

namespace orvane {

bool CRecordingControl::StartRecording(const std::string& path, int32_t framesPerSecond) {
    if (settings != nullptr) return orvane::StartRecording(path, framesPerSecond, *settings);
    return orvane::StartRecording(path, framesPerSecond);
}

void CRecordingControl::StopRecording() {
    orvane::StopRecording(CLocalizableString::GetInstance()->GetString(keys::kAlertCannotWriteFile));
}

}  // namespace orvane
