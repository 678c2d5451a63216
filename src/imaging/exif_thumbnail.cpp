#include "imaging/exif_thumbnail.h"

#include <turbojpeg.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "base/turbojpeg_handles.h"

namespace orvane {

namespace {

constexpr int kThumbnailQuality = 90;
// A JPEG segment holds at most 65535 bytes with its length field.
constexpr size_t kMaxSegmentPayload = 65533;

enum TiffType : uint16_t { kShort = 3, kLong = 4, kRational = 5, kUndefined = 7 };

enum Tag : uint16_t {
    kCompression = 0x0103,
    kOrientation = 0x0112,
    kXResolution = 0x011A,
    kYResolution = 0x011B,
    kResolutionUnit = 0x0128,
    kJpegOffset = 0x0201,
    kJpegLength = 0x0202,
    kYCbCrPositioning = 0x0213,
    kExifIfd = 0x8769,
    kExifVersion = 0x9000,
    kColorSpace = 0xA001,
    kPixelXDimension = 0xA002,
    kPixelYDimension = 0xA003,
};

// Little-endian TIFF writing into a growing buffer; offsets count from the TIFF header.
class TiffWriter {
public:
    size_t Size() const { return bytes.size(); }
    void U16(uint16_t v) { bytes.insert(bytes.end(), {uint8_t(v), uint8_t(v >> 8)}); }
    void U32(uint32_t v) {
        bytes.insert(bytes.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    void Entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        U16(tag);
        U16(type);
        U32(count);
        if (type == kShort && count == 1) {
            U16(static_cast<uint16_t>(value));
            U16(0);
        } else {
            U32(value);
        }
    }
    void Bytes(const uint8_t* data, size_t size) { bytes.insert(bytes.end(), data, data + size); }
    std::vector<uint8_t> bytes;
};

// Area average of the picture into a top-down BGR picture of tw x th. The rows of a band are first
// added up byte by byte (one contiguous loop the compiler vectorises), then the columns of that sum.
// Every pixel counts: skipping rows or columns would turn a grating finer than the step into a plain
// black or white.
std::vector<uint8_t> Shrink(const uint8_t* bgr, int32_t width, int32_t height, int32_t stride, bool bottomUp,
                            int32_t tw, int32_t th) {
    std::vector<uint8_t> out(static_cast<size_t>(tw) * th * 3);
    const size_t rowBytes = size_t{3} * static_cast<size_t>(width);
    std::vector<uint32_t> band(rowBytes);
    std::vector<int32_t> columnStart(static_cast<size_t>(tw) + 1);
    for (int32_t tx = 0; tx <= tw; ++tx) columnStart[tx] = static_cast<int32_t>(int64_t{tx} * width / tw);
    for (int32_t ty = 0; ty < th; ++ty) {
        const int32_t y0 = static_cast<int32_t>(int64_t{ty} * height / th);
        const int32_t y1 = std::max(y0 + 1, static_cast<int32_t>(int64_t{ty + 1} * height / th));
        std::fill(band.begin(), band.end(), 0u);
        for (int32_t y = y0; y < y1; ++y) {
            const int32_t memoryRow = bottomUp ? height - 1 - y : y;
            const uint8_t* row = bgr + static_cast<size_t>(memoryRow) * stride;
            uint32_t* sum = band.data();
            for (size_t i = 0; i < rowBytes; ++i) sum[i] += row[i];
        }
        for (int32_t tx = 0; tx < tw; ++tx) {
            const int32_t x0 = std::min(columnStart[tx], width - 1);
            const int32_t x1 = std::max(x0 + 1, columnStart[tx + 1]);
            uint32_t b = 0, g = 0, r = 0;
            for (const uint32_t* p = band.data() + 3 * static_cast<size_t>(x0);
                 p < band.data() + 3 * static_cast<size_t>(x1); p += 3) {
                b += p[0];
                g += p[1];
                r += p[2];
            }
            const auto count = static_cast<uint32_t>(x1 - x0) * static_cast<uint32_t>(y1 - y0);
            uint8_t* q = &out[(static_cast<size_t>(ty) * tw + tx) * 3];
            q[0] = static_cast<uint8_t>((b + count / 2) / count);
            q[1] = static_cast<uint8_t>((g + count / 2) / count);
            q[2] = static_cast<uint8_t>((r + count / 2) / count);
        }
    }
    return out;
}

// The small JPEG without the JFIF header TurboJPEG writes: an embedded thumbnail has none.
std::vector<uint8_t> CompressThumbnail(const std::vector<uint8_t>& bgr, int32_t tw, int32_t th, int quality) {
    TjHandle encoder(tjInitCompress());
    if (!encoder) return {};
    unsigned char* output = nullptr;
    unsigned long size = 0;
    const int result = tjCompress2(encoder.get(), bgr.data(), tw, tw * 3, th, TJPF_BGR, &output, &size,
                                   TJSAMP_420, quality, 0);
    TjBuffer owned(output);
    if (result != 0 || size < 4) return {};
    const uint8_t* data = owned.get();
    size_t skip = 0;
    if (size > 6 && data[2] == 0xFF && data[3] == 0xE0) skip = 2 + ((size_t{data[4]} << 8) | data[5]);
    if (skip >= size - 2) skip = 0;
    std::vector<uint8_t> jpeg{0xFF, 0xD8};
    jpeg.insert(jpeg.end(), data + 2 + skip, data + size);
    return jpeg;
}

// A resolution as a TIFF rational: thousandths where they fit, whole numbers beyond.
std::pair<uint32_t, uint32_t> Rational(double value) {
    if (value * 1000 < 4.0e9) {
        return {static_cast<uint32_t>(std::max<long long>(1, std::llround(value * 1000))), 1000};
    }
    return {static_cast<uint32_t>(std::min<long long>(std::llround(value), UINT32_MAX)), 1};
}

std::vector<uint8_t> BuildSegment(int32_t width, int32_t height, const std::vector<uint8_t>& thumbnail,
                                  const PhotoDensity& density) {
    constexpr uint16_t kIfd0Entries = 6, kExifEntries = 4, kIfd1Entries = 6;
    constexpr uint32_t kIfd0 = 8;
    constexpr uint32_t kExif = kIfd0 + 2 + 12 * kIfd0Entries + 4;
    constexpr uint32_t kIfd1 = kExif + 2 + 12 * kExifEntries + 4;
    // 72 / 1 per inch, shared by both directions and both directories; with a density, one rational
    // across and one down, per centimetre.
    constexpr uint32_t kResolution = kIfd1 + 2 + 12 * kIfd1Entries + 4;
    const bool physical = density.IsSet();
    const uint32_t yResolution = physical ? kResolution + 8 : kResolution;
    const uint32_t thumbnailAt = yResolution + 8;
    const uint16_t unit = physical ? 3 : 2;  // centimetres : inches

    TiffWriter tiff;
    tiff.Bytes(reinterpret_cast<const uint8_t*>("II*\0"), 4);
    tiff.U32(kIfd0);
    tiff.U16(kIfd0Entries);
    tiff.Entry(kOrientation, kShort, 1, 1);
    tiff.Entry(kXResolution, kRational, 1, kResolution);
    tiff.Entry(kYResolution, kRational, 1, yResolution);
    tiff.Entry(kResolutionUnit, kShort, 1, unit);
    tiff.Entry(kYCbCrPositioning, kShort, 1, 1);
    tiff.Entry(kExifIfd, kLong, 1, kExif);
    tiff.U32(kIfd1);
    tiff.U16(kExifEntries);
    tiff.U16(kExifVersion);
    tiff.U16(kUndefined);
    tiff.U32(4);
    tiff.Bytes(reinterpret_cast<const uint8_t*>("0232"), 4);
    tiff.Entry(kColorSpace, kShort, 1, 1);  // sRGB
    tiff.Entry(kPixelXDimension, kLong, 1, static_cast<uint32_t>(width));
    tiff.Entry(kPixelYDimension, kLong, 1, static_cast<uint32_t>(height));
    tiff.U32(0);
    tiff.U16(kIfd1Entries);
    tiff.Entry(kCompression, kShort, 1, 6);  // JPEG
    tiff.Entry(kXResolution, kRational, 1, kResolution);
    tiff.Entry(kYResolution, kRational, 1, yResolution);
    tiff.Entry(kResolutionUnit, kShort, 1, unit);
    tiff.Entry(kJpegOffset, kLong, 1, thumbnailAt);
    tiff.Entry(kJpegLength, kLong, 1, static_cast<uint32_t>(thumbnail.size()));
    tiff.U32(0);
    if (physical) {
        for (const double perCm : {density.xPerCm, density.yPerCm}) {
            const auto [numerator, denominator] = Rational(perCm);
            tiff.U32(numerator);
            tiff.U32(denominator);
        }
    } else {
        tiff.U32(72);
        tiff.U32(1);
    }
    if (tiff.Size() != thumbnailAt) return {};
    tiff.Bytes(thumbnail.data(), thumbnail.size());

    const size_t payload = 6 + tiff.Size();
    if (payload > kMaxSegmentPayload) return {};
    std::vector<uint8_t> segment{0xFF, 0xE1, uint8_t((payload + 2) >> 8), uint8_t(payload + 2)};
    segment.insert(segment.end(), {'E', 'x', 'i', 'f', 0, 0});
    segment.insert(segment.end(), tiff.bytes.begin(), tiff.bytes.end());
    return segment;
}

// Bounds-checked reading of a TIFF structure in either byte order.
class TiffReader {
public:
    TiffReader(const uint8_t* data_, size_t size_, bool little_)
        : data(data_), size(size_), little(little_) {}
    bool U16(size_t at, uint16_t& v) const {
        if (at > size || size - at < 2) return false;
        v = little ? uint16_t(data[at] | (data[at + 1] << 8)) : uint16_t((data[at] << 8) | data[at + 1]);
        return true;
    }
    bool U32(size_t at, uint32_t& v) const {
        if (at > size || size - at < 4) return false;
        const uint8_t* p = data + at;
        v = little ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
                   : uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24;
        return true;
    }
    // The single numeric value of an entry of type SHORT or LONG.
    bool Value(size_t entry, uint32_t& v) const {
        uint16_t type = 0;
        uint32_t count = 0;
        if (!U16(entry + 2, type) || !U32(entry + 4, count) || count != 1) return false;
        if (type == kShort) {
            uint16_t shortValue = 0;
            if (!U16(entry + 8, shortValue)) return false;
            v = shortValue;
            return true;
        }
        return type == kLong && U32(entry + 8, v);
    }

private:
    const uint8_t* data;
    size_t size;
    bool little;
};

// The number of entries of the directory at `offset`, when the whole directory and its link lie inside.
bool DirectoryEntries(const TiffReader& reader, size_t size, uint32_t offset, uint16_t& count) {
    if (offset < 8 || offset >= size) return false;
    if (!reader.U16(offset, count)) return false;
    const uint64_t end = uint64_t{offset} + 2 + uint64_t{count} * 12 + 4;
    return end <= size;
}

}  // namespace

std::pair<int32_t, int32_t> ExifThumbnailSize(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return {0, 0};
    const bool portrait = height > width;
    const int64_t boxW = portrait ? kExifThumbnailShortSide : kExifThumbnailLongSide;
    const int64_t boxH = portrait ? kExifThumbnailLongSide : kExifThumbnailShortSide;
    int64_t tw = boxW;
    int64_t th = (boxW * height + width / 2) / width;
    if (th > boxH) {
        th = boxH;
        tw = (boxH * width + height / 2) / height;
    }
    // Never larger than the picture itself.
    tw = std::min<int64_t>(tw, width);
    th = std::min<int64_t>(th, height);
    return {static_cast<int32_t>(std::max<int64_t>(1, tw)), static_cast<int32_t>(std::max<int64_t>(1, th))};
}

std::vector<uint8_t> MakeExifThumbnailSegment(const uint8_t* bgr, int32_t width, int32_t height,
                                              int32_t stride, bool bottomUp, const PhotoDensity& density) {
    if (bgr == nullptr || width <= 0 || height <= 0 || int64_t{stride} < int64_t{width} * 3) return {};
    const auto [tw, th] = ExifThumbnailSize(width, height);
    const std::vector<uint8_t> small = Shrink(bgr, width, height, stride, bottomUp, tw, th);
    // A very busy picture may not fit a segment at the first quality.
    for (int quality = kThumbnailQuality; quality >= 50; quality -= 20) {
        const std::vector<uint8_t> jpeg = CompressThumbnail(small, tw, th, quality);
        if (jpeg.empty()) return {};
        std::vector<uint8_t> segment = BuildSegment(width, height, jpeg, density);
        if (!segment.empty()) return segment;
    }
    return {};
}

std::vector<uint8_t> InsertJpegSegment(const uint8_t* jpeg, size_t size,
                                       const std::vector<uint8_t>& segment) {
    if (jpeg == nullptr) return {};
    std::vector<uint8_t> file;
    if (segment.empty() || size < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) {
        file.assign(jpeg, jpeg + size);
        return file;
    }
    size_t at = 2;
    if (jpeg[2] == 0xFF && jpeg[3] == 0xE0 && size >= 6) {
        const size_t app0 = 2 + ((size_t{jpeg[4]} << 8) | jpeg[5]);
        if (app0 <= size - 2) at += app0;
    }
    file.reserve(size + segment.size());
    file.insert(file.end(), jpeg, jpeg + at);
    file.insert(file.end(), segment.begin(), segment.end());
    file.insert(file.end(), jpeg + at, jpeg + size);
    return file;
}

std::vector<uint8_t> WithExifThumbnail(const uint8_t* jpeg, size_t size, const uint8_t* bgr, int32_t width,
                                       int32_t height, bool bottomUp, const PhotoDensity& density) {
    const int64_t stride = int64_t{width} * 3;
    if (stride > INT32_MAX) return InsertJpegSegment(jpeg, size, {});
    return InsertJpegSegment(
        jpeg, size, MakeExifThumbnailSegment(bgr, width, height, static_cast<int32_t>(stride), bottomUp, density));
}

std::optional<ExifThumbnailLocation> FindExifThumbnail(const uint8_t* tiff, size_t size) {
    if (tiff == nullptr || size < 8) return std::nullopt;
    bool little = false;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        little = true;
    else if (!(tiff[0] == 'M' && tiff[1] == 'M'))
        return std::nullopt;
    const TiffReader reader(tiff, size, little);
    uint16_t magic = 0;
    uint32_t ifd0 = 0;
    if (!reader.U16(2, magic) || magic != 42 || !reader.U32(4, ifd0)) return std::nullopt;
    uint16_t count0 = 0;
    if (!DirectoryEntries(reader, size, ifd0, count0)) return std::nullopt;
    uint32_t ifd1 = 0;
    if (!reader.U32(size_t{ifd0} + 2 + size_t{count0} * 12, ifd1) || ifd1 == 0 || ifd1 == ifd0)
        return std::nullopt;
    uint16_t count1 = 0;
    if (!DirectoryEntries(reader, size, ifd1, count1)) return std::nullopt;

    uint32_t offset = 0, length = 0, compression = 6;
    bool haveOffset = false, haveLength = false;
    for (uint16_t i = 0; i < count1; ++i) {
        const size_t entry = size_t{ifd1} + 2 + size_t{i} * 12;
        uint16_t tag = 0;
        if (!reader.U16(entry, tag)) return std::nullopt;
        if (tag == kJpegOffset)
            haveOffset = reader.Value(entry, offset);
        else if (tag == kJpegLength)
            haveLength = reader.Value(entry, length);
        else if (tag == kCompression && !reader.Value(entry, compression))
            return std::nullopt;
    }
    if (!haveOffset || !haveLength || compression != 6 || length < 4) return std::nullopt;
    if (offset < 8 || offset >= size || length > size - offset) return std::nullopt;
    if (tiff[offset] != 0xFF || tiff[offset + 1] != 0xD8) return std::nullopt;
    return ExifThumbnailLocation{offset, length};
}

}  // namespace orvane
