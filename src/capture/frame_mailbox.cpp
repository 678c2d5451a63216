#include "capture/frame_mailbox.h"

#include <cstring>
#include <utility>

namespace orvane {

void CFrameMailbox::SetNotify(Notify callback) {
    std::lock_guard<std::mutex> guard(notifyLock);
    notify = std::move(callback);
}

void CFrameMailbox::Publish(const uint8_t* bits, int32_t width, int32_t height) {
    if (bits == nullptr || width <= 0 || height <= 0) return;
    if (spare.Empty() || spare.Width() != width || spare.Height() != height) {
        spare = FrameBuffer::Create(width, height);
        if (spare.Empty()) return;
    }
    std::memcpy(spare.Bits(), bits, static_cast<size_t>(spare.Length()));
    Deliver(spare);
}

void CFrameMailbox::Publish(FrameBuffer& frame) {
    if (!frame.Empty()) Deliver(frame);
}

void CFrameMailbox::Deliver(FrameBuffer& frame) {
    bool wasEmpty;
    {
        std::lock_guard<std::mutex> guard(slotLock);
        std::swap(frame, slot);
        wasEmpty = !full;
        full = true;
    }
    if (wasEmpty) {
        std::lock_guard<std::mutex> guard(notifyLock);
        if (notify) notify();
    }
}

bool CFrameMailbox::Take(FrameBuffer& frame) {
    std::lock_guard<std::mutex> guard(slotLock);
    if (!full) return false;
    std::swap(frame, slot);
    full = false;
    return true;
}

void CFrameMailbox::Clear() {
    std::lock_guard<std::mutex> guard(slotLock);
    full = false;
}

}  // namespace orvane
