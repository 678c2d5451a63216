#include "imaging/photo_thumbnail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <vector>

#include "base/turbojpeg_handles.h"
#include "base/unique_fd.h"
#include "imaging/exif_thumbnail.h"
#include "imaging/jpeg_header.h"

namespace orvane {

namespace {

// Enough for the usual header with its Exif block (at most 64 KB) and a few more segments.
constexpr size_t kHeadBytes = 128 * 1024;
// An embedded thumbnail is small by definition; anything larger is not taken for one.
constexpr int64_t kMaxEmbeddedPixels = 1 << 20;
// Rounding to whole pixels moves a small picture's aspect by up to a pixel in 90.
constexpr double kAspectTolerance = 0.02;

// Up to `count` bytes from the start of the file; false on a read error.
bool ReadPrefix(int fd, size_t count, std::vector<uint8_t>& bytes) {
    bytes.resize(count);
    size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, bytes.data() + done, count - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;  // the file shrank meanwhile: what there is
        done += static_cast<size_t>(got);
    }
    bytes.resize(done);
    return true;
}

bool SameAspect(int64_t w1, int64_t h1, int64_t w2, int64_t h2) {
    if (w1 <= 0 || h1 <= 0 || w2 <= 0 || h2 <= 0) return false;
    const double a = static_cast<double>(w1) / static_cast<double>(h1);
    const double b = static_cast<double>(w2) / static_cast<double>(h2);
    return std::fabs(a - b) <= kAspectTolerance * a;
}

bool HeaderOf(tjhandle handle, const uint8_t* data, size_t size, int& width, int& height) {
    int subsampling = 0, colourspace = 0;
    return size <= std::numeric_limits<unsigned long>::max() &&
           tjDecompressHeader3(handle, data, static_cast<unsigned long>(size), &width, &height, &subsampling,
                               &colourspace) == 0 &&
           width > 0 && height > 0;
}

// Decodes at the scale num / denom into an upright BGR picture; false when TurboJPEG fails. Warnings
// (a file cut short) still give the part that was read, as other viewers show it.
bool DecodeScaled(tjhandle handle, const uint8_t* data, size_t size, int width, int height, int num,
                  int denom, BgrPicture& picture) {
    const tjscalingfactor factor{num, denom};
    picture.width = TJSCALED(width, factor);
    picture.height = TJSCALED(height, factor);
    if (picture.width <= 0 || picture.height <= 0) return false;
    picture.stride = (picture.width * 3 + 3) & ~3;
    picture.pixels.assign(static_cast<size_t>(picture.stride) * static_cast<size_t>(picture.height), 0);
    if (tjDecompress2(handle, data, static_cast<unsigned long>(size), picture.pixels.data(), picture.width,
                      picture.stride, picture.height, TJPF_BGR, TJFLAG_LIMITSCANS) != 0 &&
        tjGetErrorCode(handle) != TJERR_WARNING) {
        picture = {};
        return false;
    }
    return true;
}

// The embedded thumbnail when it is what the caller can use; false leaves the photo to be decoded.
bool UseEmbedded(tjhandle handle, const std::vector<uint8_t>& head, const JpegHeader& header,
                 const ThumbnailSizeFunction& embeddedAtLeast, PhotoThumbnail& result) {
    if (!embeddedAtLeast || header.exifLength == 0 || header.exifOffset > head.size() ||
        header.exifLength > head.size() - header.exifOffset)
        return false;
    const uint8_t* tiff = head.data() + header.exifOffset;
    const std::optional<ExifThumbnailLocation> location = FindExifThumbnail(tiff, header.exifLength);
    if (!location) return false;
    const uint8_t* jpeg = tiff + location->offset;
    int width = 0, height = 0;
    if (!HeaderOf(handle, jpeg, location->length, width, height)) return false;
    if (int64_t{width} * height > kMaxEmbeddedPixels) return false;
    if (!SameAspect(width, height, result.sourceWidth, result.sourceHeight)) return false;
    const auto [minWidth, minHeight] = embeddedAtLeast(result.sourceWidth, result.sourceHeight);
    if (width < minWidth || height < minHeight) return false;
    const JpegHeader small = ReadJpegHeader(jpeg, location->length);
    if (small.Buffered() && CountJpegScans(jpeg, location->length, 16) > 16) return false;
    BgrPicture picture;
    if (!DecodeScaled(handle, jpeg, location->length, width, height, 1, 1, picture)) return false;
    result.picture = std::move(picture);
    result.embedded = true;
    return true;
}

}  // namespace

