#pragma once

#include <map>
#include <mutex>
#include <string>

#include "base/singleton.h"

namespace orvane {

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
    // Rebuilds the table from the strings file of the loaded language.
    void Reload();
    // The strings file of the loaded language.
    std::string GetFilePath() const;

private:
    CLocalizableString();

    static constexpr int32_t kNoLanguage = 0x1FFFFFFF;

    const CSettingParamManage* settings;
    const std::string moduleFolder;
    std::mutex tableLock;  // guards table and loadedLanguage across check, reload and lookup
    std::map<std::string, std::string> table;
    int32_t loadedLanguage = kNoLanguage;
};

}  // namespace orvane
