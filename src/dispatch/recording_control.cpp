#include "dispatch/recording_control.h"

#include "localization/localizable_string.h"
#include "recording/recording_slot.h"

namespace orvane {

IResourceWindow* CRecordingControl::SavedFiles() const {
    return owner != nullptr ? owner->GetResourceWindow() : nullptr;
}

bool CRecordingControl::StartRecording(const std::string& path, FrameRate rate) {
    if (settings != nullptr) return orvane::StartRecording(path, rate, *settings, SavedFiles());
    return orvane::StartRecording(path, rate, SavedFiles());
}

void CRecordingControl::StopRecording() {
    orvane::StopRecording(SavedFiles(),
                          CLocalizableString::GetInstance()->GetString(keys::kAlertCannotWriteFile));
}

}  // namespace orvane
