#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
#include "media/ui/thumbnail_maker.h"

class QSocketNotifier;

namespace orvane {

// Makes thumbnails on a small pool of low-priority worker threads ("orv-thumb") and hands each result
// to the interface thread through a queue it is woken for, never waiting for it. The panel says at every paint
// which rows it wants, most wanted first; what it no longer wants is dropped from the queue, and work
// already under way on such a row is cancelled. Writing to the desktop's cache waits until no
// thumbnail is wanted.
//
// Want, Idle and the counters are for the interface thread (the thread the loader lives in). No lock
// is held while a thumbnail is made or written, and Want never waits for the lock: the workers run
// at a low priority, and one that holds the lock on a busy machine could otherwise hold up the window.
class CThumbnailLoader final : public QObject {
    Q_OBJECT

public:
    using ResultHandler = std::function<void(ThumbnailResult)>;

    // `onResult` runs on the interface thread for every thumbnail made (not for unchanged checks or
    // cancelled work). `workers` 0: a count fitted to the machine.
    CThumbnailLoader(CThumbnailMaker maker, ResultHandler onResult, int workers = 0,
                     QObject* parent = nullptr);
    // Cancels what runs, drops what waits, and joins the workers.
    ~CThumbnailLoader() override;

    // Replaces what is wanted with `requests`, first = most wanted.
    void Want(std::vector<ThumbnailRequest> requests);
    // True when nothing waits or runs, cache writes included.
    bool Idle() const;
    // Thumbnails made from their file or the desktop's cache since construction (not checks that found
    // the file unchanged), and requests cancelled while they ran.
    uint64_t MadeCount() const { return made.load(std::memory_order_acquire); }
    uint64_t CancelledCount() const { return cancelledCount.load(std::memory_order_acquire); }
    // Of those made, the ones made by reading the file itself.
    uint64_t DecodedCount() const { return decoded.load(std::memory_order_acquire); }
    int WorkerCount() const { return static_cast<int>(workers.size()); }

    static int DefaultWorkerCount();

private:
    struct Running {
        ThumbnailRequest request;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };

    void WorkerProc();
    // Puts a result where the interface thread takes it, and wakes that thread through the event.
    void Hand(ThumbnailResult result);
    // Interface thread: runs the handler for every result handed over.
    void TakeReady();
    // Applies the list in the mailbox, if any; true when there was one. With `lock` held.
    bool TakeWantedLocked();
    // Takes out of the queue the work whose result waits to be taken. With `lock` held; takes readyLock
    // (after `lock`, never before).
    void DropWaitingLocked();
    // Wakes the interface thread to take the results.
    void SignalReady() const;
    // Lets go of the lock, applying first any list the interface thread left meanwhile.
    void Unlock(std::unique_lock<std::mutex>& guard);
    // Wakes the workers. Needs no lock: a worker reads the count before it looks for work under the
    // lock and sleeps only while the count is unchanged, so no wake-up falls between the two.
    void Wake();
    // Worker, with `guard` held: returns once there is something to do or the loader stops.
    void WaitForWork(std::unique_lock<std::mutex>& guard);

    CThumbnailMaker maker;
    ResultHandler onResult;

    // The latest list from Want not yet applied; owned by whoever takes it out.
    std::atomic<std::vector<ThumbnailRequest>*> wanted{nullptr};
    mutable std::mutex lock;  // guards queue, running, keeps and stopping
    std::atomic<uint32_t> wakeCount{0};
    std::deque<ThumbnailRequest> queue;
    std::vector<std::shared_ptr<Running>> running;
    std::deque<CThumbnailMaker::Keep> keeps;
    bool stopping = false;

    // Results reach the interface thread through a queue and an eventfd it watches, not through its
    // event queue: posting takes locks the interface thread also takes, and a low-priority worker
    // preempted while holding one would hold up the window.
    mutable std::mutex readyLock;  // guards ready; the interface thread only tries it
    std::deque<ThumbnailResult> ready;
    UniqueFd readyEvent;
    QSocketNotifier* readyNotifier = nullptr;

    std::atomic<uint64_t> made{0};
    std::atomic<uint64_t> cancelledCount{0};
    std::atomic<uint64_t> decoded{0};
    std::vector<std::thread> workers;
};

}  // namespace orvane
