#include "media/ui/thumbnail_loader.h"

#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <algorithm>
#include <system_error>

#include "base/thread_name.h"

namespace orvane {

namespace {

// Below the interface and capture threads, which get about ten times the share of a core when they
// compete with a worker; not the very lowest, where any other program's build would hold the
// thumbnails back for minutes.
constexpr int kWorkerNice = 10;
// Cache writes that wait beyond this are dropped: the cache is only an aid.
constexpr size_t kMaxKeeps = 512;

void LowerThisThread() {
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, thread, kWorkerNice);
}

}  // namespace

int CThumbnailLoader::DefaultWorkerCount() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores / 2, 2u, 4u));
}

CThumbnailLoader::CThumbnailLoader(CThumbnailMaker maker_, ResultHandler onResult_, int count,
                                   QObject* parent)
    : QObject(parent),
      maker(std::move(maker_)),
      onResult(std::move(onResult_)),
      readyEvent(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (readyEvent) {
        readyNotifier = new QSocketNotifier(readyEvent.Get(), QSocketNotifier::Read, this);
        connect(readyNotifier, &QSocketNotifier::activated, this, &CThumbnailLoader::TakeReady);
    }
    if (count <= 0) count = DefaultWorkerCount();
    for (int i = 0; i < count; ++i) {
        try {
            workers.emplace_back(&CThumbnailLoader::WorkerProc, this);
        } catch (const std::system_error&) {
            break;  // fewer workers; none at all leaves the rows as placeholders
        }
    }
}

CThumbnailLoader::~CThumbnailLoader() {
    delete wanted.exchange(nullptr, std::memory_order_acq_rel);
    {
        std::lock_guard guard(lock);
        stopping = true;
        queue.clear();
        keeps.clear();
        for (const auto& work : running) work->cancelled->store(true, std::memory_order_release);
    }
    Wake();
    for (std::thread& worker : workers) worker.join();
}

void CThumbnailLoader::Want(std::vector<ThumbnailRequest> requests) {
    // A worker runs at a low priority and may hold the lock while the machine keeps it from a core; the
    // interface thread must not wait for that. The list goes into the mailbox, and whoever holds the
    // lock next (this thread now, or the worker before it lets go of the lock) applies it.
    delete wanted.exchange(new std::vector<ThumbnailRequest>(std::move(requests)), std::memory_order_acq_rel);
    std::unique_lock guard(lock, std::try_to_lock);
    if (guard.owns_lock()) {
        TakeWantedLocked();
        guard.unlock();
    }
    // Also when the lock was taken: its holder may be a worker that has just looked for work and is
    // about to sleep.
    Wake();
}

void CThumbnailLoader::Wake() {
    wakeCount.fetch_add(1, std::memory_order_acq_rel);
    wakeCount.notify_all();
}

void CThumbnailLoader::WaitForWork(std::unique_lock<std::mutex>& guard) {
    for (;;) {
        const uint32_t seen = wakeCount.load(std::memory_order_acquire);
        if (stopping || !queue.empty() || !keeps.empty() || wanted.load(std::memory_order_acquire) != nullptr)
            return;
        guard.unlock();
        wakeCount.wait(seen, std::memory_order_acquire);
        guard.lock();
    }
}

bool CThumbnailLoader::TakeWantedLocked() {
    const std::unique_ptr<std::vector<ThumbnailRequest>> requests(
        wanted.exchange(nullptr, std::memory_order_acq_rel));
    if (!requests) return false;
    for (const auto& work : running) {
        const bool stillWanted = std::any_of(requests->begin(), requests->end(), [&](const ThumbnailRequest& r) {
            return r.SameWork(work->request);
        });
        if (!stillWanted) work->cancelled->store(true, std::memory_order_release);
    }
    queue.clear();
    for (ThumbnailRequest& request : *requests) {
        // A check under way gives no picture: it stands only for another check.
        const bool underWay = std::any_of(running.begin(), running.end(), [&](const auto& work) {
            return work->request.SameWork(request) && (request.check || !work->request.check) &&
                   !work->cancelled->load(std::memory_order_acquire);
        });
        const bool queued = std::any_of(queue.begin(), queue.end(),
                                        [&](const ThumbnailRequest& r) { return r.SameWork(request); });
        if (!underWay && !queued) queue.push_back(std::move(request));
    }
    DropWaitingLocked();
    return true;
}

