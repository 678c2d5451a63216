#pragma once

#include <QImage>
#include <QWidget>
#include <atomic>
#include <cstdint>

#include "base/video_frame.h"
#include "viewer/frame_scaler.h"

namespace orvane {

class CFrameMailbox;

// The live picture: paints the newest frame of the capture object's mailbox, stretched to fill the
// widget. The capture thread only drops a frame into the mailbox and posts a wake-up; the frame is
// taken and painted on the interface thread, so a slow screen never holds up the camera.
class CVideoHost final : public QWidget {
    Q_OBJECT

public:
    explicit CVideoHost(QWidget* parent = nullptr);
    ~CVideoHost() override;

    // Interface thread. Starts showing the frames of `mailbox` (nullptr: stops). The mailbox must
    // outlive its attachment; detaching waits for a wake-up under way on the capture thread.
    void Attach(CFrameMailbox* mailbox);
    // Forgets the picture on screen (shown black until the next frame).
    void ClearPicture();
    bool HasPicture() const { return !frame.Empty(); }
    // Frames taken from the mailbox since the host was made.
    int64_t FramesTaken() const { return framesTaken; }
    // The newest picture, as the user sees it (rows top-down). Null when there is none. While no frame
    // is being saved it may be smaller than the capture size, though never smaller than the pane.
    QImage CurrentPicture() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void TakeFrame();
    // Tells the mailbox the size the picture is painted at, in device pixels.
    void StateViewSize();

    CFrameMailbox* mailbox = nullptr;
    FrameBuffer frame;  // the newest frame, bottom-up BGR24
    CFrameScaler scaler;
    QImage scaled;  // frame as painted, at the widget's size
    bool scaledIsCurrent = false;
    int64_t framesTaken = 0;
};

}  // namespace orvane
