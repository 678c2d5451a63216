#include "base/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

namespace orvane {

namespace {

// rename that never replaces: renameat2 where the file system has it, else a hard link (which fails
// on an existing name) and the removal of the temporary name. File systems with neither (FAT on a
// memory stick) get a look-then-rename, which is enough for the program's single writer per folder.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno == EEXIST) return EEXIST;
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::string ParentFolder(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

CAtomicFile::~CAtomicFile() { Discard(); }

int CAtomicFile::CreateBeside(const std::string& path, mode_t mode) {
    return Create(ParentFolder(path), mode);
}

int CAtomicFile::Create(const std::string& folder_, mode_t mode) {
    Discard();
    static std::atomic<uint64_t> counter{0};
    folder = folder_.empty() ? std::string(".") : folder_;
    committed = false;
    finishError = -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder + (folder.back() == '/' ? "" : "/") + ".orvane-save-" +
                           std::to_string(::getpid()) + "-" +
                           std::to_string(counter.fetch_add(1, std::memory_order_relaxed)) + ".tmp";
        int fd;
        do {
            fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) {
            file.Reset(fd);
            temporaryPath = std::move(name);
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

int CAtomicFile::Write(const void* data, size_t size) {
    if (!file) return EBADF;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(file.Get(), bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (written == 0) return ENOSPC;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

int CAtomicFile::Finish() {
    if (finishError >= 0) return finishError;
    if (!file) return finishError = EBADF;
    // Synced before the rename: a write the disk cannot take fails here rather than unseen later, and a
    // crash cannot leave an empty file under the final name.
    int error = ::fdatasync(file.Get()) != 0 ? errno : 0;
    const int closeError = file.Close();
    if (error == 0) error = closeError;
    return finishError = error;
}

void CAtomicFile::SyncFolder() const {
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.Get());
}

int CAtomicFile::CommitReplacing(const std::string& path) {
    if (temporaryPath.empty() || committed) return EBADF;
    if (const int error = Finish(); error != 0) return error;
    if (::rename(temporaryPath.c_str(), path.c_str()) != 0) return errno;
    committed = true;
    SyncFolder();
    return 0;
}

int CAtomicFile::CommitNew(const std::string& path) {
    if (temporaryPath.empty() || committed) return EBADF;
    if (const int error = Finish(); error != 0) return error;
    if (const int error = RenameNoReplace(temporaryPath, path); error != 0) return error;
    committed = true;
    SyncFolder();
    return 0;
}

void CAtomicFile::Discard() {
    file.Reset();
    if (!committed && !temporaryPath.empty()) ::unlink(temporaryPath.c_str());
    temporaryPath.clear();
    committed = false;
    finishError = -1;
}

std::string ResolveWriteTarget(const std::string& path, int& error) {
    error = 0;
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        std::vector<char> target(PATH_MAX + 1);
        const ssize_t size = ::readlink(current.c_str(), target.data(), PATH_MAX);
        if (size < 0) return current;  // not a link (or not there): this is the file
        std::string next(target.data(), static_cast<size_t>(size));
        if (next.empty()) return current;
        if (next.front() != '/') next = ParentFolder(current) + "/" + next;
        current = std::move(next);
    }
    error = ELOOP;
    return path;
}

int WriteFileReplacing(const std::string& path, std::string_view data, mode_t mode) {
    int error = 0;
    const std::string target = ResolveWriteTarget(path, error);
    if (error != 0) return error;
    // A file that is replaced keeps its permissions (a settings file the user made private stays so).
    struct stat st {};
    const bool replacing = ::stat(target.c_str(), &st) == 0;
    CAtomicFile file;
    if ((error = file.Create(ParentFolder(target), mode)) != 0) return error;
    if (replacing) ::chmod(file.TemporaryPath().c_str(), st.st_mode & 07777);
    if ((error = file.Write(data.data(), data.size())) != 0) return error;
    return file.CommitReplacing(target);
}

}  // namespace orvane
