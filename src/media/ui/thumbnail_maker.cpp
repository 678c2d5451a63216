#include "media/ui/thumbnail_maker.h"

#include <sys/stat.h>

#include <QImageReader>
#include <algorithm>
#include <chrono>

#include "imaging/movie_thumbnail.h"
#include "imaging/photo_thumbnail.h"

namespace orvane {

namespace {

// A stored or embedded picture may be enlarged by up to a third; more and it looks soft.
constexpr double kEnoughScale = 0.75;

int64_t Nanoseconds(const timespec& time) { return int64_t{time.tv_sec} * 1000000000 + time.tv_nsec; }

QImage ToImage(const BgrPicture& picture) {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.pixels.size() < static_cast<size_t>(picture.stride) * static_cast<size_t>(picture.height))
        return {};
    // copy(): the QImage must own its pixels once the picture goes.
    return QImage(picture.pixels.data(), picture.width, picture.height, picture.stride, QImage::Format_BGR888)
        .copy();
}

QImage ScaleTo(const QImage& image, const QSize& target) {
    if (image.isNull() || target.isEmpty()) return {};
    if (image.size() == target) return image;
    return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QSize Larger(const QSize& a, const QSize& b) { return a.expandedTo(b); }

std::pair<int32_t, int32_t> Pair(const QSize& size) { return {size.width(), size.height()}; }

// Formats Qt reads besides JPEG that may carry a photo's name; none of them can be made to decode for
// long from a file within the byte cap once its picture size is checked.
bool AcceptedOtherFormat(const QByteArray& format) {
    return format == "png" || format == "bmp" || format == "gif";
}

// A picture of another format under a photo's name, through Qt's readers, within the limits.
bool DecodeOther(const std::string& path, const ThumbnailLimits& limits,
                 const std::function<QSize(const QSize&)>& wanted, QImage& image, QSize& source) {
    QImageReader reader(QString::fromStdString(path));
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    if (!AcceptedOtherFormat(reader.format())) return false;
    source = reader.size();
    if (source.isEmpty() || int64_t{source.width()} * source.height() > limits.maxBufferedPixels)
        return false;
    const QSize size = wanted(source).boundedTo(source);
    if (size.isEmpty()) return false;
    reader.setScaledSize(size);
    image = reader.read();
    return !image.isNull();
}

std::string MimeTypeOf(const std::string& path, ThumbnailKind kind) {
    if (kind == ThumbnailKind::Photo) return "image/jpeg";
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name.find(".avi") != std::string::npos ? "video/x-msvideo" : "video/mp4";
}

}  // namespace

bool FileSignature::Read(const std::string& path, FileSignature& signature) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    signature.device = info.st_dev;
    signature.inode = info.st_ino;
    signature.size = info.st_size;
    signature.modifiedNs = Nanoseconds(info.st_mtim);
    signature.changedNs = Nanoseconds(info.st_ctim);
    return true;
}

CThumbnailMaker::CThumbnailMaker(CDesktopThumbnails cache_) : cache(std::move(cache_)) {}

