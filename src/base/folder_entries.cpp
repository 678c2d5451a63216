#include "base/folder_entries.h"

#include <filesystem>
#include <system_error>

namespace orvane {

std::vector<FolderEntry> ReadFolder(const std::string& folder) {
    std::vector<FolderEntry> entries;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        FolderEntry entry;
        entry.name = it->path().filename().string();
        // The type comes with the name for most entries; only links and file systems that do not
        // tell the type cost a stat.
        std::error_code typeError;
        entry.isLink = it->is_symlink(typeError);
        entry.isFolder = it->is_directory(typeError);
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace orvane
