#pragma once

namespace orvane {

// Plugs the settings dialog, the about box and the camera controls into the main viewer. The
// programs call it once, before the viewer runs. Interface thread.
void InstallDialogs();

}  // namespace orvane
