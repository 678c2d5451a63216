#include "media/resources_browser_model.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "base/alert_sink.h"
#include "base/folder_entries.h"
#include "base/thread_name.h"

namespace orvane {

namespace {

constexpr auto kQuietTime = std::chrono::milliseconds(50);

const char* const kThreadFailureText = "Thread of monitoring orvane path  run failure";

// Whether `folder` is `gone` or lies below it.
bool IsSameOrBelow(const std::string& folder, const std::string& gone) {
    return folder.size() >= gone.size() && folder.compare(0, gone.size(), gone) == 0 &&
           (folder.size() == gone.size() || folder[gone.size()] == '/');
}

}  // namespace

CResourcesBrowserModel::CResourcesBrowserModel(IResourcesBrowserHost* host_)
    : CResourcesBrowserModel(host_, CSettingParamManage::GetInstance()) {}

CResourcesBrowserModel::CResourcesBrowserModel(IResourcesBrowserHost* host_,
                                               const CSettingParamManage* settings_)
    : host(host_),
      settings(settings_),
      watch([this](ChangeBlock block) { QueueChangeBlock(std::move(block)); }) {
    StartWatchThread();
    {
        std::lock_guard guard(queueLock);
        consumerRunning = true;
    }
    try {
        consumerThread = std::thread(&CResourcesBrowserModel::ChangeConsumerProc, this);
    } catch (const std::system_error&) {
        {
            std::lock_guard guard(queueLock);
            consumerRunning = false;
        }
        ShowAlert(kThreadFailureText);
    }
}

CResourcesBrowserModel::~CResourcesBrowserModel() { Shutdown(); }

void CResourcesBrowserModel::Shutdown() {
    StopWatching();
    {
        std::lock_guard guard(queueLock);
        consumerRunning = false;
    }
    queueChanged.notify_all();
    if (consumerThread.joinable()) consumerThread.join();
    ClearChangeQueue();
}

bool CResourcesBrowserModel::IsMediaName(std::string_view name) {
    return name.find(".jpg") != std::string_view::npos || name.find(".avi") != std::string_view::npos ||
           name.find(".mp4") != std::string_view::npos;
}

std::string CResourcesBrowserModel::GetFolder() const {
    std::lock_guard guard(itemsLock);
    return currentFolder;
}

void CResourcesBrowserModel::SetFolder(const std::string& path, bool scrollToEnd) {
    {
        std::lock_guard guard(itemsLock);
        if (path == currentFolder) return;
        items.clear();
        currentFolder = path;
    }
    ListFolder();
    RequestResetScroll();
    if (scrollToEnd) RequestScrollToEnd();
    RequestRepaint();
}

void CResourcesBrowserModel::ListFolder() {
    const std::string folder = GetFolder();
    if (folder.empty()) return;
    std::vector<std::string> names;
    for (FolderEntry& entry : ReadFolder(folder)) {
        // Links count as what they point to, as in the file manager.
        if (!IsMediaName(entry.name) || entry.isFolder) continue;
        names.push_back(std::move(entry.name));
    }
    // The directory gives its names in no particular order; the list is kept ascending so that the
    // newest saved file, with the highest number, comes last and the sorted operations hold.
    std::sort(names.begin(), names.end());

    std::lock_guard guard(itemsLock);
    // A folder set while this one was read has listed itself.
    if (currentFolder != folder) return;
    items.insert(items.end(), std::make_move_iterator(names.begin()), std::make_move_iterator(names.end()));
}

void CResourcesBrowserModel::Rescan() {
    {
        std::lock_guard guard(itemsLock);
        items.clear();
    }
    ListFolder();
    RequestUpdateScrollRange();
    RequestRepaint();
}

void CResourcesBrowserModel::AddItem(const std::string& name) {
    std::lock_guard guard(itemsLock);
    items.push_back(name);
}

bool CResourcesBrowserModel::InsertItemSorted(const std::string& name) {
    std::lock_guard guard(itemsLock);
    for (auto it = items.begin(); it != items.end(); ++it) {
        if (*it == name) return false;
        if (name < *it) {
            items.insert(it, name);
            return true;
        }
    }
    items.push_back(name);
    return true;
}

bool CResourcesBrowserModel::HasItem(const std::string& name) const {
    std::lock_guard guard(itemsLock);
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        if (*it == name) return true;
        if (*it < name) return false;
    }
    return false;
}

