#include "media/ui/thumbnail_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <QImageReader>
#include <cerrno>
#include <limits>
#include <memory>

#include "imaging/movie_thumbnail.h"

namespace orvane {

namespace {

struct TjDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

// The whole file; false when it cannot be read or is too large to be a photo worth a thumbnail.
bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& bytes) {
    constexpr int64_t kMaxBytes = int64_t{1} << 30;
    FdCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return false;
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxBytes) return false;
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(file.fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // the file shrank meanwhile: decode what there is
        done += static_cast<size_t>(got);
    }
    bytes.resize(done);
    return done > 0;
}

QImage ScaleTo(const QImage& image, const QSize& target) {
    if (image.isNull() || target.isEmpty()) return {};
    if (image.size() == target) return image;
    return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// TurboJPEG's fast path; false when it cannot decode the file at all. Warnings (a truncated file)
// still give the part that was read, as other viewers show it.
bool DecodeJpeg(const std::vector<unsigned char>& bytes, const CThumbnailCache::FitFunction& fit,
                Thumbnail& result) {
    TjHandle handle(tjInitDecompress());
    if (!handle) return false;
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    const auto size = static_cast<unsigned long>(bytes.size());
    if (tjDecompressHeader3(handle.get(), bytes.data(), size, &width, &height, &subsampling, &colourspace) !=
            0 ||
        width <= 0 || height <= 0)
        return false;
    const QSize source(width, height);
    const QSize target = fit(source);
    if (target.isEmpty()) {
        result.sourceSize = source;
        return true;
    }
    const auto [num, denom] = CThumbnailCache::ChooseScale(source, target);
    const tjscalingfactor factor{num, denom};
    const int scaledWidth = TJSCALED(width, factor);
    const int scaledHeight = TJSCALED(height, factor);
    QImage decoded(scaledWidth, scaledHeight, QImage::Format_RGB32);  // B, G, R, X in memory
    if (decoded.isNull()) return false;
    if (tjDecompress2(handle.get(), bytes.data(), size, decoded.bits(), scaledWidth,
                      static_cast<int>(decoded.bytesPerLine()), scaledHeight, TJPF_BGRX, 0) != 0 &&
        tjGetErrorCode(handle.get()) != TJERR_WARNING)
        return false;
    result.sourceSize = source;
    result.image = ScaleTo(decoded, target);
    return true;
}

// Anything Qt can read, whatever the file is called: a picture that only carries the photo's name.
Thumbnail DecodeWithQt(const std::string& path, const CThumbnailCache::FitFunction& fit) {
    QImageReader reader(QString::fromStdString(path));
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    const QSize source = reader.size();
    if (!source.isValid() || source.isEmpty()) return {};
    const QSize target = fit(source);
    Thumbnail result;
    if (target.isEmpty()) {
        result.sourceSize = source;
        return result;
    }
    reader.setScaledSize(target);
    QImage image = reader.read();
    if (image.isNull()) return {};
    result.sourceSize = source;
    result.image = ScaleTo(image, target);
    return result;
}

int64_t Nanoseconds(const timespec& time) { return int64_t{time.tv_sec} * 1000000000 + time.tv_nsec; }

}  // namespace

CThumbnailCache::CThumbnailCache(size_t capacity_) : capacity(capacity_ == 0 ? 1 : capacity_) {}

std::pair<int, int> CThumbnailCache::ChooseScale(const QSize& source, const QSize& target) {
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    std::pair<int, int> best{1, 1};
    int64_t bestArea = std::numeric_limits<int64_t>::max();
    for (int i = 0; factors != nullptr && i < count; ++i) {
        const tjscalingfactor factor = factors[i];
        if (factor.num <= 0 || factor.denom <= 0 || factor.num > factor.denom) continue;
        const int w = TJSCALED(source.width(), factor);
        const int h = TJSCALED(source.height(), factor);
        if (w < target.width() || h < target.height()) continue;
        const int64_t area = int64_t{w} * h;
        if (area < bestArea) {
            bestArea = area;
            best = {factor.num, factor.denom};
        }
    }
    return best;
}

Thumbnail CThumbnailCache::DecodePhoto(const std::string& path, const FitFunction& fit) {
    std::vector<unsigned char> bytes;
    if (!ReadWholeFile(path, bytes)) return {};
    Thumbnail result;
    if (DecodeJpeg(bytes, fit, result)) return result;
    bytes = {};
    return DecodeWithQt(path, fit);
}

Thumbnail CThumbnailCache::DecodeMovie(const std::string& path, const FitFunction& fit) {
    std::optional<BgrPicture> picture = DecodeMovieThumbnail(path);
    if (!picture || picture->width <= 0 || picture->height <= 0 ||
        picture->pixels.size() < static_cast<size_t>(picture->stride) * static_cast<size_t>(picture->height))
        return {};
    Thumbnail result;
    result.sourceSize = QSize(picture->width, picture->height);
    const QSize target = fit(result.sourceSize);
    const QImage frame(picture->pixels.data(), picture->width, picture->height, picture->stride,
                       QImage::Format_BGR888);
    // scaled() makes its own copy; a frame already of the target size must be copied before the
    // pixel buffer goes away.
    result.image = frame.size() == target ? frame.copy() : ScaleTo(frame, target);
    return result;
}

bool CThumbnailCache::ReadSignature(const std::string& path, Signature& signature) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    signature.device = info.st_dev;
    signature.inode = info.st_ino;
    signature.size = info.st_size;
    signature.modifiedNs = Nanoseconds(info.st_mtim);
    signature.changedNs = Nanoseconds(info.st_ctim);
    return true;
}

Thumbnail CThumbnailCache::Get(const std::string& path, ThumbnailKind kind, const FitFunction& fit) {
    Signature signature;
    if (!ReadSignature(path, signature)) {
        if (auto found = entries.find(path); found != entries.end()) {
            ages.erase(found->second.age);
            entries.erase(found);
        }
        return {};
    }
    if (auto found = entries.find(path); found != entries.end()) {
        Entry& entry = found->second;
        if (entry.signature == signature && entry.kind == kind) {
            ages.splice(ages.begin(), ages, entry.age);
            if (entry.sourceSize.isEmpty()) return {};
            const QSize target = fit(entry.sourceSize);
            if (target == entry.target) return {entry.sourceSize, entry.image};
        }
    }

    ++decodeCount;
    QSize target;
    const FitFunction remember = [&](const QSize& source) {
        target = fit(source);
        return target;
    };
    Thumbnail decoded =
        kind == ThumbnailKind::Photo ? DecodePhoto(path, remember) : DecodeMovie(path, remember);
    Entry entry;
    entry.signature = signature;
    entry.kind = kind;
    entry.sourceSize = decoded.sourceSize;
    entry.target = target;
    entry.image = decoded.image;
    Store(path, std::move(entry));
    return decoded;
}

void CThumbnailCache::Store(const std::string& path, Entry entry) {
    if (auto found = entries.find(path); found != entries.end()) {
        ages.erase(found->second.age);
        entries.erase(found);
    }
    while (entries.size() >= capacity && !ages.empty()) {
        entries.erase(ages.back());
        ages.pop_back();
    }
    ages.push_front(path);
    entry.age = ages.begin();
    entries.emplace(path, std::move(entry));
}

void CThumbnailCache::Clear() {
    entries.clear();
    ages.clear();
}

}  // namespace orvane
