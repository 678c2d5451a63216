#include "config/setting_param_manage.h"

namespace orvane {

CSettingParamManage::CSettingParamManage(HKEY hive_) : hive(hive_) {
    factoryParam.LoadDefault(hive);
    currentParam = factoryParam;
    if (currentParam.HasUsing(hive)) {
        currentParam.LoadUsing(hive);
        // The text "default" stands for the documents folder in either branch: left as it is, it
        // would name a folder relative to wherever the program was started.
        if (currentParam.resourcespath == "default") currentParam.resourcespath = GetDocumentsFolder();
        currentParam.DeriveRootPath(currentParam.resourcespath);
    }
    lastParam = currentParam;
}

CSettingParam CSettingParamManage::GetUsingParam() const {
    std::lock_guard<std::mutex> guard(paramLock);
    return currentParam;
}

CSettingParam CSettingParamManage::GetLastParam() const {
    std::lock_guard<std::mutex> guard(paramLock);
    return lastParam;
}

void CSettingParamManage::SetCaptureResolution(const CaptureResolution& resolution) {
    std::lock_guard<std::mutex> guard(paramLock);
    currentParam.captureresolution = resolution;
}

int CSettingParamManage::SetUsingParam(const CSettingParam& param) {
    CSettingParam copy = param;
    copy.SaveUsing(hive);
    // The keys save themselves when they close, without a word; asked once more, the hive writes
    // only what is still unsaved and tells how that went.
    const int error = Hive()->Save();
    std::lock_guard<std::mutex> guard(paramLock);
    lastParam = currentParam;
    currentParam = std::move(copy);
    return error;
}

std::string CSettingParamManage::GetSettingsFile() const { return Hive()->UserFile(); }

CRegistryHive* CSettingParamManage::Hive() const {
    return hive != nullptr ? hive : CRegistryHive::CurrentUser();
}

}  // namespace orvane
