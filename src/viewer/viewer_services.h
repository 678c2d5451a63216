#pragma once

#include <functional>
#include <string>

#include "config/registry.h"
#include "dialogs/viewer_dialogs.h"

namespace orvane {

class CSettingParamManage;
class CLocalizableString;
class CSavingLoactionManage;
class RotateSampleImp;
class CWifiDeviceProxy;
class IDeviceFile;
class IAlertSink;
class CQtTranslations;

// What the main viewer works with. A null member means the process-wide one; tests give their own so
// that every viewer starts fresh.
struct ViewerServices {
    CSettingParamManage* settings = nullptr;
    CLocalizableString* strings = nullptr;
    CSavingLoactionManage* locations = nullptr;
    RotateSampleImp* rotation = nullptr;
    CWifiDeviceProxy* wifiLink = nullptr;
    IDeviceFile* device = nullptr;  // cameras and hot-plug; null: CurrentDeviceFile() at each use
    HKEY hive = nullptr;            // where the previewed device is remembered
    // Receives every alert while the viewer lives; null: the viewer installs its own message boxes.
    IAlertSink* alerts = nullptr;
    // Qt's own texts in the interface's language; null: the viewer keeps its own.
    CQtTranslations* qtTranslations = nullptr;
    // Asks the exit question; true for OK. Null: a question box with OK and Cancel.
    std::function<bool(const std::string& text, const std::string& caption)> confirm;
    // The settings dialog and the about box; empty: those commands do nothing.
    ViewerDialogFactories dialogs;
};

}  // namespace orvane
