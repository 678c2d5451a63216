#pragma once

#include <cstdint>

namespace orvane {

// The messages the engine's threads post to the main viewer. The viewer turns each into a queued
// event of the same number.
enum ViewerMessage : uint32_t {
    WM_SHOT_DONE = 1025,         // the pending single photo was attempted
    WM_TIMED_SHOT_END = 1026,    // the timed-shot series must stop
    WM_RECORDING_END = 1027,     // the recording must stop
    WM_START_PREVIEW = 1028,     // the viewer's own start of the first preview
    WM_PREVIEW_STARTED = 1029,   // a preview started (to the open settings dialog)
    WM_FIT_VIDEO_WINDOW = 1124,  // the live pane resized its video host
};

// Receives posted messages. PostViewerMessage may be called from any thread and never blocks on
// the interface thread.
class IMessageSink {
public:
    virtual ~IMessageSink() = default;
    virtual void PostViewerMessage(uint32_t message) = 0;
};

}  // namespace orvane
