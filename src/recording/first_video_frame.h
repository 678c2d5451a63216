#pragma once

#include <string>

#include "base/av_handles.h"

namespace orvane {

// The first picture of the best video stream of the movie at `path`, as the decoder gives it; null for
// a file that cannot be opened, holds no video or yields no picture. A movie cut short by a full disk
// still gives its first picture when its first frames reached the disk. Reentrant.
AvFramePtr DecodeFirstVideoFrame(const std::string& path);

// Whether a player can show the movie at `path`: its first picture decodes.
bool IsPlayableMovie(const std::string& path);

}  // namespace orvane
