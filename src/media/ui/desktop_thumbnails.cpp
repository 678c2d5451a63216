#include "media/ui/desktop_thumbnails.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QCryptographicHash>
#include <QImageReader>
#include <QImageWriter>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "base/atomic_file.h"

namespace orvane {

namespace {

constexpr int kFlavours[] = {128, 256, 512, 1024};
constexpr int64_t kMaxThumbnailBytes = 4 << 20;
// A thumbnail's aspect may differ from the original's by the rounding of its shorter side.
constexpr double kAspectTolerance = 0.03;

const char* FlavourFolder(int flavour) {
    switch (flavour) {
        case 128:
            return "normal";
        case 256:
            return "large";
        case 512:
            return "x-large";
        default:
            return "xx-large";
    }
}

bool UnescapedInUri(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!$&'()*+,-./:=@_~").find(static_cast<char>(c)) != std::string_view::npos;
}

// Folders of the cache are private to the user.
bool MakePrivateFolders(const std::string& folder) {
    std::error_code error;
    const std::filesystem::path path(folder);
    std::filesystem::path built;
    for (const auto& part : path) {
        built /= part;
        if (std::filesystem::is_directory(built, error)) continue;
        if (::mkdir(built.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return std::filesystem::is_directory(path, error);
}

bool ParseWhole(const QString& text, int64_t& value) {
    const QByteArray bytes = text.trimmed().toLatin1();
    if (bytes.isEmpty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(bytes.constData(), &end, 10);
    if (errno != 0 || end == bytes.constData()) return false;
    // Some writers give the time with a fraction; the whole seconds are what count.
    if (*end == '.') {
        ++end;
        while (*end >= '0' && *end <= '9') ++end;
    }
    if (*end != '\0') return false;
    value = parsed;
    return true;
}

bool SameAspect(const QSize& a, const QSize& b) {
    if (a.isEmpty() || b.isEmpty()) return false;
    const double x = static_cast<double>(a.width()) / a.height();
    const double y = static_cast<double>(b.width()) / b.height();
    return std::fabs(x - y) <= kAspectTolerance * x;
}

}  // namespace

CDesktopThumbnails::CDesktopThumbnails(std::string root_, std::string failFolder_)
    : root(root_.empty() ? DefaultRoot() : std::move(root_)), failFolder(std::move(failFolder_)) {}

std::string CDesktopThumbnails::DefaultRoot() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] != '\0') return std::string(cache) + "/thumbnails";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.cache/thumbnails";
}

std::string CDesktopThumbnails::FileUri(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (UnescapedInUri(byte)) {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[byte >> 4];
            uri += kHex[byte & 15];
        }
    }
    return uri;
}

std::string CDesktopThumbnails::Md5Hex(const std::string& text) {
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Md5)
        .toHex()
        .toStdString();
}

int CDesktopThumbnails::FlavourFor(const QSize& target) {
    const int longer = std::max(target.width(), target.height());
    for (const int flavour : kFlavours)
        if (flavour * 10 >= longer * 9) return flavour;
    return kFlavours[std::size(kFlavours) - 1];
}

