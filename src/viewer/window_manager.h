#pragma once

namespace orvane {

// Whether the window system sizes a window for its full-screen state itself: true under an X window
// manager that supports _NET_WM_STATE_FULLSCREEN and on every other platform (Wayland compositors,
// the offscreen platform); false on a bare X server, where a full-screen window has to be sized by
// the program. Asks the X server each time (two round trips). Interface thread only.
bool WindowManagerHandlesFullScreen();

}  // namespace orvane
