#pragma once

#include <string>

namespace orvane {

// The resource window of the viewer: told of every file the program has just written, so that the
// media browser shows it at once. AddSavedFile may be called from any thread and must not block.
class IResourceWindow {
public:
    virtual ~IResourceWindow() = default;
    virtual void AddSavedFile(const std::string& path) = 0;
};

}  // namespace orvane
