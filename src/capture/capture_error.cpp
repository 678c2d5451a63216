#include "capture/capture_error.h"

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

std::string FormatCaptureError(HRESULT code, const CWifiDeviceProxy& link, CLocalizableString& strings) {
    if (link.HasLinkThread()) {
        return strings.GetString(keys::kAlertNotConnetionWifiDevice);
    }
    return SystemText(code);
}

}  // namespace orvane
