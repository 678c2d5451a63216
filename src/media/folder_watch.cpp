#include "media/folder_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/folder_entries.h"
#include "base/thread_name.h"

namespace orvane {

namespace {

// Additions, removals and renames of names, and the end of a watched folder itself. Attribute and access
// changes are left out: they would only produce records that nobody acts on, and every thumbnail paint
// reads the files.
constexpr uint32_t kWatchMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// How long a moved-from record at the end of a read waits for its moved-to partner, which the kernel
// queues right after it but may not have queued yet when the read returned.
constexpr int kMovePairingMs = 10;

constexpr size_t kReadBufferSize = 8192;

// Folders appearing or leaving where the way to a missing root goes.
constexpr uint32_t kWayMask = IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool IsFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// The folder part of an absolute path ("/" for a path right below the root, empty for "/" itself).
std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || path.size() <= 1) return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The name that follows `folder` on the way to `path`, which lies below it.
std::string NextOnTheWay(const std::string& folder, const std::string& path) {
    const size_t start = folder == "/" ? 1 : folder.size() + 1;
    if (path.size() <= start) return {};
    const size_t end = path.find('/', start);
    return path.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

bool IsSameOrBelow(const std::string& path, const std::string& folder) {
    return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

}  // namespace

CFolderWatch::CFolderWatch(BlockReceiver receiver_) : receiver(std::move(receiver_)) {}

CFolderWatch::~CFolderWatch() { Stop(); }

bool CFolderWatch::Start(const std::string& root) {
    if (watchThread.joinable()) return false;
    wakeFd.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wakeFd.Get() < 0) return false;
    {
        std::lock_guard guard(requestLock);
        stopRequested = false;
        injected.clear();
    }
    try {
        watchThread = std::thread(&CFolderWatch::WatchThreadProc, this, root);
    } catch (const std::system_error&) {
        wakeFd.Reset();
        return false;
    }
    return true;
}

void CFolderWatch::Stop() {
    if (!watchThread.joinable()) return;
    {
        std::lock_guard guard(requestLock);
        stopRequested = true;
    }
    const uint64_t one = 1;
    // The counter cannot overflow here, so the write does not fail on a valid eventfd.
    [[maybe_unused]] ssize_t written = ::write(wakeFd.Get(), &one, sizeof one);
    watchThread.join();
    watching.store(false, std::memory_order_release);
    wakeFd.Reset();
    std::lock_guard guard(requestLock);
    injected.clear();
}

void CFolderWatch::InjectEvents(std::vector<char> events) {
    if (!watchThread.joinable()) return;
    {
        std::lock_guard guard(requestLock);
        injected.push_back(std::move(events));
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(wakeFd.Get(), &one, sizeof one);
}

void CFolderWatch::WatchThreadProc(std::string root) {
    NameThisThread("orv-watch");
    watchedRoot = std::move(root);
    while (watchedRoot.size() > 1 && watchedRoot.back() == '/') watchedRoot.pop_back();
    inotifyFd.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (inotifyFd.Get() >= 0 && !watchedRoot.empty()) ArmRoot();
    watching.store(true, std::memory_order_release);

    alignas(inotify_event) char buffer[kReadBufferSize];
    while (rootWatch >= 0 || wayWatch >= 0) {
        pollfd fds[2] = {{inotifyFd.Get(), POLLIN, 0}, {wakeFd.Get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, pendingMove ? kMovePairingMs : -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (ready == 0) {
            FlushPendingMove();
            Deliver();
            continue;
        }
        if (fds[1].revents != 0) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t got = ::read(wakeFd.Get(), &count, sizeof count);
            std::vector<std::vector<char>> requests;
            {
                std::lock_guard guard(requestLock);
                if (stopRequested) break;
                requests.swap(injected);
            }
            for (const auto& events : requests) Decode(events.data(), events.size());
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const ssize_t length = ::read(inotifyFd.Get(), buffer, sizeof buffer);
            if (length < 0 && errno != EAGAIN && errno != EINTR) break;
            if (length > 0) Decode(buffer, static_cast<size_t>(length));
        } else if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            break;
        }
        if (rootGone) {
            // Whatever lay below the root is gone or elsewhere now; let the shown folder be listed again,
            // and wait for the root to come back.
            FlushPendingMove();
            Deliver();
            receiver(std::nullopt);
            // Made again already (moved away and replaced): what it holds may predate the new watches.
            if (ArmRoot()) receiver(std::nullopt);
        } else if (wayChanged && ArmRoot()) {
            // The root is back, with whatever was made in it meanwhile.
            receiver(std::nullopt);
        }
    }

    watchedFolders.clear();
    records.clear();
    pendingMove.reset();
    rootWatch = -1;
    rootGone = false;
    wayWatch = -1;
    wayFolder.clear();
    wayChanged = false;
    inotifyFd.Reset();
}

bool CFolderWatch::ArmRoot() {
    DropTree();
    rootGone = false;
    wayChanged = false;
    // A folder made between a look and the watch that follows it would go unseen: look again after
    // every watch, until the way stands still.
    for (int attempt = 0; attempt < 64; ++attempt) {
        if (IsFolder(watchedRoot)) {
            AddTree("");
            if (rootWatch >= 0) {
                if (wayWatch >= 0) ::inotify_rm_watch(inotifyFd.Get(), wayWatch);
                wayWatch = -1;
                wayFolder.clear();
                return true;
            }
        }
        std::string folder = FolderOf(watchedRoot);
        while (!folder.empty() && !IsFolder(folder)) folder = FolderOf(folder);
        if (folder.empty()) break;
        const int wd = ::inotify_add_watch(inotifyFd.Get(), folder.c_str(), kWayMask);
        if (wd < 0) break;
        if (wayWatch >= 0 && wayWatch != wd) ::inotify_rm_watch(inotifyFd.Get(), wayWatch);
        wayWatch = wd;
        wayFolder = folder;
        const std::string next = folder == "/" ? "/" + NextOnTheWay(folder, watchedRoot)
                                               : folder + "/" + NextOnTheWay(folder, watchedRoot);
        if (!IsFolder(next)) return false;
    }
    return false;
}

void CFolderWatch::DropTree() {
    for (const auto& [wd, folder] : watchedFolders) ::inotify_rm_watch(inotifyFd.Get(), wd);
    watchedFolders.clear();
    rootWatch = -1;
}

void CFolderWatch::Decode(const char* bytes, size_t length) {
    size_t offset = 0;
    while (length - offset >= sizeof(inotify_event)) {
        inotify_event event;
        std::memcpy(&event, bytes + offset, sizeof event);
        if (event.len > length - offset - sizeof event) break;
        const char* rawName = bytes + offset + sizeof event;
        std::string name(rawName, ::strnlen(rawName, event.len));
        offset += sizeof event + event.len;

        if ((event.mask & IN_Q_OVERFLOW) != 0) {
            FlushPendingMove();
            Deliver();
            receiver(std::nullopt);
            Resync();
            continue;
        }
        if (event.wd == wayWatch && wayWatch >= 0) {
            // On the way to a missing root: the next folder made or moved in, or this folder gone.
            if ((event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
                if ((event.mask & IN_IGNORED) != 0) wayWatch = -1;
                wayChanged = true;
            } else if (name == NextOnTheWay(wayFolder, watchedRoot)) {
                wayChanged = true;
            }
            continue;
        }
        const auto watch = watchedFolders.find(event.wd);
        if (watch == watchedFolders.end()) continue;
        if ((event.mask & IN_IGNORED) != 0) {
            if (event.wd == rootWatch) rootGone = true;
            watchedFolders.erase(watch);
            continue;
        }
        if ((event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) != 0) {
            if (event.wd == rootWatch) rootGone = true;
            continue;
        }
        if (name.empty()) continue;

        const std::string relative = Join(watch->second, name);
        const bool isFolder = (event.mask & IN_ISDIR) != 0;
        const bool completesMove =
            (event.mask & IN_MOVED_TO) != 0 && pendingMove && pendingMove->cookie == event.cookie;
        if (pendingMove && !completesMove) FlushPendingMove();

        if ((event.mask & IN_MOVED_TO) != 0) {
            if (completesMove) {
                records.push_back({kActionRenamedOldName, pendingMove->name});
                records.push_back({kActionRenamedNewName, relative});
                if (isFolder) RenameTree(pendingMove->name, relative);
                pendingMove.reset();
            } else {
                records.push_back({kActionAdded, relative});
                if (isFolder) AddTree(relative);
            }
        } else if ((event.mask & IN_MOVED_FROM) != 0) {
            pendingMove = PendingMove{event.cookie, relative, isFolder};
        } else if ((event.mask & IN_CREATE) != 0) {
            records.push_back({kActionAdded, relative});
            if (isFolder) AddTree(relative);
        } else if ((event.mask & IN_DELETE) != 0) {
            // A deleted folder's own watch ends with IN_IGNORED.
            records.push_back({kActionRemoved, relative});
        }
    }
    Deliver();
}

void CFolderWatch::FlushPendingMove() {
    if (!pendingMove) return;
    // Moved out of the tree: gone as far as the tree is concerned.
    records.push_back({kActionRemoved, pendingMove->name});
    if (pendingMove->isFolder) RemoveTree(pendingMove->name);
    pendingMove.reset();
}

void CFolderWatch::Deliver() {
    if (records.empty()) return;
    receiver(std::move(records));
    records.clear();
}

void CFolderWatch::AddTree(const std::string& relative) {
    std::vector<std::string> folders{relative};
    while (!folders.empty()) {
        const std::string folder = std::move(folders.back());
        folders.pop_back();
        const std::string path = FullPath(folder);
        // The root may be reached through a link; nothing below it is.
        const uint32_t mask = kWatchMask | (folder.empty() ? 0 : IN_DONT_FOLLOW);
        const int wd = ::inotify_add_watch(inotifyFd.Get(), path.c_str(), mask);
        if (wd < 0) continue;
        // A folder already watched under this name or another (a bind mount of one) is covered already;
        // going on into it could walk in circles.
        if (!watchedFolders.emplace(wd, folder).second) continue;
        if (folder.empty()) rootWatch = wd;

        for (const FolderEntry& entry : ReadFolder(path)) {
            if (entry.isFolder && !entry.isLink) folders.push_back(Join(folder, entry.name));
        }
    }
}

void CFolderWatch::RemoveTree(const std::string& relative) {
    for (auto it = watchedFolders.begin(); it != watchedFolders.end();) {
        if (it->first != rootWatch && IsSameOrBelow(it->second, relative)) {
            ::inotify_rm_watch(inotifyFd.Get(), it->first);
            it = watchedFolders.erase(it);
        } else {
            ++it;
        }
    }
}

void CFolderWatch::RenameTree(const std::string& from, const std::string& to) {
    for (auto& [wd, folder] : watchedFolders) {
        if (wd != rootWatch && IsSameOrBelow(folder, from)) folder = to + folder.substr(from.size());
    }
}

void CFolderWatch::Resync() {
    // Folders made, moved or removed while changes were lost: walk the tree again. Folders still there
    // keep their watch descriptors; the ones no longer found are let go.
    if (rootWatch < 0) {
        // Waiting for the root: the overflow may have hidden its return.
        wayChanged = true;
        return;
    }
    std::map<int, std::string> previous;
    previous.swap(watchedFolders);
    rootWatch = -1;
    AddTree("");
    if (rootWatch < 0) rootGone = true;
    for (const auto& [wd, folder] : previous) {
        if (!watchedFolders.contains(wd)) ::inotify_rm_watch(inotifyFd.Get(), wd);
    }
}

std::string CFolderWatch::FullPath(const std::string& relative) const {
    return relative.empty() ? watchedRoot : watchedRoot + "/" + relative;
}

}  // namespace orvane
