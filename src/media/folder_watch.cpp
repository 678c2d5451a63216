#include "media/folder_watch.h"
#include "base/thread_name.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

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

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool IsDotEntry(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// A real folder, not a link to one.
bool IsFolderEntry(DIR* dir, const dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN) return false;
    struct stat st {};
    return ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
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
    inotifyFd.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (inotifyFd.Get() >= 0) AddTree("");

    alignas(inotify_event) char buffer[kReadBufferSize];
    while (rootWatch >= 0) {
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
            // Whatever lay below the root is gone or elsewhere now; let the shown folder be listed again.
            FlushPendingMove();
            Deliver();
            receiver(std::nullopt);
            break;
        }
    }

    watchedFolders.clear();
    records.clear();
    pendingMove.reset();
    rootWatch = -1;
    rootGone = false;
    inotifyFd.Reset();
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

        const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (folder.empty() ? 0 : O_NOFOLLOW);
        const int dirFd = ::open(path.c_str(), flags);
        if (dirFd < 0) continue;
        DirHandle dir(::fdopendir(dirFd));
        if (!dir) {
            ::close(dirFd);
            continue;
        }
        while (const dirent* entry = ::readdir(dir.get())) {
            if (IsDotEntry(entry->d_name) || !IsFolderEntry(dir.get(), entry)) continue;
            folders.push_back(Join(folder, entry->d_name));
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