bool CResourcesBrowserModel::RemoveItem(const std::string& name) {
    std::lock_guard guard(itemsLock);
    const auto it = std::find(items.begin(), items.end(), name);
    if (it == items.end()) return false;
    items.erase(it);
    return true;
}

bool CResourcesBrowserModel::ProcessChange(uint32_t action, const std::string& name) {
    return ApplyChanges({ChangeRecord{action, name}});
}

bool CResourcesBrowserModel::ApplyChanges(const std::vector<ChangeRecord>& records) {
    std::string root;
    std::string folder;
    {
        std::lock_guard guard(itemsLock);
        root = watchedRoot;
        folder = currentFolder;
    }
    if (folder.empty()) return false;
    // The shown folder relative to the root; a folder outside the root matches no record.
    const bool inside = folder.size() > root.size() + 1 && folder.compare(0, root.size(), root) == 0 &&
                        folder[root.size()] == '/';
    const std::string_view shown = inside ? std::string_view(folder).substr(root.size() + 1) : std::string_view();

    // What the records leave of each name of the shown folder, the last record of a name deciding:
    // listed (renamed to it) or not (removed, renamed away).
    std::unordered_map<std::string, bool> listed;
    bool repaint = false;
    bool removal = false;
    for (const ChangeRecord& record : records) {
        const uint32_t action = record.action;
        if (action != kActionRemoved && action != kActionRenamedOldName && action != kActionRenamedNewName)
            continue;
        if (action != kActionRenamedNewName && IsSameOrBelow(folder, root + "/" + record.name)) {
            // The shown folder went away, by itself or with a folder above it (a file manager's trash
            // moves only the top folder): nothing is shown any more, whatever else the block says.
            SetFolder("", false);
            return true;
        }
        const size_t slash = record.name.rfind('/');
        if (slash == std::string::npos || !inside || std::string_view(record.name).substr(0, slash) != shown)
            continue;
        std::string fileName = record.name.substr(slash + 1);
        if (!IsMediaName(fileName)) continue;
        repaint = true;
        removal = removal || action == kActionRemoved;
        listed[std::move(fileName)] = action == kActionRenamedNewName;
    }
    if (listed.empty()) {
        if (removal) RequestUpdateScrollRange();
        return repaint;
    }

    bool countChanged = false;
    {
        std::lock_guard guard(itemsLock);
        // Another folder shown meanwhile has been listed afresh.
        if (currentFolder != folder) return repaint;
        std::vector<std::string> toInsert;
        std::unordered_set<std::string> toRemove;
        {
            const std::unordered_set<std::string_view> present(items.begin(), items.end());
            for (auto& [name, wanted] : listed) {
                const bool there = present.contains(name);
                if (wanted && !there) toInsert.push_back(name);
                if (!wanted && there) toRemove.insert(name);
            }
        }
        if (!toInsert.empty() || !toRemove.empty()) {
            // One pass over the list: each new name goes before the first greater item, as a sorted
            // insertion one by one would put it, and each removed name loses its first occurrence.
            std::sort(toInsert.begin(), toInsert.end());
            std::vector<std::string> merged;
            merged.reserve(items.size() + toInsert.size());
            size_t next = 0;
            for (std::string& item : items) {
                while (next < toInsert.size() && toInsert[next] < item) merged.push_back(std::move(toInsert[next++]));
                if (!toRemove.empty() && toRemove.erase(item) > 0) continue;
                merged.push_back(std::move(item));
            }
            while (next < toInsert.size()) merged.push_back(std::move(toInsert[next++]));
            countChanged = merged.size() != items.size() || !toInsert.empty();
            items.swap(merged);
        }
    }
    // The count changed, so the range must follow or the last row could not be scrolled to.
    if (removal || countChanged) RequestUpdateScrollRange();
    return repaint;
}

