#pragma once

#include "dialogs/viewer_dialogs.h"

namespace orvane {

// The settings dialog (with the camera controls) and the about box, as the main viewer opens them.
ViewerDialogFactories ViewerDialogs();

}  // namespace orvane
