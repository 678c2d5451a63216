#pragma once

#include "capture/resolution_list.h"
#include "config/setting.h"

namespace orvane {

// The main viewer as the capture object sees it. Both calls come during StartPreview, on the thread
// that called it, while the viewer waits for it.
class ICaptureViewer {
public:
    virtual ~ICaptureViewer() = default;
    // Replaces the viewer's list of offered formats (an empty list included).
    virtual void SetResolutionList(const ResolutionList& list) = 0;
    // The last entry of the viewer's list, in key order, whose width is at most 2048: writes its width
    // and height and returns true. False, leaving `resolution` untouched, when there is none.
    virtual bool LargestListedResolution(CaptureResolution& resolution) = 0;
};

}  // namespace orvane
