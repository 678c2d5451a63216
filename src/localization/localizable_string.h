#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "base/singleton.h"
#include "localization/string_keys.h"

namespace orvane {

class CSettingParam;
class CSettingParamManage;

// The texts of the current language, read from Resource/<indentifier>.lproj/Localizable.strings
// beside the program. A lookup notices a change of the effective language and reloads the file
// first; a key the file lacks gives the fallback written at the call site. Safe from any thread.
class CLocalizableString : public KORU::Singleton<CLocalizableString> {
    friend class KORU::Singleton<CLocalizableString>;

public:
    // settings: where the language comes from; moduleFolder: the folder holding Resource/, ending
    // with "/".
    CLocalizableString(const CSettingParamManage* settings, std::string moduleFolder);

    // The text for `key` in the current language, or `fallback`.
    std::string GetString(const std::string& key, const std::string& fallback);
    // The text of one listed lookup (localization/string_keys.inc).
    std::string GetString(const StringKey& text) { return GetString(text.key, text.fallback); }
    // Rebuilds the table from the strings file of the loaded language.
    void Reload();
    // The strings file of the loaded language.
    std::string GetFilePath() const;

private:
    CLocalizableString();

    static constexpr int32_t kNoLanguage = 0x1FFFFFFF;
    // The longest line of a strings file, in bytes; a longer line is skipped as a whole.
    static constexpr size_t kMaxLineBytes = 999;

    // The strings file of `language` as named by `param`.
    std::string FilePathFor(const CSettingParam& param, int32_t language) const;
    // Rebuilds the table with tableLock held. Returns the message for the user, empty when the file
    // gave at least one entry; the caller shows it once the lock is released.
    std::string ReloadLocked(const CSettingParam& param);
    // Reads the entries of one file into the table; false when the file cannot be opened.
    bool ReadFile(const std::string& path);
    // Applies the entry rules to one line (already valid UTF-8, without its line end).
    void AddLine(const std::string& line);

    const CSettingParamManage* settings;
    const std::string moduleFolder;
    mutable std::mutex tableLock;  // guards table and loadedLanguage across check, reload and lookup
    std::map<std::string, std::string> table;
    int32_t loadedLanguage = kNoLanguage;
};

}  // namespace orvane
