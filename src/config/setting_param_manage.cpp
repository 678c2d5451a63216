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

void CSettingParamManage::SetUsingParam(const CSettingParam& param) {
    CSettingParam copy = param;
    copy.SaveUsing(hive);
    std::lock_guard<std::mutex> guard(paramLock);
    lastParam = currentParam;
    currentParam = std::move(copy);
}

}  // namespace orvane
