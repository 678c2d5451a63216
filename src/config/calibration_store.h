#pragma once

#include <optional>
#include <string>
#include <vector>

#include "config/calibration.h"
#include "config/registry.h"

namespace orvane {

// The calibrations of each camera, kept in the settings hive beside the device values: one key per
// device identity under "Calibrations", one sub-key per calibration, and the name of the active one.
// Names may hold any characters and compare exactly. A damaged stored calibration is left out, never an
// error. Each change is saved to the hive file at once. Meant for the interface thread: every single
// hive access is thread-safe, but a change made of several is not atomic against another thread's.
class CCalibrationStore {
public:
    // hive: the hive the viewer remembers its device in; nullptr: the current user's hive.
    explicit CCalibrationStore(HKEY hive = nullptr);

    // The identity's calibrations in the order of their names.
    std::vector<Calibration> List(const std::string& identity) const;
    // The active calibration, when one is chosen and still there.
    std::optional<Calibration> Active(const std::string& identity) const;
    // Keeps the calibration, replacing one of the same name. False for an empty name, an unusable
    // calibration or a failed write.
    bool Add(const std::string& identity, const Calibration& calibration);
    // Chooses the active calibration; an empty name chooses none. False for a name that is not there.
    bool SetActive(const std::string& identity, const std::string& name);
    // Renames a calibration (the active one stays active); false when `from` is missing, `to` is empty
    // or another calibration has that name.
    bool Rename(const std::string& identity, const std::string& from, const std::string& to);
    // Removes a calibration (when it was active, none is); false when it is not there.
    bool Remove(const std::string& identity, const std::string& name);

private:
    CRegistryHive& Hive() const;

    HKEY hive;
};

}  // namespace orvane
