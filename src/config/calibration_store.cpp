#include "config/calibration_store.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/text.h"

namespace orvane {

namespace {

constexpr const char* kRootKey = "Software\\zentrova\\Calibrations";
constexpr const char* kActiveValue = "Active";
constexpr const char* kNameValue = "Name";
constexpr const char* kPixelSizeValue = "MetresPerPixel";
constexpr const char* kWidthValue = "Width";
constexpr const char* kUnitValue = "Unit";

// The store reads the hive directly rather than through CRegistry: a calibration's name may be longer
// than a registry text, and a value of the wrong type marks a damaged entry.

// A key name for the identity: the characters that would split a key path or upset the hive file are
// written as %XX. The wireless camera's empty identity is "%".
std::string IdentityKey(const std::string& identity) {
    if (identity.empty()) return "%";
    std::string key;
    for (const char c : identity) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\' || c == '%' || c == '[' || c == ']' || c == '"') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            key += escaped;
        } else {
            key += c;
        }
    }
    return key;
}

std::string IdentityPath(const std::string& identity) {
    return std::string(kRootKey) + "\\" + IdentityKey(identity);
}

bool ReadText(const CRegistryHive& hive, const std::string& path, const char* name, std::string& out) {
    RegType type{};
    std::vector<uint8_t> data;
    if (!hive.QueryValue(path, name, type, data) || type != RegType::Sz) return false;
    out = Utf16ToUtf8(TextOfValueData(data));
    return true;
}

bool ReadDword(const CRegistryHive& hive, const std::string& path, const char* name, uint32_t& out) {
    RegType type{};
    std::vector<uint8_t> data;
    if (!hive.QueryValue(path, name, type, data) || type != RegType::Dword || data.size() != 4) return false;
    out = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
    return true;
}

bool WriteText(CRegistryHive& hive, const std::string& path, const char* name, const std::string& text) {
    return hive.SetValue(path, name, RegType::Sz, TextValueData(text));
}

bool WriteDword(CRegistryHive& hive, const std::string& path, const char* name, uint32_t value) {
    return hive.SetValue(path, name, RegType::Dword, DwordValueData(value));
}

// Units are stored in plain ASCII, so that the file reads the same in any editor.
const char* UnitCode(LengthUnit unit) {
    switch (unit) {
        case LengthUnit::Nanometre: return "nm";
        case LengthUnit::Micrometre: return "um";
        case LengthUnit::Millimetre: return "mm";
    }
    return "um";
}

bool ParseUnit(const std::string& code, LengthUnit& unit) {
    if (code == "nm") unit = LengthUnit::Nanometre;
    else if (code == "um") unit = LengthUnit::Micrometre;
    else if (code == "mm") unit = LengthUnit::Millimetre;
    else return false;
    return true;
}

bool Usable(const Calibration& calibration) {
    return !calibration.name.empty() && calibration.metresPerPixel > 0 &&
           std::isfinite(calibration.metresPerPixel) && calibration.atWidth > 0;
}

// The pixel size in the shortest text that reads back to the same number.
std::string PixelSizeText(double metres) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, metres);
    return error == std::errc() ? std::string(buffer, end) : "";
}

// One stored calibration: its sub-key and what it holds.
struct Entry {
    std::string slot;
    Calibration calibration;
};

// The identity's usable calibrations in the order they were kept. A damaged one (a value missing or
// unreadable) is left out, and so is a second one of a name already seen.
std::vector<Entry> Entries(const CRegistryHive& hive, const std::string& identityPath) {
    std::vector<Entry> entries;
    for (const std::string& slot : hive.SubKeys(identityPath)) {
        const std::string path = identityPath + "\\" + slot;
        Entry entry{slot, {}};
        Calibration& c = entry.calibration;
        std::string size, unit;
        uint32_t width = 0;
        if (!ReadText(hive, path, kNameValue, c.name) || !ReadText(hive, path, kPixelSizeValue, size) ||
            !ReadDword(hive, path, kWidthValue, width) || !ReadText(hive, path, kUnitValue, unit) ||
            !ParseUnit(unit, c.unit) || width > INT32_MAX) {
            continue;
        }
        const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), c.metresPerPixel);
        if (error != std::errc() || end != size.data() + size.size()) continue;
        c.atWidth = static_cast<int32_t>(width);
        if (!Usable(c)) continue;
        const bool seen = std::any_of(entries.begin(), entries.end(),
                                      [&](const Entry& e) { return e.calibration.name == c.name; });
        if (!seen) entries.push_back(std::move(entry));
    }
    return entries;
}