ThumbnailResult CThumbnailMaker::Make(const ThumbnailRequest& request, const std::atomic<bool>& cancelled,
                                      Keep& keep) const {
    ThumbnailResult result;
    result.path = request.path;
    result.kind = request.kind;
    result.fitKey = request.fitKey;
    keep = {};
    if (!FileSignature::Read(request.path, result.signature)) return result;

    CDesktopThumbnails::Original original;
    const bool shared = cache.Describe(request.path, original) && !cache.Contains(original.path);
    original.mimeType = MimeTypeOf(request.path, request.kind);
    const auto fit = [&](const QSize& source) { return request.fit ? request.fit(source) : source; };
    // A shown thumbnail whose file changed is made from the file: within the same second the desktop's
    // cache could not tell the old picture from the new one.
    if (shared && !request.check) {
        // The size class is chosen for a 4:3 picture here; the cache's pictures then say their own.
        const int flavour = CDesktopThumbnails::FlavourFor(fit(QSize(4, 3) * 1000));
        CDesktopThumbnails::Found found = cache.Find(original, flavour, fit, kEnoughScale);
        if (!found.image.isNull()) {
            result.picture = true;
            result.sourceSize = found.sourceSize;
            result.image = ScaleTo(found.image.convertToFormat(QImage::Format_RGB32), fit(found.sourceSize));
            return result;
        }
        if (cache.HasFailure(original)) return result;
    }

    ThumbnailLimits limits = ThumbnailLimits::Within(std::chrono::milliseconds(kBudgetMs));
    limits.cancelled = &cancelled;
    // Decoded large enough for the row and for the desktop's size class of that row.
    const auto target = [&](const QSize& source) { return fit(source); };
    const auto decodeSize = [&](const QSize& source) {
        const QSize drawn = target(source);
        return Larger(drawn, CDesktopThumbnails::FlavourSize(source, CDesktopThumbnails::FlavourFor(drawn)));
    };
    const ThumbnailSizeFunction wanted = [&](int32_t w, int32_t h) { return Pair(decodeSize(QSize(w, h))); };
    const ThumbnailSizeFunction embeddedAtLeast = [&](int32_t w, int32_t h) {
        const QSize drawn = target(QSize(w, h));
        return std::pair<int32_t, int32_t>(static_cast<int32_t>(drawn.width() * kEnoughScale),
                                           static_cast<int32_t>(drawn.height() * kEnoughScale));
    };

    result.fromFile = true;
    QImage decoded;
    bool embedded = false;
    ThumbnailStatus status = ThumbnailStatus::NoPicture;
    if (request.kind == ThumbnailKind::Photo) {
        PhotoThumbnail photo = DecodePhotoThumbnail(request.path, wanted, limits, embeddedAtLeast);
        status = photo.status;
        if (status == ThumbnailStatus::Ok) {
            result.sourceSize = QSize(photo.sourceWidth, photo.sourceHeight);
            decoded = ToImage(photo.picture);
            embedded = photo.embedded;
        } else if (status == ThumbnailStatus::NotJpeg) {
            QSize source;
            status = DecodeOther(request.path, limits, decodeSize, decoded, source)
                         ? ThumbnailStatus::Ok
                         : ThumbnailStatus::NoPicture;
            result.sourceSize = source;
        }
    } else {
        MovieThumbnail movie = DecodeMovieThumbnail(request.path, wanted, limits);
        status = movie.status;
        if (status == ThumbnailStatus::Ok) {
            result.sourceSize = QSize(movie.sourceWidth, movie.sourceHeight);
            decoded = ToImage(movie.picture);
        }
    }
    if (status == ThumbnailStatus::Cancelled || cancelled.load(std::memory_order_acquire)) return result;
    if (status != ThumbnailStatus::Ok || decoded.isNull() || result.sourceSize.isEmpty()) {
        result.picture = false;
        result.sourceSize = {};
        if (shared) {
            keep.any = true;
            keep.failure = true;
            keep.original = original;
        }
        return result;
    }
    const QSize drawn = target(result.sourceSize);
    result.picture = true;
    result.image = ScaleTo(decoded, drawn);

    if (shared) {
        const int flavour = CDesktopThumbnails::FlavourFor(drawn);
        const QSize kept = CDesktopThumbnails::FlavourSize(result.sourceSize, flavour);
        // An embedded picture smaller than the size class is not worth keeping.
        if (!embedded || (decoded.width() >= kept.width() && decoded.height() >= kept.height())) {
            keep.any = true;
            keep.original = original;
            keep.picture = ScaleTo(decoded, kept);
            keep.flavour = flavour;
            keep.sourceSize = request.kind == ThumbnailKind::Photo ? result.sourceSize : QSize();
        }
    }
    return result;
}

void CThumbnailMaker::Store(const Keep& keep) const {
    if (!keep.any) return;
    if (keep.failure) {
        cache.StoreFailure(keep.original);
        return;
    }
    cache.Store(keep.original, keep.picture, keep.flavour, keep.sourceSize);
}

}  // namespace orvane
