#include "config/registry.h"

#include <cstring>

#include "base/text.h"

namespace orvane {

namespace {

constexpr size_t kTextBufferBytes = 200;  // 99 UTF-16 code units and the final NUL

}  // namespace

CRegistry::CRegistry(HKEY hive_) : hive(hive_ != nullptr ? hive_ : CRegistryHive::CurrentUser()) {}

CRegistry::~CRegistry() {
    if (wrote) hive->Flush();
}

bool CRegistry::Open(const std::string& keyPath, bool forWriting) {
    if (forWriting && CRegistryHive::IsFactoryPath(keyPath)) return false;
    if (!hive->KeyExists(keyPath)) return false;
    path = keyPath;
    open = true;
    writable = forWriting;
    return true;
}

bool CRegistry::Create(const std::string& keyPath) {
    if (!hive->CreateKey(keyPath)) return false;
    path = keyPath;
    open = true;
    writable = !CRegistryHive::IsFactoryPath(keyPath);
    return writable;
}

bool CRegistry::ReadDword(const std::string& name, uint32_t& out) const {
    if (!open) return false;
    RegType type;
    std::vector<uint8_t> data;
    if (!hive->QueryValue(path, name, type, data) || data.size() > 4) return false;
    uint32_t value = 0;  // a shorter value fills the low bytes of the zeroed buffer
    for (size_t i = 0; i < data.size(); ++i) value |= uint32_t(data[i]) << (8 * i);
    out = value;
    return true;
}

bool CRegistry::ReadDword(const std::string& name, int32_t& out) const {
    uint32_t value;
    if (!ReadDword(name, value)) return false;
    out = static_cast<int32_t>(value);
    return true;
}

bool CRegistry::ReadText(const std::string& name, std::string& out) const {
    if (!open) return false;
    RegType type;
    std::vector<uint8_t> data;
    if (!hive->QueryValue(path, name, type, data) || data.size() > kTextBufferBytes) return false;
    const std::u16string wide = TextOfValueData(data);
    // A value that fills the whole buffer without its NUL is one character too long.
    if (wide.size() >= kTextBufferBytes / 2) return false;
    out = Utf16ToUtf8(wide);
    return true;
}

bool CRegistry::WriteDword(const std::string& name, uint32_t value) {
    if (!open || !writable) return false;
    if (!hive->SetValue(path, name, RegType::Dword, DwordValueData(value))) return false;
    wrote = true;
    return true;
}

bool CRegistry::WriteText(const std::string& name, const std::string& value) {
    if (!open || !writable) return false;
    if (!hive->SetValue(path, name, RegType::Sz, TextValueData(value))) return false;
    wrote = true;
    return true;
}

}  // namespace orvane
