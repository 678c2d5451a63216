#pragma once

#include <cerrno>
#include <cstdint>

namespace orvane {

// Result codes of the capture and imaging path: 0 is success, a failure is a negative errno value,
// so that the system's text for a code is SystemErrorText(-code).
using HRESULT = int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_UNEXPECTED = -EPROTO;
constexpr HRESULT E_INVALIDARG = -EINVAL;
constexpr HRESULT E_FAIL = -EIO;
constexpr HRESULT E_POINTER = -EFAULT;
constexpr HRESULT E_NOINTERFACE = -ENOSYS;
constexpr HRESULT E_OUTOFMEMORY = -ENOMEM;
// No device matches the chosen index.
constexpr HRESULT SPAPI_E_NO_DEVICE_SELECTED = -ENODEV;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

}  // namespace orvane
