#pragma once

#include <QObject>
#include <QPoint>
#include <QTimer>
#include <cstdint>
#include <string>

class QLabel;

namespace orvane {

class CMainViewerDlg;

// The status line below the picture: what a toolbar button would do while the mouse is over it,
// otherwise what the viewer is doing (previewing, taking a photo, timed shots with the minutes
// left, recording with a growing row of dots). Interface thread only.
class CStatusPrompt final : public QObject {
    Q_OBJECT

public:
    static constexpr int kPeriodMs = 1000;

    CStatusPrompt(CMainViewerDlg& viewer, QLabel& line);

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

    CMainViewerDlg& viewer;
    QLabel& line;
    QTimer timer;
    uint8_t recordingDots = 0;
    std::string notice;
    int64_t noticeUntilMs = 0;
    int writes = 0;
};

}  // namespace orvane
