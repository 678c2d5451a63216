#pragma once

#include <cstdint>
#include <string>

#include "capture/capture_state.h"
#include "capture/resolution_list.h"
#include "config/setting.h"

namespace orvane {

class CCaptureVideo;
class CLocalizableString;
class CSettingParamManage;

// What the dialogs may do with the main viewer's preview: read the camera list and the previewed
// camera, start another camera or size, stop, and reach the running capture for its controls.
// Interface thread only.
class IPreviewControl {
public:
    virtual ~IPreviewControl() = default;

    virtual CSettingParamManage& Settings() const = 0;
    virtual CLocalizableString& Strings() const = 0;
    virtual CaptureState& GetCaptureState() = 0;
    virtual CCaptureVideo& CaptureSession() = 0;

    virtual const DeviceList& GetDeviceList() const = 0;
    virtual const ResolutionList& GetResolutionList() const = 0;
    // "" while nothing is previewed.
    virtual const std::string& CurrentIdentity() const = 0;
    // The first listed index with that identity; kWifiDeviceIndex for the wireless camera; else -1.
    virtual int32_t FindDeviceIndex(const std::string& identity) const = 0;
    // The remembered camera's index (-1 when none is listed) and its remembered size.
    virtual int32_t LoadPreviewedIdentity() const = 0;
    virtual CaptureResolution LoadPreviewedResolution() const = 0;

    // Starts the preview of a listed camera; false, with nothing previewed, when that failed.
    virtual bool PreviewDevice(int32_t deviceIndex, CaptureResolution resolution) = 0;
    virtual void ForgetCurrentDevice() = 0;
};

}  // namespace orvane
