#pragma once

#include <QObject>
#include <QPoint>
#include <QTimer>
#include <cstdint>
#include <string>

#include "localization/string_keys.h"

class QAbstractButton;
class QLabel;
class QWidget;

namespace orvane {

struct CaptureState;
class CLocalizableString;
class CSettingParamManage;

// What the status line needs of the viewer: its toolbar buttons and whether a camera is previewed.
// Interface thread only.
class IStatusPromptHost {
public:
    virtual ~IStatusPromptHost() = default;
    // The toolbar button with this id; null when there is none.
    virtual QAbstractButton* Button(int controlId) const = 0;
    virtual bool HasCurrentDevice() const = 0;
    // Why nothing is previewed: the cannot-preview text while cameras are listed, else no camera.
    virtual std::string GetPreviewErrorText() = 0;
};

// The status line below the picture: what a toolbar button would do while the mouse is over it,
// otherwise what the viewer is doing (previewing, taking a photo, timed shots with the minutes
// left, recording with a growing row of dots). Interface thread only.
class CStatusPrompt final : public QObject {
    Q_OBJECT

public:
    static constexpr int kPeriodMs = 1000;

    // `window`: the window whose coordinates UpdatePrompt takes and whose buttons the host names.
    CStatusPrompt(IStatusPromptHost& host, QWidget& window, QLabel& line, const CSettingParamManage& settings,
                  CLocalizableString& strings, const CaptureState& state);

    // The one-second refresh from the cursor position.
    void Start();
    void Stop();
    bool IsRunning() const { return timer.isActive(); }

    // `point` in the viewer's coordinates. With onlyButtons only a button's help is shown; over no
    // button the line and the dots stay as they are.
    void UpdatePrompt(QPoint point, bool onlyButtons);
    // Writes the text only when it differs from what the line shows.
    void SetPrompt(const std::string& text);
    // Shows `text` at once and keeps it, while no capture action runs, for kNoticeMs.
    void ShowNotice(const std::string& text);
    static constexpr int64_t kNoticeMs = 15000;
    // Ends the notice of `text` at once, should it still be kept; any other stays.
    void WithdrawNotice(const std::string& text);

    uint8_t RecordingDots() const { return recordingDots; }
    // How often the line was actually written.
    int Writes() const { return writes; }

private:
    void OnTick();
    // The control id of the toolbar button under `point`, 0 for none.
    int ButtonAt(QPoint point) const;
    std::string ButtonText(int controlId);
    std::string StateText();
    // "%d X %d"
    static std::string SizeText(int32_t width, int32_t height);

    std::string Text(const StringKey& text) const;

    IStatusPromptHost& host;
    QWidget& window;
    QLabel& line;
    const CSettingParamManage& settings;
    CLocalizableString& strings;
    const CaptureState& state;
    QTimer timer;
    uint8_t recordingDots = 0;
    std::string notice;
    int64_t noticeUntilMs = 0;
    int writes = 0;
};

}  // namespace orvane
