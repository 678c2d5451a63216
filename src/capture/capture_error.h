#pragma once

#include <string>

#include "base/hresult.h"

namespace orvane {

class CLocalizableString;
class CWifiDeviceProxy;

// The text of the message box for a failed capture operation. While the wireless link has a thread
// (from its start until the next stop, even after it ended on its own) every failure reads as a
// failed connection to the wireless device; otherwise it is the system's text for `code`, or
// "Unknown error (code N)" when the system has none. Safe from any thread.
std::string FormatCaptureError(HRESULT code);

// The same rule for a given link and string table.
std::string FormatCaptureError(HRESULT code, const CWifiDeviceProxy& link, CLocalizableString& strings);

// The text for a camera that could not be opened or started, named for what happened: -EBUSY, the
// camera is in use by another application (the not-preview text); -ENOSPC, not enough USB
// bandwidth; -EACCES or -EPERM, no permission, with how to get it. Anything else reads as
// FormatCaptureError says (the wireless text while the link has a thread, else the system's text).
std::string FormatDeviceError(HRESULT code, const CWifiDeviceProxy& link, CLocalizableString& strings);

}  // namespace orvane