const Entry* FindEntry(const std::vector<Entry>& entries, const std::string& name) {
    for (const Entry& entry : entries) {
        if (entry.calibration.name == name) return &entry;
    }
    return nullptr;
}

// A sub-key name no stored calibration uses: one more than the highest number in use.
std::string FreeSlot(const CRegistryHive& hive, const std::string& identityPath) {
    uint64_t highest = 0;
    for (const std::string& slot : hive.SubKeys(identityPath)) {
        uint64_t number = 0;
        const auto [end, error] = std::from_chars(slot.data(), slot.data() + slot.size(), number);
        if (error == std::errc() && end == slot.data() + slot.size()) highest = std::max(highest, number);
    }
    return std::to_string(highest + 1);
}

bool WriteEntry(CRegistryHive& hive, const std::string& path, const Calibration& calibration) {
    const std::string size = PixelSizeText(calibration.metresPerPixel);
    return !size.empty() && hive.CreateKey(path) && WriteText(hive, path, kNameValue, calibration.name) &&
           WriteText(hive, path, kPixelSizeValue, size) &&
           WriteDword(hive, path, kWidthValue, static_cast<uint32_t>(calibration.atWidth)) &&
           WriteText(hive, path, kUnitValue, UnitCode(calibration.unit));
}

}  // namespace

CCalibrationStore::CCalibrationStore(HKEY hive_) : hive(hive_) {}

CRegistryHive& CCalibrationStore::Hive() const {
    return hive != nullptr ? *hive : *CRegistryHive::CurrentUser();
}

std::vector<Calibration> CCalibrationStore::List(const std::string& identity) const {
    std::vector<Calibration> list;
    for (Entry& entry : Entries(Hive(), IdentityPath(identity))) list.push_back(std::move(entry.calibration));
    std::stable_sort(list.begin(), list.end(),
                     [](const Calibration& a, const Calibration& b) { return a.name < b.name; });
    return list;
}

std::optional<Calibration> CCalibrationStore::Active(const std::string& identity) const {
    const CRegistryHive& store = Hive();
    const std::string path = IdentityPath(identity);
    std::string name;
    if (!ReadText(store, path, kActiveValue, name) || name.empty()) return std::nullopt;
    const std::vector<Entry> entries = Entries(store, path);
    if (const Entry* entry = FindEntry(entries, name)) return entry->calibration;
    return std::nullopt;
}

bool CCalibrationStore::Add(const std::string& identity, const Calibration& calibration) {
    if (!Usable(calibration)) return false;
    CRegistryHive& store = Hive();
    const std::string path = IdentityPath(identity);
    const std::vector<Entry> entries = Entries(store, path);
    const Entry* same = FindEntry(entries, calibration.name);
    const std::string slot = same != nullptr ? same->slot : FreeSlot(store, path);
    return WriteEntry(store, path + "\\" + slot, calibration) && store.Flush();
}

bool CCalibrationStore::SetActive(const std::string& identity, const std::string& name) {
    CRegistryHive& store = Hive();
    const std::string path = IdentityPath(identity);
    if (!name.empty() && FindEntry(Entries(store, path), name) == nullptr) return false;
    return store.CreateKey(path) && WriteText(store, path, kActiveValue, name) && store.Flush();
}

bool CCalibrationStore::Rename(const std::string& identity, const std::string& from, const std::string& to) {
    if (to.empty()) return false;
    CRegistryHive& store = Hive();
    const std::string path = IdentityPath(identity);
    const std::vector<Entry> entries = Entries(store, path);
    const Entry* entry = FindEntry(entries, from);
    if (entry == nullptr) return false;
    if (from == to) return true;
    if (FindEntry(entries, to) != nullptr) return false;
    if (!WriteText(store, path + "\\" + entry->slot, kNameValue, to)) return false;
    std::string active;
    if (ReadText(store, path, kActiveValue, active) && active == from) WriteText(store, path, kActiveValue, to);
    return store.Flush();
}

bool CCalibrationStore::Remove(const std::string& identity, const std::string& name) {
    CRegistryHive& store = Hive();
    const std::string path = IdentityPath(identity);
    const std::vector<Entry> entries = Entries(store, path);
    const Entry* entry = FindEntry(entries, name);
    if (entry == nullptr || !store.DeleteKey(path + "\\" + entry->slot)) return false;
    std::string active;
    if (ReadText(store, path, kActiveValue, active) && active == name) WriteText(store, path, kActiveValue, "");
    return store.Flush();
}

}  // namespace orvane
