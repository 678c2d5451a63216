#pragma once

#include "base/message_sink.h"
#include "base/resource_window.h"
#include "capture/capture_state.h"

namespace orvane {

// The main viewer as the frame dispatcher sees it.
class IGrabberOwner {
public:
    virtual ~IGrabberOwner() = default;
    virtual CaptureState& GetCaptureState() = 0;
    // Posts one of the ViewerMessage values; never blocks.
    virtual void PostViewerMessage(uint32_t message) = 0;
    // The resource window, or nullptr while there is none.
    virtual IResourceWindow* GetResourceWindow() = 0;
};

}  // namespace orvane
