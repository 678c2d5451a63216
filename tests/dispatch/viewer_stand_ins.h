#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "capture/capture_viewer.h"
#include "capture/resolution_list.h"
#include "dispatch/grabber_owner.h"

namespace orvane::test {

// The main viewer's side of the capture object: the resolution list it is given.
class ListingViewer : public ICaptureViewer {
public:
    void SetResolutionList(const ResolutionList& list) override { resolutionList = list; }
    // The last listed size at most 2048 wide, as the main viewer picks it.
    bool LargestListedResolution(CaptureResolution& resolution) override {
        bool found = false;
        for (const auto& [key, entry] : resolutionList) {
            if (entry.width > 2048) continue;
            resolution.width = entry.width;
            resolution.height = entry.height;
            found = true;
        }
        return found;
    }
    ResolutionList resolutionList;
};

// The viewer's side of the dispatcher: its capture state, and a record of what it was told.
class RecordingViewer : public IGrabberOwner, public IResourceWindow {
public:
    CaptureState& GetCaptureState() override { return state; }
    void PostViewerMessage(uint32_t message) override {
        std::lock_guard<std::mutex> guard(lock);
        messages.push_back(message);
    }
    IResourceWindow* GetResourceWindow() override { return this; }
    void AddSavedFile(const std::string& path) override {
        std::lock_guard<std::mutex> guard(lock);
        saved.push_back(path);
    }

    size_t Count(uint32_t message) const {
        std::lock_guard<std::mutex> guard(lock);
        size_t n = 0;
        for (uint32_t m : messages) n += m == message;
        return n;
    }
    std::vector<std::string> Saved() const {
        std::lock_guard<std::mutex> guard(lock);
        return saved;
    }

    CaptureState state;

private:
    mutable std::mutex lock;  // guards messages and saved
    std::vector<uint32_t> messages;
    std::vector<std::string> saved;
};

// Both, as the capture object's tests need them.
class CaptureTestViewer final : public ListingViewer, public RecordingViewer {};

}  // namespace orvane::test
