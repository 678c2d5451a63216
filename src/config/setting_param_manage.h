#pragma once

#include <mutex>
#include <string>

#include "base/singleton.h"
#include "config/setting_param.h"

namespace orvane {

// The one place the settings come from: the factory record (built-in values under the default
// branch), the current record (the user's values over that) and the last record (the current one
// before the most recent change). Every getter returns a copy; the lock is held only for the copy.
class CSettingParamManage : public KORU::Singleton<CSettingParamManage> {
    friend class KORU::Singleton<CSettingParamManage>;

public:
    // Builds the three records from `hive` (nullptr: the current user's hive).
    explicit CSettingParamManage(HKEY hive);

    CSettingParam GetDefaultParam() const { return factoryParam; }
    CSettingParam GetUsingParam() const;
    CSettingParam GetLastParam() const;
    // Replaces the current record's capture resolution; nothing is saved.
    void SetCaptureResolution(const CaptureResolution& resolution);
    // Saves `param` to the using branch (outside the lock), then last := current, current := param.
    // 0, or the errno of a save that failed: the record is taken for this run all the same, and the
    // next save tries to write it again.
    int SetUsingParam(const CSettingParam& param);
    // The file the settings are saved in.
    std::string GetSettingsFile() const;

private:
    CSettingParamManage() : CSettingParamManage(nullptr) {}
    CRegistryHive* Hive() const;

    HKEY hive;
    CSettingParam factoryParam;     // immutable after construction
    CSettingParam currentParam;
    CSettingParam lastParam;
    mutable std::mutex paramLock;   // guards currentParam and lastParam
};

}  // namespace orvane
