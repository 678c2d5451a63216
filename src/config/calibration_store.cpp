#include "config/calibration_store.h"

namespace orvane {

CCalibrationStore::CCalibrationStore(HKEY hive_) : hive(hive_) {}

CRegistryHive& CCalibrationStore::Hive() const {
    return hive != nullptr ? *hive : *CRegistryHive::CurrentUser();
}

std::vector<Calibration> CCalibrationStore::List(const std::string&) const { return {}; }
std::optional<Calibration> CCalibrationStore::Active(const std::string&) const { return std::nullopt; }
bool CCalibrationStore::Add(const std::string&, const Calibration&) { return false; }
bool CCalibrationStore::SetActive(const std::string&, const std::string&) { return false; }
bool CCalibrationStore::Rename(const std::string&, const std::string&, const std::string&) { return false; }
bool CCalibrationStore::Remove(const std::string&, const std::string&) { return false; }

}  // namespace orvane
