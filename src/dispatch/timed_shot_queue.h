#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace orvane {

class IGrabberOwner;
class CSampleGrabberCB;

// The frames of due timed shots, in the order they were taken, waiting for the saver thread. The
// streaming thread only copies a frame in; the saver writes the files one at a time.
class TimedShotQueue {
public:
    struct Entry {
        std::unique_ptr<uint8_t[]> bytes;
        int32_t length = 0;
    };

    // Copies the frame and appends it; nothing for a null frame or a length <= 0.
    void Enqueue(const uint8_t* bits, int32_t length);
    // Drops every waiting entry.
    void Clear();
    size_t Size() const;
    // Waits up to `timeoutMs` for an entry; false when none came or Wake() was called.
    bool WaitAndPop(Entry& entry, int timeoutMs);
    // Wakes a waiting saver (used when it must end).
    void Wake();

private:
    mutable std::mutex lock;  // guards entries and woken
    std::condition_variable changed;
    std::deque<Entry> entries;
    bool woken = false;
};

extern TimedShotQueue g_timedShotQueue;
// 1 while the saver thread must keep running.
extern std::atomic<int32_t> g_timedShotSaverRun;

void EnqueueTimedShot(const uint8_t* bits, int32_t length);
void ClearTimedShotQueue();

// The saver thread: names each queued shot (in order), writes it through `grabber` (the preview
// instance's frame size applies) and announces it; after a failure the series is ended and what
// still waits is dropped. Returns when g_timedShotSaverRun is cleared, after writing what waits.
int TimedShotSaverProc(IGrabberOwner* owner, CSampleGrabberCB* grabber);

// Clears the run flag and wakes the saver.
void StopTimedShotSaver();

}  // namespace orvane
