#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "config/setting.h"

namespace orvane {

// One listed capture device. devicePath is its identity: stable across reboots and /dev/videoN
// renumbering.
struct DeviceEntry {
    std::string friendlyName;
    std::string devicePath;
};

// Capture devices by index 0, 1, 2, ... in the system's order; only devices with an identity.
using DeviceList = std::map<int32_t, DeviceEntry>;

// The index that selects the wireless camera, which is never in a DeviceList.
inline constexpr int32_t kWifiDeviceIndex = 10000;
// The card name by which the wireless camera is recognised, and its identity.
inline constexpr const char* kWifiDeviceName = "wifi device";

// Offered capture formats by key (height << 16) | FormatClass(subtype): sorted by height, then by
// class, at most one entry per height and class.
using ResolutionList = std::map<int32_t, CaptureResolution>;

inline constexpr uint32_t FourCc(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

// 1 for the packed and planar YUV formats (YUYV, UYVY, YUV420, YVU420, AYUV, YUV4), 2 for MJPG, 0
// for any other pixel format.
inline constexpr int32_t FormatClass(uint32_t fourcc) {
    switch (fourcc) {
        case FourCc('Y', 'U', 'Y', 'V'):
        case FourCc('U', 'Y', 'V', 'Y'):
        case FourCc('Y', 'U', '1', '2'):
        case FourCc('Y', 'V', '1', '2'):
        case FourCc('A', 'Y', 'U', 'V'):
        case FourCc('Y', 'U', 'V', '4'):
            return 1;
        case FourCc('M', 'J', 'P', 'G'):
            return 2;
        default:
            return 0;
    }
}

inline constexpr int32_t ResolutionKey(int32_t height, uint32_t fourcc) {
    return static_cast<int32_t>((static_cast<uint32_t>(height) << 16) |
                                static_cast<uint32_t>(FormatClass(fourcc)));
}

}  // namespace orvane