void CResourcesBrowserModel::StopWatching() { watch.Stop(); }

void CResourcesBrowserModel::RestartWatching() {
    SetFolder("", false);
    StopWatching();
    // What the old watch reported is about a tree no longer shown.
    ClearChangeQueue();
    StartWatchThread();
}

void CResourcesBrowserModel::ClearChangeQueue() {
    std::deque<ChangeBlock> dropped;
    std::lock_guard guard(queueLock);
    dropped.swap(changeQueue);
}

std::vector<std::string> CResourcesBrowserModel::GetItems() const {
    std::lock_guard guard(itemsLock);
    return items;
}

size_t CResourcesBrowserModel::GetItemCount() const {
    std::lock_guard guard(itemsLock);
    return items.size();
}

std::string CResourcesBrowserModel::GetItemPath(int64_t index) const {
    std::lock_guard guard(itemsLock);
    if (index < 0 || static_cast<uint64_t>(index) >= items.size()) return {};
    return currentFolder + "/" + items[static_cast<size_t>(index)];
}

std::string CResourcesBrowserModel::GetWatchedRoot() const {
    std::lock_guard guard(itemsLock);
    return watchedRoot;
}

void CResourcesBrowserModel::InjectWatchEvents(std::vector<char> events) {
    watch.InjectEvents(std::move(events));
}

void CResourcesBrowserModel::StartWatchThread() {
    const std::string root = settings->GetUsingParam().GetRootPath();
    {
        std::lock_guard guard(itemsLock);
        watchedRoot = root;
    }
    if (!watch.Start(root)) ShowAlert(kThreadFailureText);
}

void CResourcesBrowserModel::QueueChangeBlock(ChangeBlock block) {
    {
        std::lock_guard guard(queueLock);
        changeQueue.push_back(std::move(block));
    }
    queueChanged.notify_one();
}

void CResourcesBrowserModel::ChangeConsumerProc() {
    NameThisThread("orv-changes");
    using Clock = std::chrono::steady_clock;
    // A steady clock: a wall-clock step back must not hold the repaint off.
    Clock::time_point lastBlockTime = Clock::now();
    bool rescanPending = false;
    bool repaintPending = false;

    std::unique_lock lock(queueLock);
    while (consumerRunning) {
        if (!changeQueue.empty()) {
            // Everything queued at once: a storm of changes is merged into the list in one pass.
            std::deque<ChangeBlock> blocks;
            blocks.swap(changeQueue);
            lock.unlock();
            lastBlockTime = Clock::now();
            std::vector<ChangeRecord> records;
            for (ChangeBlock& block : blocks) {
                if (!block) {
                    rescanPending = true;
                    repaintPending = true;
                } else if (records.empty()) {
                    records = std::move(*block);
                } else {
                    records.insert(records.end(), std::make_move_iterator(block->begin()),
                                   std::make_move_iterator(block->end()));
                }
            }
            blocks.clear();
            if (ApplyChanges(records)) repaintPending = true;
            lock.lock();
            continue;
        }
        if (!rescanPending && !repaintPending) {
            queueChanged.wait(lock);
            continue;
        }
        const Clock::time_point due = lastBlockTime + kQuietTime;
        if (Clock::now() <= due) {
            queueChanged.wait_until(lock, due + std::chrono::milliseconds(1));
            continue;
        }
        lock.unlock();
        if (rescanPending) {
            rescanPending = false;
            Rescan();
        }
        if (repaintPending) {
            repaintPending = false;
            RequestRepaint();
        }
        lock.lock();
    }
    lock.unlock();
    ClearChangeQueue();
}

void CResourcesBrowserModel::RequestResetScroll() {
    if (host != nullptr) host->RequestResetScroll();
}

void CResourcesBrowserModel::RequestUpdateScrollRange() {
    if (host != nullptr) host->RequestUpdateScrollRange();
}

void CResourcesBrowserModel::RequestScrollToEnd() {
    if (host != nullptr) host->RequestScrollToEnd();
}

void CResourcesBrowserModel::RequestRepaint() {
    if (host != nullptr) host->RequestRepaint();
}

}  // namespace orvane
