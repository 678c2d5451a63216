#include "imaging/jpeg_header.h"

#include <cstring>

namespace orvane {

namespace {

constexpr uint8_t kSoi = 0xD8;
constexpr uint8_t kEoi = 0xD9;
constexpr uint8_t kSos = 0xDA;
constexpr uint8_t kApp1 = 0xE1;

uint32_t Be16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }

bool IsFrameMarker(uint8_t marker) {
    // SOF0..SOF15 except DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool IsProgressive(uint8_t marker) {
    return marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
}

// Markers without a length: restart markers and TEM.
bool IsStandalone(uint8_t marker) { return (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01; }

// Finds the next marker at or after `pos` the way a decoder does after a segment: fill bytes (0xFF
// runs) are skipped. Returns the position of the marker code (the byte after 0xFF), or size.
size_t NextMarker(const uint8_t* data, size_t size, size_t pos) {
    while (pos < size && data[pos] != 0xFF) ++pos;  // junk between segments is tolerated
    while (pos < size && data[pos] == 0xFF) ++pos;
    return pos;
}

// Skips entropy-coded data that starts at `pos`: returns the position of the next marker code that is
// neither a stuffed zero nor a restart marker, or size.
size_t SkipEntropyData(const uint8_t* data, size_t size, size_t pos) {
    while (pos < size) {
        const void* found = std::memchr(data + pos, 0xFF, size - pos);
        if (found == nullptr) return size;
        pos = static_cast<size_t>(static_cast<const uint8_t*>(found) - data);
        while (pos < size && data[pos] == 0xFF) ++pos;
        if (pos >= size) return size;
        const uint8_t code = data[pos];
        if (code != 0x00 && !(code >= 0xD0 && code <= 0xD7)) return pos;
        ++pos;
    }
    return size;
}

}  // namespace

JpegHeader ReadJpegHeader(const uint8_t* data, size_t size) {
    JpegHeader header;
    if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != kSoi) return header;
    bool frameSeen = false;
    size_t pos = 2;
    while (pos < size) {
        pos = NextMarker(data, size, pos);
        if (pos >= size) break;
        const uint8_t marker = data[pos++];
        if (IsStandalone(marker)) continue;
        if (marker == kEoi || marker == kSoi) break;
        if (pos + 2 > size) break;
        const size_t length = Be16(data + pos);
        if (length < 2 || length > size - pos) break;  // a segment that runs past the bytes
        const uint8_t* payload = data + pos + 2;
        const size_t payloadSize = length - 2;
        if (IsFrameMarker(marker) && !frameSeen) {
            if (payloadSize < 6) break;
            header.height = static_cast<int32_t>(Be16(payload + 1));
            header.width = static_cast<int32_t>(Be16(payload + 3));
            header.components = payload[5];
            header.progressive = IsProgressive(marker);
            frameSeen = true;
        } else if (marker == kApp1 && header.exifLength == 0 && payloadSize > 6 &&
                   std::memcmp(payload, "Exif\0\0", 6) == 0) {
            header.exifOffset = static_cast<size_t>(payload - data) + 6;
            header.exifLength = payloadSize - 6;
        } else if (marker == kSos) {
            if (payloadSize >= 1) {
                header.firstScanSeen = true;
                header.firstScanComponents = payload[0];
            }
            break;
        }
        pos += length;
    }
    header.valid = frameSeen && header.width > 0 && header.height > 0 && header.components > 0;
    return header;
}

int CountJpegScans(const uint8_t* data, size_t size, int limit) {
    if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != kSoi) return 0;
    int scans = 0;
    size_t pos = 2;
    while (pos < size && scans <= limit) {
        pos = NextMarker(data, size, pos);
        if (pos >= size) break;
        const uint8_t marker = data[pos++];
        if (IsStandalone(marker)) continue;
        if (marker == kEoi) break;
        if (pos + 2 > size) break;
        const size_t length = Be16(data + pos);
        if (length < 2 || length > size - pos) break;
        pos += length;
        if (marker == kSos) {
            ++scans;
            pos = SkipEntropyData(data, size, pos);
            if (pos < size) --pos;  // back onto the 0xFF before the code, for NextMarker
        }
    }
    return scans;
}

}  // namespace orvane
