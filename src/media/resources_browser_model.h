#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "config/setting_param_manage.h"
#include "media/folder_watch.h"

namespace orvane {

// What the model asks of the thumbnail panel's window. The calls come from worker threads (the change
// consumer, the saving threads) as well as from the interface thread, sometimes while the interface
// thread waits for one of those workers: each must return at once and leave the work to the interface
// thread (post a queued event), never wait for it.
class IResourcesBrowserHost {
public:
    virtual ~IResourcesBrowserHost() = default;
    // Scroll range from the item count, position at the top.
    virtual void RequestResetScroll() = 0;
    // Scroll range from the item count, keeping the view's distance from the end.
    virtual void RequestUpdateScrollRange() = 0;
    // Scroll range from the item count, showing the last page.
    virtual void RequestScrollToEnd() = 0;
    // Repaint the whole panel.
    virtual void RequestRepaint() = 0;
};

// The thumbnail panel's model: the media file names of the shown folder and the two threads that keep
// them current. The watch thread follows the whole storage-root tree; the consumer thread folds its
// changes into the list and asks for a repaint once 50 ms have passed without a new change. Only
// removals and renames are taken from the watch: files the program saves arrive through AddItem /
// SetFolder, and files copied in by others appear at the next listing.
//
// Every operation may be called from any thread unless it says otherwise. itemsLock and queueLock are
// never held together, nor across file I/O or a host call.
class CResourcesBrowserModel {
public:
    // Starts the watch on the storage root of the current settings and the consumer thread. A thread
    // that cannot be started is reported with an alert, and the model works on without it. `host` (may
    // be null) and `settings` must outlive the model, or at least its Shutdown(). Interface thread.
    CResourcesBrowserModel(IResourcesBrowserHost* host, const CSettingParamManage* settings);
    explicit CResourcesBrowserModel(IResourcesBrowserHost* host);
    ~CResourcesBrowserModel();  // Shutdown()

    CResourcesBrowserModel(const CResourcesBrowserModel&) = delete;
    CResourcesBrowserModel& operator=(const CResourcesBrowserModel&) = delete;

    // Stops the watch and the consumer thread and drops queued changes; no host call is made after it
    // returns (except by what other threads call directly). Idempotent. Interface thread; the window
    // calls it first thing in its destructor, while it can still take host calls.
    void Shutdown();

    // True when the name contains ".jpg", ".avi" or ".mp4" anywhere, in exactly that case.
    static bool IsMediaName(std::string_view name);

    // Copy of the shown folder's full path; empty when none is shown.
    std::string GetFolder() const;
    // Shows `path` (empty: nothing): lists it, then asks for the scroll reset, the end of the list when
    // `scrollToEnd` is set, and a repaint. Nothing at all when `path` is the folder already shown.
    void SetFolder(const std::string& path, bool scrollToEnd);
    // Appends the media names of the shown folder (folders skipped) in ascending byte order. Nothing
    // when no folder is shown, it cannot be listed, or another folder was set meanwhile.
    void ListFolder();
    // Lists the shown folder afresh, then asks for a scroll-range update and a repaint.
    void Rescan();
    // Appends the name at the end.
    void AddItem(const std::string& name);
    // Inserts the name before the first greater item (byte order); false, changing nothing, when an
    // equal item comes first.
    bool InsertItemSorted(const std::string& name);
    // Whether the name is listed, taking the list as ascending: the search from the back stops at the
    // first smaller item.
    bool HasItem(const std::string& name) const;
    // Erases the first item equal to the name; false when there is none.
    bool RemoveItem(const std::string& name);
    // Applies one change record (`name` relative to the watched root) to the list; true when the panel
    // must be repainted. Removal or renaming away of the shown folder, or of a folder it lies in, empties
    // the panel; additions, modifications, non-media names and other folders change nothing.
    bool ProcessChange(uint32_t action, const std::string& name);
    // Applies a block of change records in their order, as ProcessChange one by one would, but with a
    // single pass over the list; true when the panel must be repainted.
    bool ApplyChanges(const std::vector<ChangeRecord>& records);

    // Ends the watch thread. Interface thread.
    void StopWatching();
    // Empties the panel and moves the watch to the storage root of the current settings. Interface thread.
    void RestartWatching();
    // Drops every queued change block.
    void ClearChangeQueue();

    // Copies of the shown names in display order, their number, and the full path of the name at
    // `index` (empty when there is none): what the window paints.
    std::vector<std::string> GetItems() const;
    size_t GetItemCount() const;
    std::string GetItemPath(int64_t index) const;
    // The storage root the current watch was started on.
    std::string GetWatchedRoot() const;

    // True once changes on disk below the root are seen. Any thread.
    bool Watching() const { return watch.Watching(); }
    // Hands raw inotify records to the watch thread as if the kernel had delivered them. For tests.
    void InjectWatchEvents(std::vector<char> events);

private:
    void StartWatchThread();
    void QueueChangeBlock(ChangeBlock block);  // watch thread
    void ChangeConsumerProc();
    void RequestResetScroll();
    void RequestUpdateScrollRange();
    void RequestScrollToEnd();
    void RequestRepaint();

    IResourcesBrowserHost* host;
    const CSettingParamManage* settings;

    mutable std::mutex itemsLock;  // guards items, currentFolder and watchedRoot
    std::vector<std::string> items;
    std::string currentFolder;
    std::string watchedRoot;

    std::mutex queueLock;  // guards changeQueue and consumerRunning
    std::condition_variable queueChanged;
    std::deque<ChangeBlock> changeQueue;
    bool consumerRunning = false;

    CFolderWatch watch;
    std::thread consumerThread;
};

}  // namespace orvane