QSize CDesktopThumbnails::FlavourSize(const QSize& source, int flavour) {
    if (source.isEmpty()) return {};
    if (source.width() <= flavour && source.height() <= flavour) return source;
    return source.scaled(flavour, flavour, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

bool CDesktopThumbnails::Describe(const std::string& path, Original& original) const {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || ::access(path.c_str(), R_OK) != 0)
        return false;
    std::string absolute = path;
    if (absolute.empty() || absolute.front() != '/') {
        std::error_code error;
        absolute = std::filesystem::absolute(path, error).string();
    }
    original.path = std::filesystem::path(absolute).lexically_normal().string();
    original.uri = FileUri(original.path);
    original.mtime = info.st_mtim.tv_sec;
    original.size = info.st_size;
    return true;
}

bool CDesktopThumbnails::Contains(const std::string& path) const {
    const std::string prefix = root + "/";
    return path.compare(0, prefix.size(), prefix) == 0;
}

std::string CDesktopThumbnails::ThumbnailPath(const std::string& uri, int flavour) const {
    return root + "/" + FlavourFolder(flavour) + "/" + Md5Hex(uri) + ".png";
}

std::string CDesktopThumbnails::FailurePath(const std::string& uri) const {
    return root + "/fail/" + failFolder + "/" + Md5Hex(uri) + ".png";
}

bool CDesktopThumbnails::Matches(const QImage& image, const Original& original) const {
    if (image.text(QStringLiteral("Thumb::URI")).toStdString() != original.uri) return false;
    int64_t mtime = 0;
    if (!ParseWhole(image.text(QStringLiteral("Thumb::MTime")), mtime) || mtime != original.mtime)
        return false;
    const QString size = image.text(QStringLiteral("Thumb::Size"));
    int64_t bytes = 0;
    return size.isEmpty() || (ParseWhole(size, bytes) && bytes == original.size);
}

CDesktopThumbnails::Found CDesktopThumbnails::Find(const Original& original, int flavour,
                                                   const std::function<QSize(const QSize&)>& fit,
                                                   double atLeast) const {
    for (const int size : kFlavours) {
        if (size < flavour) continue;
        const std::string path = ThumbnailPath(original.uri, size);
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxThumbnailBytes)
            continue;
        QImageReader reader(QString::fromStdString(path), "png");
        const QSize stored = reader.size();
        if (stored.isEmpty() || stored.width() > 1024 || stored.height() > 1024) continue;
        QImage image = reader.read();
        if (image.isNull() || !Matches(image, original)) continue;
        QSize source(image.text(QStringLiteral("Thumb::Image::Width")).toInt(),
                     image.text(QStringLiteral("Thumb::Image::Height")).toInt());
        if (!SameAspect(source, image.size())) source = image.size();
        const QSize target = fit ? fit(source) : image.size();
        if (image.width() < atLeast * target.width() || image.height() < atLeast * target.height()) continue;
        return Found{std::move(image), source, size};
    }
    return {};
}

bool CDesktopThumbnails::HasFailure(const Original& original) const {
    const std::string path = FailurePath(original.uri);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxThumbnailBytes)
        return false;
    QImageReader reader(QString::fromStdString(path), "png");
    if (reader.size().width() > 1024 || reader.size().height() > 1024) return false;
    const QImage image = reader.read();
    return !image.isNull() && Matches(image, original);
}

bool CDesktopThumbnails::WritePng(const std::string& folder, const std::string& path,
                                  const QImage& image) const {
    if (!MakePrivateFolders(folder)) return false;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    for (const QString& key : image.textKeys()) writer.setText(key, image.text(key));
    if (!writer.write(image)) return false;
    CAtomicFile file;
    return file.Create(folder, 0600) == 0 &&
           file.Write(bytes.constData(), static_cast<size_t>(bytes.size())) == 0 &&
           file.CommitReplacing(path) == 0;
}

bool CDesktopThumbnails::Store(const Original& original, const QImage& picture, int flavour,
                               const QSize& sourceSize) const {
    if (picture.isNull() || Contains(original.path)) return false;
    QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    const QSize fitted = FlavourSize(image.size(), flavour);
    if (fitted != image.size()) image = image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    image.setText(QStringLiteral("Thumb::URI"), QString::fromStdString(original.uri));
    image.setText(QStringLiteral("Thumb::MTime"), QString::number(original.mtime));
    image.setText(QStringLiteral("Thumb::Size"), QString::number(original.size));
    if (!original.mimeType.empty())
        image.setText(QStringLiteral("Thumb::Mimetype"), QString::fromStdString(original.mimeType));
    if (!sourceSize.isEmpty()) {
        image.setText(QStringLiteral("Thumb::Image::Width"), QString::number(sourceSize.width()));
        image.setText(QStringLiteral("Thumb::Image::Height"), QString::number(sourceSize.height()));
    }
    image.setText(QStringLiteral("Software"), QStringLiteral("Orvane " ORVANE_VERSION));
    return WritePng(root + "/" + FlavourFolder(flavour), ThumbnailPath(original.uri, flavour), image);
}

bool CDesktopThumbnails::StoreFailure(const Original& original) const {
    if (Contains(original.path)) return false;
    QImage image(1, 1, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    image.setText(QStringLiteral("Thumb::URI"), QString::fromStdString(original.uri));
    image.setText(QStringLiteral("Thumb::MTime"), QString::number(original.mtime));
    image.setText(QStringLiteral("Thumb::Size"), QString::number(original.size));
    image.setText(QStringLiteral("Software"), QStringLiteral("Orvane " ORVANE_VERSION));
    return WritePng(root + "/fail/" + failFolder, FailurePath(original.uri), image);
}

}  // namespace orvane
