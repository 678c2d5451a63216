#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "capture/capture_state.h"
#include "config/setting.h"
#include "localization/string_keys.h"

namespace orvane {

class CCaptureVideo;
class CLocalizableString;
class CSampleGrabberCB;
class CSavingLoactionManage;
class CSettingParamManage;

// The three capture actions of the toolbar.
enum class CaptureAction { TakePhoto, TimedShot, Recording };

// What the capture controller asks of the window that shows it. Interface thread only.
class ICaptureView {
public:
    virtual ~ICaptureView() = default;
    // Sets the action buttons (the three actions, settings and about) to `enable`; when disabling,
    // the button of `keep` stays enabled so that the running action can be stopped.
    virtual void EnableActions(bool enable, std::optional<CaptureAction> keep) = 0;
    virtual void SetActionCaption(CaptureAction action, const std::string& caption) = 0;
    // Brings the browser column back, so that the file about to be saved can be seen arriving.
    virtual void ShowLeftColumn() = 0;
    // Tells of something that happened without the user asking (an action that ended by itself),
    // on the status line and in a notice that does not stop the program.
    virtual void ShowNotice(const std::string& text) = 0;
    // Takes back a notice of `text` that no longer holds, wherever it still shows.
    virtual void WithdrawNotice(const std::string& text) = 0;
    // The device side: whether a camera is previewed, the warning when none is, and a restart of
    // the preview at another size (false when that failed or nothing is previewed).
    virtual bool HasCurrentDevice() const = 0;
    virtual void ShowPreviewError() = 0;
    virtual bool ApplyCaptureSize(int32_t width, int32_t height) = 0;
};

// The services the controller works with; every member must be set and outlive the controller.
struct CaptureControllerServices {
    CSettingParamManage* settings = nullptr;
    CSavingLoactionManage* locations = nullptr;
    CLocalizableString* strings = nullptr;
    CCaptureVideo* session = nullptr;
    CSampleGrabberCB* grabber = nullptr;  // the preview dispatcher, which runs the timed series
};

// The capture actions of the main viewer and their states, without any window code: a single photo
// (its buttons come back when the saver reports the attempt), a timed series and a recording (each
// keeps its own button enabled to stop it), their ends (asked by the button, by the dispatcher's
// messages or by a lost camera) and the exit question. The dispatcher reads State() on every frame.
//
//   idle --TakePhoto--> photo pending --OnShotDone--> idle
//   idle --ToggleTimedShots--> series running --ToggleTimedShots / OnTimedShotEnd--> idle
//   idle --ToggleRecording--> recording --ToggleRecording / OnRecordingEnd--> idle
//   any --StopActions--> idle
//
// Interface thread only, except State(), which the streaming threads read.
class CCaptureController {
public:
    CCaptureController(const CaptureControllerServices& services, ICaptureView& view);

    CCaptureController(const CCaptureController&) = delete;
    CCaptureController& operator=(const CCaptureController&) = delete;

    CaptureState& State() { return state; }
    const CaptureState& State() const { return state; }
    bool IsPhotoPending() const;
    bool IsTimedShotRunning() const;
    bool IsRecording() const;

    // The toolbar's commands. Each checks the storage folder, the settings and the camera first and
    // warns instead of starting when one of them is missing.
    void TakePhoto();
    void ToggleTimedShots();
    void ToggleRecording();

    // The dispatcher's and the saver's messages. A late message for an action that has ended since
    // changes nothing.
    void OnShotDone();
    void OnTimedShotEnd();
    void OnRecordingEnd();

    void EndTimedShots();
    void EndRecording();
    // Leaves every capture action: a pending photo is given up, the series and the recording end.
    void StopActions();
    // The previewed camera was pulled out: every action ends, and a series or recording that was
    // running is told to have ended (also in full screen, where the no-camera box is not shown).
    // True when that was told.
    bool EndActionsForRemovedCamera();
    // Whether the camera's frames can be used: a notice when they stopped being, taken back when they
    // come again. Once per run of unusable frames.
    void OnFramesUnreadable(bool unreadable);

    // The captions of the series and recording buttons for the current states and language.
    void UpdateCaptions();
    // The question to ask before exiting, which names a running series or recording.
    std::string ExitQuestion() const;
    // Creates the storage folders and returns true when the user folder exists; otherwise warns.
    bool CheckStorageFolder();

    // The capture size the recording replaced; restored when it ends.
    const CaptureResolution& ResolutionBeforeRecording() const { return resolutionBeforeRecording; }
    void SetResolutionBeforeRecording(const CaptureResolution& resolution) {
        resolutionBeforeRecording = resolution;
    }

private:
    static bool RecordingOutputRunning();
    std::string Text(const StringKey& key) const;

    const CaptureControllerServices services;
    ICaptureView& view;
    CaptureState state;
    CaptureResolution resolutionBeforeRecording;
    bool unreadableNoticeShown = false;
};

}  // namespace orvane
