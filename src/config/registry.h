#pragma once

#include <cstdint>
#include <string>

#include "config/registry_hive.h"

namespace orvane {

// The hive a key is opened in; nullptr stands for the current user's hive.
using HKEY = CRegistryHive*;

// One open key of the settings tree. Reads follow the registry's limits: numbers of at most 4 bytes,
// texts of at most 99 UTF-16 code units (a 200-byte buffer with its final NUL). A failed read leaves
// the output unchanged. Writes are kept in the hive and saved when the key is closed.
class CRegistry {
public:
    explicit CRegistry(HKEY hive = nullptr);
    virtual ~CRegistry();

    CRegistry(const CRegistry&) = delete;
    CRegistry& operator=(const CRegistry&) = delete;

    // Opens an existing key; false when it is missing or (writable) belongs to the factory branch.
    bool Open(const std::string& path, bool writable = false);
    // Opens the key with full access, creating it (and its parents) when it is missing.
    bool Create(const std::string& path);
    bool IsOpen() const { return open; }

    bool ReadDword(const std::string& name, uint32_t& out) const;
    bool ReadDword(const std::string& name, int32_t& out) const;
    bool ReadText(const std::string& name, std::string& out) const;

    bool WriteDword(const std::string& name, uint32_t value);
    // Written as a text value including its final NUL.
    bool WriteText(const std::string& name, const std::string& value);

    CRegistryHive* Hive() const { return hive; }

private:
    CRegistryHive* hive;
    std::string path;
    bool open = false;
    bool writable = false;
    bool wrote = false;
};

}  // namespace orvane
