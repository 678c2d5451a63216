#include "capture/capture_error.h"

#include <cerrno>
#include <cstring>

#include "base/text.h"
#include "capture/wifi_device_proxy.h"
#include "localization/localizable_string.h"

namespace orvane {

namespace {

std::string SystemText(HRESULT code) {
    // Only a negative errno value has a system text; strerrorname_np knows exactly those.
    if (code < 0 && code != INT32_MIN && ::strerrorname_np(-code) != nullptr) {
        return Format("%s", SystemErrorText(-code));
    }
    if (code == S_OK) return Format("%s", SystemErrorText(0));
    return Format("Unknown error (code %d)", code);
}

}  // namespace

std::string FormatCaptureError(HRESULT code) {
    CWifiDeviceProxy* link = CWifiDeviceProxy::GetInstance();
    if (!link->HasLinkThread()) return SystemText(code);
    return FormatCaptureError(code, *link, *CLocalizableString::GetInstance());
}

std::string FormatDeviceError(HRESULT code, const CWifiDeviceProxy& link, CLocalizableString& strings) {
    switch (code) {
        case -EBUSY:
            return strings.GetString(keys::kAlertNotPreviewDevice);
        case -ENOSPC:
            if (link.HasLinkThread()) break;
            return strings.GetString(keys::kAlertUsbBandwidth);
        case -EACCES:
        case -EPERM:
            if (link.HasLinkThread()) break;
            return strings.GetString(keys::kAlertCameraPermission);
        default:
            break;
    }
    return FormatCaptureError(code, link, strings);
}

std::string FormatCaptureError(HRESULT code, const CWifiDeviceProxy& link, CLocalizableString& strings) {
    if (link.HasLinkThread()) {
        return strings.GetString(keys::kAlertNotConnetionWifiDevice);
    }
    return SystemText(code);
}

}  // namespace orvane
