#include "media/saving_loaction_manage.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/alert_sink.h"
#include "base/clock.h"
#include "base/folder_entries.h"
#include "base/text.h"

namespace orvane {

namespace {

int32_t ClampToInt32(long long value) {
    return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

// Leading white space, a sign and digits, as strtol reads them; 0 when there is no digit.
int32_t LeadingNumber(const char* text) { return ClampToInt32(std::strtoll(text, nullptr, 10)); }

// The value of a text of digits only.
int32_t DigitsValue(std::string_view digits) {
    long long value = 0;
    for (char c : digits) {
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

// Bytes taken by the first character of a UTF-8 text.
size_t FirstCharLength(std::string_view text) {
    if (text.empty()) return 0;
    const auto lead = static_cast<unsigned char>(text[0]);
    size_t length = 1;
    if (lead >= 0xF0 && lead <= 0xF7)
        length = 4;
    else if (lead >= 0xE0)
        length = lead <= 0xEF ? 3 : 1;
    else if (lead >= 0xC0)
        length = 2;
    return std::min(length, text.size());
}

std::string_view CutAtLastDot(std::string_view text) {
    const size_t dot = text.rfind('.');
    return dot != std::string_view::npos && dot > 0 ? text.substr(0, dot) : text;
}

// Any entry at all, a dangling link included, takes the name.
bool Taken(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A movie path is handed out without extension; the recording output adds one of these.
bool MovieTaken(const std::string& path) {
    return Taken(path) || Taken(path + ".avi") || Taken(path + ".mp4");
}

bool PathTaken(const std::string& path, bool movie) { return movie ? MovieTaken(path) : Taken(path); }

// The largest shot number (series number for timed shots) among the entries of `folder` whose
// flat-layout names carry `date`; -1 when there is none.
int64_t FindMaxSavedNumber(const std::string& folder, SavedKind kind, const std::string& date) {
    int64_t best = -1;
    std::string parsedDate;
    for (const FolderEntry& entry : ReadFolder(folder)) {
        int32_t series = -1;
        int32_t shot = -1;
        if (!CSavingLoactionManage::ParseSavedName(kind, entry.name, parsedDate, series, shot) ||
            parsedDate != date) {
            continue;
        }
        best = std::max<int64_t>(best, kind == SavedKind::TimedShot ? series : shot);
    }
    return best;
}

std::string NestedName(const std::string& folder, const std::string& prefix, int64_t number,
                       const std::string& extension) {
    std::string path = folder + "/" + prefix + CSavingLoactionManage::PadNumber(number, 4);
    if (!extension.empty()) path += "." + extension;
    return path;
}

std::string TimedNestedName(const std::string& seriesFolder, int32_t series, int32_t shot) {
    return Format("%s/%s%s-%s.%s", seriesFolder, "TimeShot", CSavingLoactionManage::PadNumber(series, 3),
                  CSavingLoactionManage::PadNumber(shot, 4), "jpg");
}

}  // namespace

CSavingLoactionManage::CSavingLoactionManage(const CSettingParamManage* settings_) : settings(settings_) {}

bool CSavingLoactionManage::IsNested() const { return settings->GetUsingParam().autocreatingfolder != 0; }

bool CSavingLoactionManage::GetSingleShotPath(const std::string& kindFolder, std::string& path) const {
    if (kindFolder.empty()) return false;
    if (IsNested()) return MakeNestedPath(kindFolder, "SingleShot", "jpg", path);
    return MakeFlatPath(kindFolder, SavedKind::SingleShot, path);
}

bool CSavingLoactionManage::GetMoviePath(const std::string& kindFolder, std::string& path) const {
    if (kindFolder.empty()) return false;
    if (IsNested()) return MakeNestedPath(kindFolder, "Movie", "", path);
    return MakeFlatPath(kindFolder, SavedKind::Movie, path);
}

bool CSavingLoactionManage::BeginTimedShots(const std::string& kindFolder) {
    if (kindFolder.empty()) return false;
    if (IsNested()) {
        const std::string dateFolder = GetDateFolder(kindFolder);
        if (!EnsureFolder(dateFolder)) return false;
        const int32_t series = ClampToInt32(int64_t{FindMaxNumber(dateFolder, "", false)} + 1);
        if (!EnsureFolder(dateFolder + "/" + PadNumber(series, 3))) return false;
        timedSeries = series;
        timedShot = 0;
        return true;
    }

    const std::string today = GetDateText();
    std::string date = today;
    int32_t series = 1;
    const std::string latest = FindLatestName(kindFolder, SavedKind::TimedShot);
    std::string parsedDate;
    int32_t parsedSeries = 0;
    int32_t parsedShot = 0;
    if (!latest.empty() &&
        ParseSavedName(SavedKind::TimedShot, latest, parsedDate, parsedSeries, parsedShot) &&
        parsedDate >= today) {
        date = parsedDate;
        series = ClampToInt32(int64_t{parsedSeries} + 1);
    }
    // Past 999 series a day the latest name is no longer the highest series.
    auto firstShotTaken = [&] {
        return Taken(kindFolder + "/" + FormatSavedName(SavedKind::TimedShot, date, series, 1));
    };
    if (firstShotTaken()) {
        series = ClampToInt32(std::max<int64_t>(
            int64_t{series} + 1, FindMaxSavedNumber(kindFolder, SavedKind::TimedShot, date) + 1));
        while (firstShotTaken() && series < INT32_MAX) ++series;
    }
    timedDate = date;
    timedSeries = series;
    timedShot = 1;
    return true;
}

bool CSavingLoactionManage::GetTimedShotPath(const std::string& kindFolder, std::string& path) {
    if (kindFolder.empty()) return false;
    const bool nested = IsNested();
    std::string folder = kindFolder;
    if (nested) {
        // Today's date, not the series start: a series past midnight goes on in the new day's folder.
        const std::string dateFolder = GetDateFolder(kindFolder);
        if (!EnsureFolder(dateFolder)) return false;
        folder = dateFolder + "/" + PadNumber(timedSeries, 3);
        if (!EnsureFolder(folder)) return false;
    }
    int32_t shot = timedShot;
    auto form = [&] {
        return nested ? TimedNestedName(folder, timedSeries, shot)
                      : folder + "/" + FormatSavedName(SavedKind::TimedShot, timedDate, timedSeries, shot);
    };
    std::string candidate = form();
    while (Taken(candidate)) {
        if (shot == INT32_MAX) return false;
        ++shot;
        candidate = form();
    }
    path = std::move(candidate);
    timedShot = shot < INT32_MAX ? shot + 1 : shot;
    return true;
}

void CSavingLoactionManage::CreateResourceFolders() const {
    const CSettingParam param = settings->GetUsingParam();
    if (EnsureFolder(param.GetRootPath()) && EnsureFolder(param.GetSingleShotsFolder()) &&
        EnsureFolder(param.GetTimedShotsFolder())) {
        EnsureFolder(param.GetMoviesFolder());
    }
}

bool CSavingLoactionManage::EnsureFolder(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return true;
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    const int error = errno;
    // Another thread may have made it in the meantime.
    if (error == EEXIST && ::stat(path.c_str(), &st) == 0) return true;
    ShowAlert(path + SystemErrorText(error));
    return false;
}

std::string CSavingLoactionManage::GetDateText() {
    const LocalDate today = Today();
    return Format("%04d%02d%02d", today.year, today.month, today.day);
}

std::string CSavingLoactionManage::GetDateFolder(const std::string& kindFolder) {
    return Format("%s/%s", kindFolder, GetDateText());
}

std::string CSavingLoactionManage::PadNumber(int64_t number, int width) {
    std::string text = std::to_string(number);
    if (text.size() < static_cast<size_t>(std::max(width, 0))) text.insert(0, width - text.size(), '0');
    return text;
}

int32_t CSavingLoactionManage::FindMaxNumber(const std::string& folder, const std::string& prefix,
                                             bool byPrefix) {
    int32_t best = -1;
    for (const FolderEntry& entry : ReadFolder(folder)) {
        const char* name = entry.name.c_str();
        int32_t value = 0;
        if (!byPrefix) {
            value = LeadingNumber(name);
        } else {
            if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) continue;
            const char* rest = name + prefix.size();
            // Reading stops at the "." anyway; a rest without one counts as empty.
            value = std::strchr(rest, '.') != nullptr ? LeadingNumber(rest) : 0;
        }
        best = std::max(best, value);
    }
    return best;
}

std::string CSavingLoactionManage::FindLatestName(const std::string& folder, SavedKind kind) {
    std::string latest;
    std::string date;
    for (const FolderEntry& entry : ReadFolder(folder)) {
        if (entry.name <= latest) continue;
        int32_t series = 0;
        int32_t shot = 0;
        if (!ParseSavedName(kind, entry.name, date, series, shot) || entry.isFolder) continue;
        latest = entry.name;
    }
    return latest;
}

bool CSavingLoactionManage::ParseSavedName(SavedKind kind, std::string_view name, std::string& date,
                                           int32_t& series, int32_t& shot) {
    const size_t i = name.find('_');
    if (i == std::string_view::npos) return false;
    // The first character (the kind letter) is skipped unchecked.
    const size_t first = std::min(FirstCharLength(name), i);
    const std::string_view dateText = name.substr(first, i - first);
    if (!IsAllDigits(dateText)) return false;
    if (kind == SavedKind::TimedShot) {
        const size_t j = name.find('_', i + 1);
        if (j == std::string_view::npos) return false;
        const std::string_view seriesText = name.substr(i + 1, j - i - 1);
        if (!IsAllDigits(seriesText)) return false;
        const std::string_view shotText = CutAtLastDot(name.substr(j + 1));
        if (!IsAllDigits(shotText)) return false;
        date.assign(dateText);
        series = DigitsValue(seriesText);
        shot = DigitsValue(shotText);
        return true;
    }
    const std::string_view shotText = CutAtLastDot(name.substr(i + 1));
    if (!IsAllDigits(shotText)) return false;
    date.assign(dateText);
    shot = DigitsValue(shotText);
    return true;
}

std::string CSavingLoactionManage::FormatSavedName(SavedKind kind, const std::string& date, int64_t series,
                                                   int64_t number) {
    switch (kind) {
        case SavedKind::Movie:
            return Format("M%s_%04d", date, number);
        case SavedKind::SingleShot:
            return Format("S%s_%04d.jpg", date, number);
        case SavedKind::TimedShot:
            return Format("T%s_%03d_%04d.jpg", date, series, number);
    }
    return {};
}

bool CSavingLoactionManage::IsAllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool CSavingLoactionManage::MakeNestedPath(const std::string& kindFolder, const std::string& prefix,
                                           const std::string& extension, std::string& path) {
    if (!EnsureFolder(kindFolder)) return false;
    const std::string dateFolder = GetDateFolder(kindFolder);
    if (!EnsureFolder(dateFolder)) return false;
    int64_t block = FindMaxNumber(dateFolder, "", false);
    if (block == -1) block = 0;
    const int64_t last = FindMaxNumber(dateFolder + "/" + PadNumber(block, 3), prefix, true);
    int64_t number = last + 1;
    // Numbers continue across blocks: 999 is the last of "000", 1000 opens "001".
    if (number > 0 && number % 1000 == 0) ++block;
    const std::string subfolder = dateFolder + "/" + PadNumber(block, 3);
    if (!EnsureFolder(subfolder)) return false;
    const bool movie = extension.empty();
    std::string candidate = NestedName(subfolder, prefix, number, extension);
    while (PathTaken(candidate, movie)) candidate = NestedName(subfolder, prefix, ++number, extension);
    path = std::move(candidate);
    return true;
}

bool CSavingLoactionManage::MakeFlatPath(const std::string& kindFolder, SavedKind kind, std::string& path) {
    const std::string latest = FindLatestName(kindFolder, kind);
    const std::string today = GetDateText();
    std::string date = today;
    int64_t number = 1;
    std::string parsedDate;
    int32_t series = 1;
    int32_t shot = 0;
    if (ParseSavedName(kind, latest, parsedDate, series, shot)) {
        // A clock set back keeps the latest date, so a new name never sorts before the latest one.
        if (parsedDate >= today) {
            date = parsedDate;
            number = int64_t{shot} + 1;
        }
    }
    const bool movie = kind == SavedKind::Movie;
    std::string candidate = kindFolder + "/" + FormatSavedName(kind, date, 1, number);
    if (PathTaken(candidate, movie)) {
        // Past 9999 a day the latest name is no longer the highest number: go on after the highest.
        number = std::max(number + 1, FindMaxSavedNumber(kindFolder, kind, date) + 1);
        candidate = kindFolder + "/" + FormatSavedName(kind, date, 1, number);
        while (PathTaken(candidate, movie))
            candidate = kindFolder + "/" + FormatSavedName(kind, date, 1, ++number);
    }
    path = std::move(candidate);
    return true;
}

}  // namespace orvane
