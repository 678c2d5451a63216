#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "base/unique_fd.h"

namespace orvane {

// A file that appears under its final name whole or not at all. It is written under a hidden
// temporary name in the destination folder (".orvane-save-*.tmp", which no listing takes for a photo
// or a movie), flushed to the disk, and only then renamed into place; the folder is flushed after
// the rename. A crash or a full disk never leaves a truncated file under the final name.
//
// Every operation returns 0 or the errno of the step that failed. Not thread-safe; one owner.
class CAtomicFile {
public:
    CAtomicFile() = default;
    // Removes the temporary file unless it was committed.
    ~CAtomicFile();

    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Opens a new temporary file in `folder` (which must exist) with `mode` (less the umask).
    int Create(const std::string& folder, mode_t mode = 0666);
    // The same in the folder of `path` (the current folder for a bare name).
    int CreateBeside(const std::string& path, mode_t mode = 0666);
    // Appends bytes; a short write of a full disk is ENOSPC, one beyond the size limit EFBIG.
    int Write(const void* data, size_t size);

    // Puts the file under `path` (in the folder given to Create), replacing a file of that name.
    int CommitReplacing(const std::string& path);
    // Puts the file under `path` only when no file of that name exists: EEXIST otherwise, and the
    // file stays ready for a commit under another name.
    int CommitNew(const std::string& path);
    // Removes the temporary file; harmless after a commit.
    void Discard();

    const std::string& TemporaryPath() const { return temporaryPath; }

private:
    // Syncs and closes the temporary file once; its result is kept for later commits.
    int Finish();
    void SyncFolder() const;

    UniqueFd file;
    std::string folder;
    std::string temporaryPath;
    int finishError = -1;  // -1 until Finish ran
    bool committed = false;
};

// Replaces the contents of `path` with `data` through a CAtomicFile. When `path` is a symbolic link
// (a settings file kept by a dotfile manager), the file it points to is replaced and the link stays.
int WriteFileReplacing(const std::string& path, std::string_view data, mode_t mode = 0666);

// The folder part of `path` without its final "/" ("/" for the root, "." for a bare name).
std::string ParentFolder(const std::string& path);

// Where a write to `path` really lands: `path` itself, or the end of its chain of symbolic links (a
// relative link counts from the link's own folder). The target need not exist. Loops give ELOOP in
// `error`.
std::string ResolveWriteTarget(const std::string& path, int& error);

}  // namespace orvane
