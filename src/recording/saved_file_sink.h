#pragma once

#include <string>

#include "base/resource_window.h"

namespace orvane {

// Where the end of a recording announces its movie: the viewer installs its resource window here
// while that window exists; tests install a recorder.

// Installs the window; nullptr removes it, after which announcements go nowhere. Returns once no
// announcement to the previous window is under way. The window must outlive its installation.
void SetSavedFileSink(IResourceWindow* window);

// Hands the full path of a finished file to the installed window, if any. Thread-safe.
void AddSavedFile(const std::string& path);

}  // namespace orvane
