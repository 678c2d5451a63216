#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// Value types as the settings tree stores them.
enum class RegType : uint32_t { Sz = 1, Binary = 3, Dword = 4 };

// The bytes of a text value: UTF-16, low byte first, with its final NUL.
std::vector<uint8_t> TextValueData(std::string_view text);
// The UTF-16 text of a value's bytes, up to its first NUL.
std::u16string TextOfValueData(const std::vector<uint8_t>& data);
// The four bytes of a number value, the lowest first.
std::vector<uint8_t> DwordValueData(uint32_t value);

// One hive of the settings tree: the user's keys, kept in a human-readable text file, with the
// read-only factory branch (software\zentrova\default\...) laid over it from the factory file that
// is installed beside the program. Key paths are separated by "\"; key and value names compare
// without regard to case and keep the case they were first written with.
//
// A file that does not parse cleanly is read as far as it can be (a UTF-8 byte-order mark in front is
// no damage). Before a save would replace such a file, a copy of it is kept beside it (name +
// ".damaged", numbered when that exists), and once the save has worked an alert says so, once.
// Saving is atomic: a temporary file is written, synced and renamed over the old. A user file that is
// a symbolic link (kept by a dotfile manager) stays one: the file it points to is replaced.
//
// All operations are thread-safe.
class CRegistryHive {
public:
    // userFile: the user's hive file (created on the first save, with its folder); factoryFile: the
    // factory file (may be missing; never written). Both are read at construction.
    CRegistryHive(std::string userFile, std::string factoryFile);
    ~CRegistryHive();

    CRegistryHive(const CRegistryHive&) = delete;
    CRegistryHive& operator=(const CRegistryHive&) = delete;

    // The hive of the current user: $XDG_CONFIG_HOME/zentrova/settings.conf (~/.config/zentrova/ when
    // unset) with the factory file Resource/factory.conf beside the program. Tests may install their
    // own with SetCurrentUser (nullptr restores the process-wide one).
    static CRegistryHive* CurrentUser();
    static void SetCurrentUser(CRegistryHive* hive);
    static std::string DefaultUserFile();
    static std::string DefaultFactoryFile();

    bool KeyExists(std::string_view path) const;
    // Creates the key and every missing parent; false for a key of the read-only factory branch.
    bool CreateKey(std::string_view path);
    // The raw bytes of a value as the registry stores them (texts as UTF-16LE with the final NUL).
    bool QueryValue(std::string_view path, std::string_view name, RegType& type,
                    std::vector<uint8_t>& data) const;
    // Writes a value into an existing key; false when the key is missing or read-only.
    bool SetValue(std::string_view path, std::string_view name, RegType type, std::vector<uint8_t> data);
    // The names of the key's direct sub-keys in the order they were made; empty for a missing key.
    std::vector<std::string> SubKeys(std::string_view path) const;
    // Removes a key of the user's branch with everything below it; false when it is missing or
    // read-only.
    bool DeleteKey(std::string_view path);

    // Writes the user's keys to the user file if anything changed since the last save. 0, or the errno
    // of the step that failed (the old file then stays as it was, and the next save tries again).
    int Save();
    // Save() as a bool; on failure errno holds the reason.
    bool Flush();

    // Whether the user file had lines that could not be read (the problem stays until a save).
    bool HadDamagedFile() const;
    const std::string& UserFile() const { return userFile; }

    // Whether the path lies in the factory branch.
    static bool IsFactoryPath(std::string_view path);

private:
    struct Node;

    Node* Find(Node* root, std::string_view path) const;
    Node* FindKey(std::string_view path) const;
    static bool ParseFile(const std::string& file, Node& root, std::string& problem);
    std::string Serialize() const;
    int KeepDamagedCopy(std::string& keptAs) const;
    // With `lock` held.
    void MarkChanged() {
        dirty = true;
        ++generation;
    }

    const std::string userFile;
    const std::string factoryFile;
    mutable std::mutex lock;  // guards userRoot, factoryRoot, dirty and the damage state
    std::unique_ptr<Node> userRoot;
    std::unique_ptr<Node> factoryRoot;
    bool dirty = false;
    uint64_t generation = 0;       // counts changes: a save knows whether it wrote the last one
    bool damaged = false;          // the user file on disk did not parse cleanly
    std::string damagedCopy;       // where its copy was kept, once made
    bool damagedKept = false;      // the copy was made and a save has replaced the file (reported)
};

}  // namespace orvane