std::pair<int, int> ChooseJpegScale(int32_t width, int32_t height, int32_t targetWidth,
                                    int32_t targetHeight) {
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    std::pair<int, int> best{1, 1};
    int64_t bestArea = std::numeric_limits<int64_t>::max();
    for (int i = 0; factors != nullptr && i < count; ++i) {
        const tjscalingfactor factor = factors[i];
        if (factor.num <= 0 || factor.denom <= 0 || factor.num > factor.denom) continue;
        const int w = TJSCALED(width, factor);
        const int h = TJSCALED(height, factor);
        if (w < targetWidth || h < targetHeight) continue;
        const int64_t area = int64_t{w} * h;
        if (area < bestArea) {
            bestArea = area;
            best = {factor.num, factor.denom};
        }
    }
    return best;
}

PhotoThumbnail DecodePhotoThumbnail(const std::string& path, const ThumbnailSizeFunction& wanted,
                                    const ThumbnailLimits& limits,
                                    const ThumbnailSizeFunction& embeddedAtLeast) {
    PhotoThumbnail result;
    if (limits.Cancelled()) {
        result.status = ThumbnailStatus::Cancelled;
        return result;
    }
    // Non-blocking, so that a pipe under a photo's name cannot hold the open.
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    if (!file || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        info.st_size > limits.maxFileBytes)
        return result;
    const auto fileSize = static_cast<size_t>(info.st_size);

    std::vector<uint8_t> bytes;
    if (!ReadPrefix(file.Get(), std::min(fileSize, kHeadBytes), bytes)) return result;
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
        result.status = ThumbnailStatus::NotJpeg;
        return result;
    }
    bool whole = bytes.size() >= fileSize;
    JpegHeader header = ReadJpegHeader(bytes.data(), bytes.size());
    if (!header.firstScanSeen && !whole) {
        // A header longer than the usual: the rest is needed anyway.
        if (!ReadPrefix(file.Get(), fileSize, bytes)) return result;
        whole = true;
        header = ReadJpegHeader(bytes.data(), bytes.size());
    }

    TjHandle handle(tjInitDecompress());
    if (!handle) return result;
    int width = 0, height = 0;
    if (!header.valid || !HeaderOf(handle.get(), bytes.data(), bytes.size(), width, height)) return result;
    const int64_t pixels = int64_t{width} * height;
    if (pixels > limits.maxPixels || (header.Buffered() && pixels > limits.maxBufferedPixels)) return result;
    result.sourceWidth = width;
    result.sourceHeight = height;

    const auto [targetWidth, targetHeight] =
        wanted ? wanted(width, height) : std::pair<int32_t, int32_t>{0, 0};
    if (targetWidth <= 0 || targetHeight <= 0) {
        result.status = ThumbnailStatus::Ok;
        return result;
    }
    if (UseEmbedded(handle.get(), bytes, header, embeddedAtLeast, result)) {
        result.status = ThumbnailStatus::Ok;
        return result;
    }

    if (limits.Cancelled()) {
        result.status = ThumbnailStatus::Cancelled;
        return result;
    }
    if (limits.Expired()) return result;
    if (!whole && !ReadPrefix(file.Get(), fileSize, bytes)) return result;
    if (header.Buffered() && CountJpegScans(bytes.data(), bytes.size(), limits.maxScans) > limits.maxScans)
        return result;
    if (limits.Expired()) return result;
    const auto [num, denom] = ChooseJpegScale(width, height, targetWidth, targetHeight);
    if (!DecodeScaled(handle.get(), bytes.data(), bytes.size(), width, height, num, denom, result.picture))
        return result;
    result.status = ThumbnailStatus::Ok;
    return result;
}

}  // namespace orvane
