#include "config/setting_param.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "base/text.h"

namespace orvane {

namespace {

constexpr std::string_view kRootWord = "zentrova";

bool IsFolder(const std::string& path) {
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Expands a leading $HOME in a user-dirs.dirs value.
std::string ExpandHome(std::string value, const std::string& home) {
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    return value;
}

std::string DocumentsFromUserDirs(const std::string& home) {
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        config = xdg;
    } else if (!home.empty()) {
        config = home + "/.config";
    } else {
        return {};
    }
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DOCUMENTS_DIR=";
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        value = ExpandHome(value, home);
        // A documents folder set to the home folder itself means "none" in user-dirs terms, and the
        // home folder is the fallback anyway.
        if (!value.empty() && value[0] == '/') return value;
    }
    return {};
}

}  // namespace

bool CSettingParam::LoadDefault(HKEY hive) {
    bool loaded = Setting::LoadDefault(hive);
    if (resourcespath == "default") resourcespath = GetDocumentsFolder();
    DeriveRootPath(resourcespath);
    return loaded;
}

void CSettingParam::DeriveRootPath(const std::string& path) {
    rootpath = path;
    if (rootpath.size() >= kRootWord.size() &&
        rootpath.compare(rootpath.size() - kRootWord.size(), kRootWord.size(), kRootWord) == 0) {
        return;
    }
    if (rootpath.empty() || rootpath.back() != '/') rootpath += '/';
    rootpath += kRootWord;
}

void CSettingParam::SetResourcesPath(const std::string& path) {
    std::string normal = path;
    for (char& c : normal) {
        if (c == '\\') c = '/';
    }
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    resourcespath = normal;
    DeriveRootPath(resourcespath);
}

CaptureResolution CSettingParam::GetMovieResolution() const {
    if (moviesize.width != 0 || moviesize.height != 0) return moviesize;
    return captureresolution;
}

int32_t CSettingParam::GetLanguageIndex() const { return GetLanguageIndex(GetUserDefaultLangID()); }

int32_t CSettingParam::GetLanguageIndex(uint16_t userLangId) const {
    if (language != kFollowUserLanguage) return language;
    for (size_t i = 0; i < languages.size(); ++i) {
        if (languages[i].langid == userLangId) return static_cast<int32_t>(i);
    }
    return 0;
}

LanguageItem CSettingParam::GetLanguage(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= languages.size()) return LanguageItem{};
    return languages[static_cast<size_t>(index)];
}

void CSettingParam::GetVendorIdList(std::vector<std::string>& list) const {
    std::string rest = venderidlist;
    size_t pos;
    while ((pos = rest.find(';')) != std::string::npos && pos > 0) {
        list.push_back(ToLowerAscii(rest.substr(0, pos)));
        rest = rest.substr(pos + 1);
    }
    list.push_back(ToLowerAscii(rest));
}

std::string GetDocumentsFolder() {
    std::string home;
    if (const char* h = std::getenv("HOME"); h != nullptr) home = h;
    if (const char* direct = std::getenv("XDG_DOCUMENTS_DIR"); direct != nullptr && direct[0] == '/') {
        return direct;
    }
    std::string fromUserDirs = DocumentsFromUserDirs(home);
    if (!fromUserDirs.empty()) return fromUserDirs;
    if (home.empty()) return {};
    if (IsFolder(home + "/Documents")) return home + "/Documents";
    return home;
}

namespace {

struct Entry {
    const char* lang;
    const char* country;  // "" = any
    uint16_t id;
};
constexpr Entry kLangIdTable[] = {
    {"zh", "CN", 0x0804}, {"zh", "SG", 0x1004}, {"zh", "HANS", 0x0804}, {"zh", "TW", 0x0404},
    {"zh", "HK", 0x0C04}, {"zh", "MO", 0x1404}, {"zh", "HANT", 0x0404}, {"zh", "", 0x0804},
    {"en", "GB", 0x0809}, {"en", "AU", 0x0C09}, {"en", "CA", 0x1009}, {"en", "", 0x0409},
    {"de", "", 0x0407},   {"fr", "", 0x040C},   {"es", "", 0x0C0A},   {"it", "", 0x0410},
    {"ja", "", 0x0411},   {"ko", "", 0x0412},   {"nl", "", 0x0413},   {"pl", "", 0x0415},
    {"pt", "BR", 0x0416}, {"pt", "", 0x0816},   {"ru", "", 0x0419},   {"sv", "", 0x041D},
    {"tr", "", 0x041F},   {"cs", "", 0x0405},   {"da", "", 0x0406},   {"fi", "", 0x040B},
    {"el", "", 0x0408},   {"hu", "", 0x040E},   {"nb", "", 0x0414},   {"uk", "", 0x0422},
    {"vi", "", 0x042A},   {"th", "", 0x041E},   {"ar", "", 0x0401},   {"he", "", 0x040D},
};

}  // namespace

uint16_t LangIdFromLocaleName(const std::string& locale) {
    // "ll_CC.codeset@modifier" -> "ll", "CC"
    std::string name = locale.substr(0, locale.find_first_of(".@"));
    std::string lang = ToLowerAscii(name.substr(0, name.find_first_of("_-")));
    std::string country;
    if (size_t sep = name.find_first_of("_-"); sep != std::string::npos) country = name.substr(sep + 1);
    for (char& c : country) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }

    for (const Entry& e : kLangIdTable) {
        if (lang == e.lang && (e.country[0] == '\0' || country == e.country)) return e.id;
    }
    return 0x0409;
}

std::string LocaleNameFromLangId(uint16_t langId) {
    for (const Entry& e : kLangIdTable) {
        if (e.id != langId) continue;
        // The first entry of an id names its usual country ("CN" before "HANS").
        if (e.country[0] == '\0') return e.lang;
        return std::string(e.lang) + "_" + e.country;
    }
    return {};
}

uint16_t GetUserDefaultLangID() {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"}) {
        const char* value = std::getenv(var);
        if (value == nullptr || value[0] == '\0') continue;
        std::string first(value);
        first = first.substr(0, first.find(':'));  // LANGUAGE may list several
        if (first.empty()) continue;
        return LangIdFromLocaleName(first);
    }
    return 0x0409;
}

}  // namespace orvane
