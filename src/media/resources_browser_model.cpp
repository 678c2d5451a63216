#include "media/resources_browser_model.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <system_error>

#include "base/alert_sink.h"
#include "base/thread_name.h"

namespace orvane {

namespace {

constexpr auto kQuietTime = std::chrono::milliseconds(50);

const char* const kThreadFailureText = "Thread of monitoring orvane path  run failure";

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool IsDotEntry(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Links count as what they point to, as in the file manager.
bool IsFolderEntry(DIR* dir, const dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return false;
    struct stat st {};
    return ::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
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
    DirHandle dir(::opendir(folder.c_str()));
    if (!dir) return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (IsDotEntry(entry->d_name) || !IsMediaName(entry->d_name) || IsFolderEntry(dir.get(), entry))
            continue;
        names.emplace_back(entry->d_name);
    }
    dir.reset();
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
    if (action == kActionAdded) return false;
    std::string root;
    std::string folder;
    {
        std::lock_guard guard(itemsLock);
        root = watchedRoot;
        folder = currentFolder;
    }
    if (folder.empty()) return false;

    if (action == kActionRemoved || action == kActionRenamedOldName) {
        // The shown folder went away, by itself or with a folder above it (a file manager's trash moves
        // only the top folder).
        const std::string gone = root + "/" + name;
        if (folder.size() >= gone.size() && folder.compare(0, gone.size(), gone) == 0 &&
            (folder.size() == gone.size() || folder[gone.size()] == '/')) {
            SetFolder("", false);
            return true;
        }
    }

    const size_t slash = name.rfind('/');
    if (slash == std::string::npos) return false;
    if (root + "/" + name.substr(0, slash) != folder) return false;
    const std::string fileName = name.substr(slash + 1);
    if (!IsMediaName(fileName)) return false;

    switch (action) {
        case kActionRemoved:
            RemoveItem(fileName);
            RequestUpdateScrollRange();
            return true;
        case kActionRenamedOldName:
            // The count changed, so the range must follow or the last row could not be scrolled to.
            if (RemoveItem(fileName)) RequestUpdateScrollRange();
            return true;
        case kActionRenamedNewName:
            if (InsertItemSorted(fileName)) RequestUpdateScrollRange();
            return true;
        default:
            return false;
    }
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
            ChangeBlock block = std::move(changeQueue.front());
            changeQueue.pop_front();
            lock.unlock();
            lastBlockTime = Clock::now();
            if (!block) {
                rescanPending = true;
                repaintPending = true;
            } else {
                for (const ChangeRecord& record : *block) {
                    if (ProcessChange(record.action, record.name)) repaintPending = true;
                }
            }
            block.reset();
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
