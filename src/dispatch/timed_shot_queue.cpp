#include "dispatch/timed_shot_queue.h"

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "config/setting_param_manage.h"
#include "dispatch/grabber_owner.h"
#include "dispatch/sample_grabber_cb.h"
#include "media/saving_loaction_manage.h"

namespace orvane {

TimedShotQueue g_timedShotQueue;
std::atomic<int32_t> g_timedShotSaverRun{1};

void TimedShotQueue::Enqueue(const uint8_t* bits, int32_t length) {
    if (bits == nullptr || length <= 0) return;
    Entry entry;
    entry.bytes.reset(new uint8_t[static_cast<size_t>(length)]);
    std::memcpy(entry.bytes.get(), bits, static_cast<size_t>(length));
    entry.length = length;
    {
        std::lock_guard<std::mutex> guard(lock);
        entries.push_back(std::move(entry));
    }
    changed.notify_one();
}

void TimedShotQueue::Clear() {
    std::deque<Entry> dropped;
    std::lock_guard<std::mutex> guard(lock);
    dropped.swap(entries);
}

size_t TimedShotQueue::Size() const {
    std::lock_guard<std::mutex> guard(lock);
    return entries.size();
}

bool TimedShotQueue::WaitAndPop(Entry& entry, int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                     [this] { return !entries.empty() || woken; });
    woken = false;
    if (entries.empty()) return false;
    entry = std::move(entries.front());
    entries.pop_front();
    return true;
}

void TimedShotQueue::Wake() {
    {
        std::lock_guard<std::mutex> guard(lock);
        woken = true;
    }
    changed.notify_all();
}

void EnqueueTimedShot(const uint8_t* bits, int32_t length) { g_timedShotQueue.Enqueue(bits, length); }

void ClearTimedShotQueue() { g_timedShotQueue.Clear(); }

void StopTimedShotSaver() {
    g_timedShotSaverRun.store(0, std::memory_order_release);
    g_timedShotQueue.Wake();
}

namespace {

// Writes one queued shot; false when it could not be named or written.
bool SaveTimedShot(CSampleGrabberCB& grabber, IGrabberOwner& owner, const TimedShotQueue::Entry& entry,
                   CSettingParamManage& settings, CSavingLoactionManage& locations) {
    std::string path;
    CSettingParam param = settings.GetUsingParam();
    if (!locations.GetTimedShotPath(param.GetTimedShotsFolder(), path)) return false;
    if (!grabber.SaveFrame(path, entry.bytes.get(), entry.length)) return false;
    if (IResourceWindow* window = owner.GetResourceWindow()) window->AddSavedFile(path);
    return true;
}

}  // namespace

int TimedShotSaverProc(IGrabberOwner* owner, CSampleGrabberCB* grabber) {
    if (owner == nullptr || grabber == nullptr) return 0;
    CSettingParamManage& settings = grabber->Settings();
    CSavingLoactionManage& locations = grabber->Locations();
    // Once asked to end, what still waits is written before the thread returns.
    while (true) {
        bool running = g_timedShotSaverRun.load(std::memory_order_acquire) != 0;
        TimedShotQueue::Entry entry;
        if (!g_timedShotQueue.WaitAndPop(entry, running ? 100 : 0)) {
            if (!running) break;
            continue;
        }
        if (!SaveTimedShot(*grabber, *owner, entry, settings, locations)) {
            owner->PostViewerMessage(WM_TIMED_SHOT_END);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ClearTimedShotQueue();
            continue;
        }
        // Two shots never land in the same millisecond.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}

}  // namespace orvane
