#pragma once

#include <string>
#include <vector>

#include "config/setting.h"

namespace orvane {

// The settings record every part of the program works with: the stored values plus the capture and
// movie formats chosen for the previewed device and the storage root derived from the user folder.
// Always obtained as a fresh copy from CSettingParamManage.
class CSettingParam : public Setting {
public:
    // The four group loads, then (whatever they returned) "default" resolved to the documents folder
    // and the storage root derived. Returns what the group loads returned.
    bool LoadDefault(HKEY hive) override;

    // rootpath := path, followed by "/zentrova" unless path already ends with "zentrova".
    void DeriveRootPath(const std::string& path);

    const std::string& GetResourcesPath() const { return resourcespath; }
    const std::string& GetRootPath() const { return rootpath; }
    // Turns "\" into "/", drops trailing "/" (except at position 0), stores the result as the user
    // folder and derives the storage root from it.
    void SetResourcesPath(const std::string& path);

    std::string GetSingleShotsFolder() const { return rootpath + "/Single Shots"; }
    std::string GetTimedShotsFolder() const { return rootpath + "/Timed Shots"; }
    std::string GetMoviesFolder() const { return rootpath + "/Movies"; }

    const CaptureResolution& GetCaptureResolution() const { return captureresolution; }
    // The movie size when either side is set, else the capture resolution.
    CaptureResolution GetMovieResolution() const;

    // `language` unless it asks to follow the user's language; then the position of the first item
    // whose langid is the user's language, 0 when none is.
    int32_t GetLanguageIndex() const;
    int32_t GetLanguageIndex(uint16_t userLangId) const;
    // The item at `index`, or the built-in English item for an index that names none.
    LanguageItem GetLanguage(int32_t index) const;
    // Appends the ";"-separated vendor ids of `venderidlist`, in lower case.
    void GetVendorIdList(std::vector<std::string>& list) const;

    bool operator==(const CSettingParam&) const = default;

    CaptureResolution captureresolution;
    CaptureResolution moviesize;
    std::string rootpath;
};

// The user's documents folder: XDG_DOCUMENTS_DIR (from the environment or user-dirs.dirs), else
// $HOME/Documents when it exists, else $HOME. Empty when none can be found.
std::string GetDocumentsFolder();

// The Windows language id of the user's interface language, from LC_ALL, LC_MESSAGES, LANG and
// LANGUAGE (the first that is set); 0x0409 (English, United States) for C, POSIX or an unknown one.
uint16_t GetUserDefaultLangID();
// The same mapping for one locale name such as "zh_CN.UTF-8" or "de".
uint16_t LangIdFromLocaleName(const std::string& locale);
// The other way: "ll" or "ll_CC" for a language id of that mapping ("zh_CN" for 0x0804, "en" for
// 0x0409); empty for an id it does not know.
std::string LocaleNameFromLangId(uint16_t langId);

}  // namespace orvane
