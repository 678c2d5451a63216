#include "localization/localizable_string.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "base/alert_sink.h"
#include "base/module_folder.h"
#include "base/text.h"
#include "base/unique_fd.h"
#include "config/setting_param_manage.h"

namespace orvane {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file for reading. A folder, a pipe or a device at the path counts as a file that
// cannot be opened: reading one would fail at once or wait for a writer forever.
FilePtr OpenRegularFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return nullptr;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    std::FILE* file = ::fdopen(fd.Get(), "rb");
    if (file == nullptr) return nullptr;
    fd.Release();  // the stream owns it now
    return FilePtr(file);
}

// The text between the first and the second double quote of `part`; empty with fewer than two.
std::string QuotedText(std::string_view part) {
    size_t open = part.find('"');
    if (open == std::string_view::npos) return {};
    size_t close = part.find('"', open + 1);
    if (close == std::string_view::npos) return {};
    return std::string(part.substr(open + 1, close - open - 1));
}

}  // namespace

CLocalizableString::CLocalizableString()
    : CLocalizableString(CSettingParamManage::GetInstance(), GetModuleFolder()) {}

CLocalizableString::CLocalizableString(const CSettingParamManage* settings_, std::string moduleFolder_)
    : settings(settings_), moduleFolder(std::move(moduleFolder_)) {}

std::string CLocalizableString::GetString(const std::string& key, const std::string& fallback) {
    // The settings copy is taken before tableLock, so the manager's lock is never held inside ours.
    const CSettingParam param = settings != nullptr ? settings->GetUsingParam() : CSettingParam{};
    const int32_t language = param.GetLanguageIndex();

    std::string message;
    std::string text;
    {
        std::lock_guard<std::mutex> guard(tableLock);
        if (language != loadedLanguage) {
            loadedLanguage = language;
            message = ReloadLocked(param);
        }
        auto found = table.find(key);
        text = found != table.end() ? found->second : fallback;
    }
    // Shown outside the lock: an alert sink that looks up texts itself must not deadlock.
    if (!message.empty()) ShowAlert(message);
    return text;
}

void CLocalizableString::Reload() {
    const CSettingParam param = settings != nullptr ? settings->GetUsingParam() : CSettingParam{};
    std::string message;
    {
        std::lock_guard<std::mutex> guard(tableLock);
        message = ReloadLocked(param);
    }
    if (!message.empty()) ShowAlert(message);
}

std::string CLocalizableString::GetFilePath() const {
    const CSettingParam param = settings != nullptr ? settings->GetUsingParam() : CSettingParam{};
    int32_t language;
    {
        std::lock_guard<std::mutex> guard(tableLock);
        language = loadedLanguage;
    }
    return FilePathFor(param, language);
}

std::string CLocalizableString::FilePathFor(const CSettingParam& param, int32_t language) const {
    return moduleFolder + "Resource/" + param.GetLanguage(language).indentifier +
           ".lproj/Localizable.strings";
}

std::string CLocalizableString::ReloadLocked(const CSettingParam& param) {
    table.clear();
    const std::string path = FilePathFor(param, loadedLanguage);
    if (!ReadFile(path)) return "Fail to open " + path;
    if (table.empty()) return "Faiure to get language string";
    return {};
}

bool CLocalizableString::ReadFile(const std::string& path) {
    FilePtr file = OpenRegularFile(path);
    if (!file) return false;

    // Room for the longest line plus the CR of a CR LF ending.
    const size_t kLineRoom = kMaxLineBytes + 1;
    std::string line;
    line.reserve(kLineRoom);
    bool overlong = false;  // the current line passed the limit: its bytes are dropped up to its LF

    auto endLine = [&]() {
        if (!overlong) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() <= kMaxLineBytes) AddLine(SanitizeUtf8(line));
        }
        line.clear();
        overlong = false;
    };

    try {
        char buffer[16384];
        for (;;) {
            size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
            const char* pos = buffer;
            const char* end = buffer + got;
            while (pos < end) {
                const char* lf = static_cast<const char*>(std::memchr(pos, '\n', end - pos));
                const char* stop = lf != nullptr ? lf : end;
                if (!overlong) {
                    size_t take = static_cast<size_t>(stop - pos);
                    if (line.size() + take > kLineRoom) {
                        overlong = true;
                        line.clear();
                    } else {
                        line.append(pos, take);
                    }
                }
                if (lf == nullptr) break;
                endLine();
                pos = lf + 1;
            }
            if (got < sizeof buffer) {
                // A read error ends the reading like the end of the file, but its partial last line
                // is not trusted.
                if (std::ferror(file.get())) return true;
                break;
            }
        }
        if (!line.empty() || overlong) endLine();
    } catch (...) {
        // Out of memory while reading: the entries read so far stay.
    }
    return true;
}

void CLocalizableString::AddLine(const std::string& line) {
    if (line.empty() || line.find(';') == std::string::npos) return;
    size_t equals = line.find('=');
    if (equals == std::string::npos) return;
    std::string key = QuotedText(std::string_view(line).substr(0, equals));
    std::string value = QuotedText(std::string_view(line).substr(equals));
    if (key.empty() || value.empty()) return;
    // Placeholders are written %@ in the files; the program's format texts use %s.
    for (char& c : value) {
        if (c == '@') c = 's';
    }
    table.emplace(std::move(key), std::move(value));
}

}  // namespace orvane
