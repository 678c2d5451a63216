#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_fd.h"

namespace orvane {

// Action codes of a change record.
enum ChangeAction : uint32_t {
    kActionAdded = 1,
    kActionRemoved = 2,
    kActionModified = 3,
    kActionRenamedOldName = 4,
    kActionRenamedNewName = 5,
};

// One change below the watched root. `name` is relative to the root, folders joined with "/".
struct ChangeRecord {
    uint32_t action = 0;
    std::string name;

    bool operator==(const ChangeRecord&) const = default;
};

// The records of one read, in the order they happened; no value when changes were lost (the kernel's
// queue overflowed) and whatever is shown must be listed again.
using ChangeBlock = std::optional<std::vector<ChangeRecord>>;

// Watches a storage-root tree on a thread of its own ("orv-watch"): one inotify watch per folder, added
// as folders appear and dropped as they leave. Renames within the tree, paired by cookie, give an
// old-name and a new-name record; a name moved out of the tree is removed, one moved in is added.
// Symbolic links below the root are not followed.
//
// A root that is missing, or that is deleted or moved away later (after a lost-changes block), is
// waited for: the nearest folder above it that exists is watched for the next folder on the way to it,
// and once the root is there again the tree is watched anew and a lost-changes block tells the
// receiver to list what it shows again. Nothing polls.
//
// Start, Stop and InjectEvents are for one controlling thread (the interface thread); the receiver
// runs on the watch thread and must only hand the block on.
class CFolderWatch {
public:
    using BlockReceiver = std::function<void(ChangeBlock block)>;

    explicit CFolderWatch(BlockReceiver receiver);
    ~CFolderWatch();  // Stop()

    CFolderWatch(const CFolderWatch&) = delete;
    CFolderWatch& operator=(const CFolderWatch&) = delete;

    // Starts the watch thread on `root` and every folder below it. False, with nothing started, when a
    // thread was started and not yet stopped, or the thread cannot be started. Without inotify (none
    // left) the thread ends at once and silently; a root that is not there is waited for.
    bool Start(const std::string& root);
    // Signals the thread and joins it; when it returns no folder is watched any more. Works whatever the
    // root's permissions. Nothing happens when no thread was started.
    void Stop();

    // Hands raw inotify records (struct inotify_event, as read(2) returns them) to the watch thread,
    // which decodes them exactly as if the kernel had delivered them. Records naming a watch that does
    // not exist are skipped; a truncated record ends the buffer. For tests; no effect when not running.
    void InjectEvents(std::vector<char> events);
    // True once the thread has set its watches up (or found the root missing and waits for it):
    // changes made from then on are seen. Any thread.
    bool Watching() const { return watching.load(std::memory_order_acquire); }

private:
    struct PendingMove {
        uint32_t cookie = 0;
        std::string name;
        bool isFolder = false;
    };

    // All of what follows runs on the watch thread.
    void WatchThreadProc(std::string root);
    void Decode(const char* bytes, size_t length);
    void FlushPendingMove();
    void Deliver();
    void AddTree(const std::string& relative);
    void RemoveTree(const std::string& relative);
    void RenameTree(const std::string& from, const std::string& to);
    void Resync();
    // Drops the watches of the tree that went away and watches the root again, or the way to it.
    // True when the root is watched.
    bool ArmRoot();
    void DropTree();
    std::string FullPath(const std::string& relative) const;

    BlockReceiver receiver;
    std::thread watchThread;
    std::atomic<bool> watching{false};
    UniqueFd wakeFd;  // eventfd: counts stop and injection requests

    std::mutex requestLock;  // guards stopRequested and injected
    bool stopRequested = false;
    std::vector<std::vector<char>> injected;

    // Watch-thread state, valid while the thread runs.
    std::string watchedRoot;
    UniqueFd inotifyFd;
    int rootWatch = -1;
    std::map<int, std::string> watchedFolders;  // watch descriptor -> folder relative to the root
    std::vector<ChangeRecord> records;          // the block being filled
    std::optional<PendingMove> pendingMove;     // a moved-from record still looking for its moved-to
    bool rootGone = false;
    // While the root is missing: the watch on the nearest folder above it that exists, that folder, and
    // whether something there may have brought the way to the root back.
    int wayWatch = -1;
    std::string wayFolder;
    bool wayChanged = false;
};

}  // namespace orvane
