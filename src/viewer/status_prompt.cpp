#include "viewer/status_prompt.h"

#include <QAbstractButton>
#include <QCursor>
#include <QLabel>

#include "base/clock.h"
#include "base/text.h"
#include "config/setting_param_manage.h"
#include "dispatch/sample_grabber_cb.h"
#include "localization/localizable_string.h"
#include "viewer/viewer_controls.h"

namespace orvane {

namespace {

// The six buttons with a help text, in the order they are tested.
constexpr int kHelpButtons[] = {viewer_id::kTakePhoto, viewer_id::kTimedShot, viewer_id::kRecording,
                                viewer_id::kSettings,  viewer_id::kAbout,     viewer_id::kExit};

const char* const kDots[] = {"", "\u25CF", "\u25CF\u25CF", "\u25CF\u25CF\u25CF"};

}  // namespace

CStatusPrompt::CStatusPrompt(IStatusPromptHost& host_, QWidget& window_, QLabel& line_,
                             const CSettingParamManage& settings_, CLocalizableString& strings_,
                             const CaptureState& state_)
    : host(host_), window(window_), line(line_), settings(settings_), strings(strings_), state(state_) {
    timer.setInterval(kPeriodMs);
    connect(&timer, &QTimer::timeout, this, &CStatusPrompt::OnTick);
}

void CStatusPrompt::Start() { timer.start(); }

void CStatusPrompt::Stop() { timer.stop(); }

void CStatusPrompt::OnTick() { UpdatePrompt(window.mapFromGlobal(QCursor::pos()), false); }

std::string CStatusPrompt::Text(const StringKey& text) const { return strings.GetString(text); }

void CStatusPrompt::ShowNotice(const std::string& text) {
    notice = text;
    noticeUntilMs = NowMs() + kNoticeMs;
    SetPrompt(text);
}

void CStatusPrompt::WithdrawNotice(const std::string& text) {
    if (notice != text) return;
    notice.clear();
    noticeUntilMs = 0;
    if (line.text() == QString::fromStdString(text)) SetPrompt(StateText());
}

std::string CStatusPrompt::SizeText(int32_t width, int32_t height) {
    return Format("%d X %d", width, height);
}

int CStatusPrompt::ButtonAt(QPoint point) const {
    for (int id : kHelpButtons) {
        const QAbstractButton* button = host.Button(id);
        if (button == nullptr) continue;
        const QRect area(button->mapTo(&window, QPoint(0, 0)), button->size());
        if (area.contains(point)) return id;
    }
    return 0;
}

std::string CStatusPrompt::ButtonText(int id) {
    const CSettingParam param = settings.GetUsingParam();
    const CaptureResolution& r = param.GetCaptureResolution();
    const CaptureResolution m = param.GetMovieResolution();
    const bool noDevice = !host.HasCurrentDevice();
    switch (id) {
        case viewer_id::kTakePhoto:
            if (noDevice) return host.GetPreviewErrorText();
            return Format(Text(keys::kPromptInTakeAPhotoBtn), SizeText(r.width, r.height));
        case viewer_id::kTimedShot:
            if (noDevice) return host.GetPreviewErrorText();
            if (state.timedShotRunning.load(std::memory_order_acquire) == 0) {
                return Format(Text(keys::kPromptInStartTimedShotBtn), SizeText(r.width, r.height));
            }
            return Text(keys::kPromptInStopTimedShotBtn);
        case viewer_id::kRecording:
            if (noDevice) return host.GetPreviewErrorText();
            if (state.recordingRunning.load(std::memory_order_acquire) == 0) {
                return Format(Text(keys::kPromptInStartRecordingBtn), SizeText(m.width, m.height));
            }
            return Text(keys::kPromptInStopRecordingBtn);
        case viewer_id::kSettings:
            return Text(keys::kPromptInSettingBtn);
        case viewer_id::kAbout:
            return Text(keys::kPromptInAboutBtn);
        case viewer_id::kExit:
            return Text(keys::kPromptInExitBtn);
        default:
            return {};
    }
}

std::string CStatusPrompt::StateText() {
    const CSettingParam param = settings.GetUsingParam();
    const CaptureResolution& r = param.GetCaptureResolution();
    const CaptureResolution m = param.GetMovieResolution();
    if (state.shotPending.load(std::memory_order_acquire) == 1) {
        return Format(Text(keys::kPromptDoingTakingAShot), SizeText(r.width, r.height));
    }
    if (state.timedShotRunning.load(std::memory_order_acquire) == 1) {
        const int64_t total = param.GetTimedShotMinutes();
        const double elapsedMs = static_cast<double>(NowMs() - g_previewGrabber.timedStartMs.load());
        const auto elapsedMinutes = static_cast<int64_t>(elapsedMs / 60000.0);
        return Format(Text(keys::kPromptDoingTimedShot), SizeText(r.width, r.height), total,
                      total - elapsedMinutes);
    }
    if (state.recordingRunning.load(std::memory_order_acquire) == 1) {
        std::string text = Format(Text(keys::kPromptDoingRecording), SizeText(m.width, m.height));
        text += kDots[recordingDots & 3];
        recordingDots = static_cast<uint8_t>((recordingDots + 1) % 4);
        return text;
    }
    recordingDots = 0;
    if (!notice.empty() && NowMs() < noticeUntilMs) return notice;
    if (!host.HasCurrentDevice()) return host.GetPreviewErrorText();
    return Format(Text(keys::kPromptDoingPreview), SizeText(r.width, r.height));
}

void CStatusPrompt::UpdatePrompt(QPoint point, bool onlyButtons) {
    if (const int id = ButtonAt(point); id != 0) {
        SetPrompt(ButtonText(id));
        return;
    }
    if (onlyButtons) return;
    SetPrompt(StateText());
}

void CStatusPrompt::SetPrompt(const std::string& text) {
    const QString wanted = QString::fromStdString(text);
    if (line.text() == wanted) return;
    line.setText(wanted);
    line.setAccessibleName(wanted);
    ++writes;
    line.setToolTip(wanted);
}

}  // namespace orvane