// A result made but not yet taken by the interface thread stands for any request of the same work: a
// paint in between still knows only the thumbnail before it, and would have it made once more.
void CThumbnailLoader::DropWaitingLocked() {
    if (queue.empty()) return;
    {
        std::lock_guard guard(readyLock);
        if (ready.empty()) return;
        std::erase_if(queue, [&](const ThumbnailRequest& request) {
            return std::any_of(ready.begin(), ready.end(), [&](const ThumbnailResult& result) {
                return result.path == request.path && result.kind == request.kind && result.fitKey == request.fitKey;
            });
        });
    }
    // The interface thread may have found the lock taken and given up: it counts on the holder's signal.
    SignalReady();
}

void CThumbnailLoader::SignalReady() const {
    const uint64_t one = 1;
    // Never blocks: a full counter already wakes the reader.
    while (readyEvent && ::write(readyEvent.Get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void CThumbnailLoader::Unlock(std::unique_lock<std::mutex>& guard) {
    TakeWantedLocked();
    guard.unlock();
    // A list the interface thread left while this worker held the lock is applied before the worker
    // goes on: the interface thread found the lock taken and counts on the holder.
    while (wanted.load(std::memory_order_acquire) != nullptr) {
        guard.lock();
        TakeWantedLocked();
        guard.unlock();
        Wake();
    }
}

bool CThumbnailLoader::Idle() const {
    {
        std::lock_guard guard(readyLock);
        if (!ready.empty()) return false;
    }
    std::lock_guard guard(lock);
    return queue.empty() && running.empty() && keeps.empty() && wanted.load(std::memory_order_acquire) == nullptr;
}

void CThumbnailLoader::Hand(ThumbnailResult result) {
    {
        std::lock_guard guard(readyLock);
        ready.push_back(std::move(result));
    }
    SignalReady();
}

void CThumbnailLoader::TakeReady() {
    uint64_t count = 0;
    while (::read(readyEvent.Get(), &count, sizeof count) < 0 && errno == EINTR) {
    }
    std::deque<ThumbnailResult> taken;
    {
        // A worker holding the lock is handing over a result and signals once it lets go of it.
        std::unique_lock guard(readyLock, std::try_to_lock);
        if (!guard.owns_lock()) return;
        taken.swap(ready);
    }
    for (ThumbnailResult& result : taken) onResult(std::move(result));
}

void CThumbnailLoader::WorkerProc() {
    NameThisThread("orv-thumb");
    LowerThisThread();
    std::unique_lock guard(lock);
    for (;;) {
        WaitForWork(guard);
        if (stopping) return;
        if (TakeWantedLocked()) Wake();
        if (queue.empty() && keeps.empty()) continue;
        if (!queue.empty()) {
            auto work = std::make_shared<Running>(
                Running{std::move(queue.front()), std::make_shared<std::atomic<bool>>(false)});
            queue.pop_front();
            running.push_back(work);
            Unlock(guard);

            bool unchanged = false;
            ThumbnailResult result;
            CThumbnailMaker::Keep keep;
            if (work->request.check) {
                FileSignature now;
                unchanged = FileSignature::Read(work->request.path, now) && now == work->request.known;
            }
            if (!unchanged) result = maker.Make(work->request, *work->cancelled, keep);
            const bool cancelled = work->cancelled->load(std::memory_order_acquire);
            const bool fromFile = result.fromFile;
            // Handed over before the work leaves `running`, so that once Idle() holds, the interface
            // thread has every result.
            if (!cancelled && !unchanged && readyEvent) Hand(std::move(result));

            guard.lock();
            running.erase(std::find(running.begin(), running.end(), work));
            if (cancelled) {
                cancelledCount.fetch_add(1, std::memory_order_acq_rel);
            } else if (!unchanged) {
                made.fetch_add(1, std::memory_order_acq_rel);
                if (fromFile) decoded.fetch_add(1, std::memory_order_acq_rel);
                if (keep.any && keeps.size() < kMaxKeeps) keeps.push_back(std::move(keep));
            }
            continue;
        }
        CThumbnailMaker::Keep keep = std::move(keeps.front());
        keeps.pop_front();
        // Counts as running, so that Idle() stays false until the file is written.
        auto marker = std::make_shared<Running>(
            Running{ThumbnailRequest{}, std::make_shared<std::atomic<bool>>(false)});
        running.push_back(marker);
        Unlock(guard);
        maker.Store(keep);
        guard.lock();
        running.erase(std::find(running.begin(), running.end(), marker));
    }
}

}  // namespace orvane
