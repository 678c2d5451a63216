#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/registry.h"

namespace orvane {

enum TimeUnit : int32_t { Minute = 0, Hour = 1, Day = 2 };

inline bool IsValidTimeUnit(int32_t unit) { return unit >= Minute && unit <= Day; }

// Both bounds inclusive.
struct ValueRange {
    int32_t minvalue = 1;
    int32_t maxvalue = 300;
    int32_t defaultvalue = 60;

    bool Contains(int32_t value) const { return value >= minvalue && value <= maxvalue; }
    bool LoadRange(HKEY hive, const std::string& group);
    bool operator==(const ValueRange&) const = default;
};

struct TimedShotSetting {
    // Positions of the six ranges: shots per minute, hour, day; duration in minutes, hours, days.
    static constexpr int kRangeCount = 6;

    int32_t shotstype = Minute;
    int32_t shotsvalue = 1;
    int32_t timestype = Minute;
    int32_t timesvalue = 1;
    ValueRange ranges[kRangeCount];

    bool LoadTimedShot(HKEY hive);
    bool operator==(const TimedShotSetting&) const = default;
};

struct LanguageItem {
    std::string indentifier = "English";
    std::string showname = "English";
    uint16_t langid = 0x8304;

    bool LoadLanguageItem(HKEY hive, const std::string& group);
    bool operator==(const LanguageItem&) const = default;
};

// A capture format of a device. subtype is the V4L2 pixel format (fourcc); 0 matches any format.
// All zero = unset.
struct CaptureResolution {
    int32_t width = 0;
    int32_t height = 0;
    uint32_t subtype = 0;
    bool interpolation = false;

    bool IsUnset() const { return width == 0 && height == 0 && subtype == 0 && !interpolation; }
    bool operator==(const CaptureResolution&) const = default;
};

// The settings record as the settings tree stores it. A plain value type: copying copies everything.
// Loads stop at the first value that fails; what was read before keeps its new value, the rest keeps
// what the record held. None of them reports anything to the user.
class Setting {
public:
    Setting() = default;
    virtual ~Setting() = default;
    Setting(const Setting&) = default;
    Setting& operator=(const Setting&) = default;

    static constexpr int32_t kFollowUserLanguage = 0x1FFFFFFF;
    static constexpr const char* kRootKey = "software\\zentrova";

    // "software\zentrova\<branch>\<group>"
    static std::string GroupKey(const std::string& branch, const std::string& group);

    bool LoadAbout(HKEY hive);
    bool LoadSystem(HKEY hive);
    bool LoadLanguages(HKEY hive);
    // About, system, timed shot, languages: each only while all before it succeeded.
    virtual bool LoadDefault(HKEY hive);

    bool HasUsing(HKEY hive = nullptr) const;
    bool LoadUsing(HKEY hive = nullptr);
    bool SaveUsing(HKEY hive = nullptr) const;

    int32_t GetShotsPerDay() const;
    int32_t GetTimedShotMinutes() const;
    bool IsTimedShotValid() const;

    bool operator==(const Setting&) const = default;

    int32_t language = kFollowUserLanguage;
    int32_t movieresolution = 1;
    std::string resourcespath = "default";
    int32_t moviesizemax = 16;
    int32_t autocreatingfolder = 0;
    TimedShotSetting timedshot;
    std::string companyname;
    std::string producename = "zentrova";
    std::string companywebsite = "https://www.zentrova.example";
    std::string copyright = "Copyright (C) 2026 Zentrova. All rights reserved.";
    std::string version = "v3.3.32";
    std::string venderidlist = "0C45;1E4E";
    std::string wifidevicename = "zentrova wireless";
    uint32_t wifideviceip = 0xC0A80A7Bu;  // 192.168.10.123 on the device's own access point
    int32_t wifideviceport = 8080;
    int32_t haswifi = 0;
    int32_t movieformat = 0;  // 0 = AVI, 1 = MP4
    std::vector<LanguageItem> languages;
};

}  // namespace orvane
