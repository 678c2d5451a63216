#pragma once

#include <QRect>
#include <QWidget>

#include "config/setting.h"

namespace orvane {

class CSettingParamManage;
class CVideoHost;

// The live video pane: holds the video host, letterboxed to the aspect ratio of the capture
// resolution of the current settings, and centred.
class CPreviewWindow final : public QWidget {
    Q_OBJECT

public:
    // settings: where the capture resolution comes from; must outlive the pane.
    explicit CPreviewWindow(const CSettingParamManage& settings, QWidget* parent = nullptr);

    // The object that is sent WM_FIT_VIDEO_WINDOW after every resize of the video host (the viewer).
    void SetMessageTarget(QObject* target) { messageTarget = target; }

    // Moves the video host to the rectangle of VideoArea.
    void FitVideoArea();
    // The host rectangle for the pane's client area and the current capture resolution.
    QRect VideoArea() const;
    // The picture of `resolution` letterboxed into `client`: the full width when the client is
    // relatively taller than the picture, else the full height, centred. A resolution without a
    // width or height fills the client.
    static QRect ComputeVideoArea(const QRect& client, const CaptureResolution& resolution);

    CVideoHost* VideoHost() const { return videoHost; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    const CSettingParamManage& settings;
    CVideoHost* videoHost = nullptr;
    QObject* messageTarget = nullptr;
};

}  // namespace orvane
