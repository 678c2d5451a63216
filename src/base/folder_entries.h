#pragma once

#include <string>
#include <vector>

namespace orvane {

// One entry of a folder as the walkers of the storage tree see it. The one rule for symbolic links: a
// link counts as what it points to (a link to a folder is a folder, a dangling link is not), and it
// is marked, so that no walk goes down through it: it may lead back up the tree or out of it.
struct FolderEntry {
    std::string name;
    bool isFolder = false;  // a folder, or a link to one
    bool isLink = false;    // a symbolic link, whatever it points to
};

// The entries of `folder` in the order the file system gives them, without "." and "..". Empty when
// the folder cannot be read; a read error part way through ends the list there. Any thread; it reads
// the disk, so never on the interface or capture thread for a large folder.
std::vector<FolderEntry> ReadFolder(const std::string& folder);

}  // namespace orvane
