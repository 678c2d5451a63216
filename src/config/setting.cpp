#include "config/setting.h"

#include <algorithm>
#include <cstdint>

namespace orvane {

namespace {

const char* const kRangeGroups[TimedShotSetting::kRangeCount] = {
    "timedShot\\shots\\minute", "timedShot\\shots\\hour", "timedShot\\shots\\day",
    "timedShot\\times\\minute", "timedShot\\times\\hour", "timedShot\\times\\day",
};

bool ReadTimedShotGroup(CRegistry& key, TimedShotSetting& shot) {
    return key.ReadDword("shotstype", shot.shotstype) && key.ReadDword("timestype", shot.timestype) &&
           key.ReadDword("shotsvalue", shot.shotsvalue) && key.ReadDword("timesvalue", shot.timesvalue);
}

// Values from a hand-edited store can be anything; a product that does not fit saturates.
int32_t ClampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

std::string Setting::GroupKey(const std::string& branch, const std::string& group) {
    return std::string(kRootKey) + "\\" + branch + "\\" + group;
}

bool ValueRange::LoadRange(HKEY hive, const std::string& group) {
    CRegistry key(hive);
    if (!key.Open(Setting::GroupKey("default", group))) return false;
    return key.ReadDword("minvalue", minvalue) && key.ReadDword("maxvalue", maxvalue) &&
           key.ReadDword("default", defaultvalue);
}

bool TimedShotSetting::LoadTimedShot(HKEY hive) {
    {
        CRegistry key(hive);
        if (!key.Open(Setting::GroupKey("default", "timedshot")) || !ReadTimedShotGroup(key, *this)) return false;
    }
    for (int i = 0; i < kRangeCount; ++i) {
        if (!ranges[i].LoadRange(hive, kRangeGroups[i])) return false;
    }
    return true;
}

bool LanguageItem::LoadLanguageItem(HKEY hive, const std::string& group) {
    CRegistry key(hive);
    if (!key.Open(Setting::GroupKey("default", group))) return false;
    uint32_t id;
    if (!key.ReadText("indentifier", indentifier) || !key.ReadText("showname", showname) ||
        !key.ReadDword("langid", id)) {
        return false;
    }
    langid = static_cast<uint16_t>(id & 0xFFFF);
    return true;
}

bool Setting::LoadAbout(HKEY hive) {
    CRegistry key(hive);
    return key.Open(GroupKey("default", "about")) && key.ReadText("companyname", companyname) &&
           key.ReadText("producename", producename) && key.ReadText("companywebsite", companywebsite) &&
           key.ReadText("copyright", copyright) && key.ReadText("version", version) &&
           key.ReadText("venderidlist", venderidlist);
}

bool Setting::LoadSystem(HKEY hive) {
    const std::string group = GroupKey("default", "system");
    CRegistry key(hive);
    if (!key.Open(group)) return false;
    bool ok = key.ReadText("resourcespath", resourcespath) &&
              key.ReadDword("autocreatingfolder", autocreatingfolder) &&
              key.ReadDword("movieresolution", movieresolution) && key.ReadDword("moviesizemax", moviesizemax) &&
              key.ReadDword("language", language) && key.ReadDword("wifideviceip", wifideviceip) &&
              key.ReadDword("wifideviceport", wifideviceport);
    if (!ok) return false;

    // The two optional values are looked up once more in the current user's hive.
    CRegistry second(nullptr);
    bool haveSecond = second.Open(group);
    if (!key.ReadText("wifidevicename", wifidevicename) && haveSecond) {
        second.ReadText("wifidevicename", wifidevicename);
    }
    if (!key.ReadDword("haswifi", haswifi) && !(haveSecond && second.ReadDword("haswifi", haswifi))) {
        haswifi = 0;
    }
    return true;
}

bool Setting::LoadLanguages(HKEY hive) {
    uint32_t count;
    {
        CRegistry key(hive);
        if (!key.Open(GroupKey("default", "languages")) || !key.ReadDword("count", count)) return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        LanguageItem item;
        if (!item.LoadLanguageItem(hive, "languages\\language" + std::to_string(i))) return false;
        languages.push_back(std::move(item));
    }
    return true;
}

bool Setting::LoadDefault(HKEY hive) {
    return LoadAbout(hive) && LoadSystem(hive) && timedshot.LoadTimedShot(hive) && LoadLanguages(hive);
}

bool Setting::HasUsing(HKEY hive) const {
    CRegistry key(hive);
    return key.Open(GroupKey("using", "system"));
}

bool Setting::LoadUsing(HKEY hive) {
    {
        CRegistry key(hive);
        if (key.Open(GroupKey("using", "timedshot"))) ReadTimedShotGroup(key, timedshot);
    }
    CRegistry key(hive);
    if (!key.Open(GroupKey("using", "system"))) return false;
    return key.ReadText("resourcespath", resourcespath) &&
           key.ReadDword("autocreatingfolder", autocreatingfolder) &&
           key.ReadDword("movieresolution", movieresolution) && key.ReadDword("moviesizemax", moviesizemax) &&
           key.ReadDword("movieformat", movieformat) && key.ReadDword("language", language) &&
           key.ReadDword("wifideviceip", wifideviceip) && key.ReadDword("wifideviceport", wifideviceport);
}

bool Setting::SaveUsing(HKEY hive) const {
    {
        CRegistry key(hive);
        const std::string group = GroupKey("using", "timedshot");
        if (key.Open(group, true) || key.Create(group)) {
            key.WriteDword("shotstype", static_cast<uint32_t>(timedshot.shotstype)) &&
                key.WriteDword("timestype", static_cast<uint32_t>(timedshot.timestype)) &&
                key.WriteDword("shotsvalue", static_cast<uint32_t>(timedshot.shotsvalue)) &&
                key.WriteDword("timesvalue", static_cast<uint32_t>(timedshot.timesvalue));
        }
    }
    CRegistry key(hive);
    const std::string group = GroupKey("using", "system");
    if (!key.Open(group, true) && !key.Create(group)) return false;
    return key.WriteText("resourcespath", resourcespath) &&
           key.WriteDword("autocreatingfolder", static_cast<uint32_t>(autocreatingfolder)) &&
           key.WriteDword("movieresolution", static_cast<uint32_t>(movieresolution)) &&
           key.WriteDword("moviesizemax", static_cast<uint32_t>(moviesizemax)) &&
           key.WriteDword("movieformat", static_cast<uint32_t>(movieformat)) &&
           key.WriteDword("language", static_cast<uint32_t>(language)) &&
           key.WriteDword("wifideviceip", wifideviceip) &&
           key.WriteDword("wifideviceport", static_cast<uint32_t>(wifideviceport));
}

int32_t Setting::GetShotsPerDay() const {
    if (timedshot.shotsvalue == 0 || !IsValidTimeUnit(timedshot.shotstype)) return 1;
    static constexpr int64_t kPerDay[] = {1440, 24, 1};
    return ClampToInt32(int64_t{timedshot.shotsvalue} * kPerDay[timedshot.shotstype]);
}

int32_t Setting::GetTimedShotMinutes() const {
    if (!IsValidTimeUnit(timedshot.timestype)) return 1;
    static constexpr int64_t kMinutes[] = {1, 60, 1440};
    return ClampToInt32(int64_t{timedshot.timesvalue} * kMinutes[timedshot.timestype]);
}

bool Setting::IsTimedShotValid() const {
    if (!IsValidTimeUnit(timedshot.shotstype) || !IsValidTimeUnit(timedshot.timestype)) return false;
    return timedshot.ranges[3 + timedshot.timestype].Contains(timedshot.timesvalue) &&
           timedshot.ranges[timedshot.shotstype].Contains(timedshot.shotsvalue);
}

}  // namespace orvane
