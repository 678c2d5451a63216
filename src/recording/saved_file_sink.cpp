#include "recording/saved_file_sink.h"

#include <mutex>

namespace orvane {

namespace {

std::recursive_mutex sinkLock;  // guards currentWindow and serialises deliveries
IResourceWindow* currentWindow = nullptr;

}  // namespace

void SetSavedFileSink(IResourceWindow* window) {
    std::lock_guard<std::recursive_mutex> guard(sinkLock);
    currentWindow = window;
}

void AddSavedFile(const std::string& path) {
    std::lock_guard<std::recursive_mutex> guard(sinkLock);
    if (currentWindow != nullptr) currentWindow->AddSavedFile(path);
}

}  // namespace orvane
