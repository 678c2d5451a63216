#pragma once

#include <QImage>
#include <QSize>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

namespace orvane {

enum class ThumbnailKind { Photo, Movie };

// What one media file gives the thumbnail panel.
struct Thumbnail {
    QSize sourceSize;  // the picture's own pixel size; empty when the file gives no picture
    QImage image;      // the picture at the size the caller asked for; null when there is none
};

// Decodes the thumbnails of the panel at the size they are drawn and keeps the latest ones. An entry
// is used again only while the file's identity, size, modification and change times are those it was
// decoded from, so what the panel shows is always what the file holds now; every lookup checks them.
// Damaged files are remembered the same way, so that a bad movie is not decoded again at every paint.
// Not thread-safe: the interface thread (or one other thread) only.
class CThumbnailCache {
public:
    // Maps the picture's own size to the size, in device pixels, it is to be drawn at.
    using FitFunction = std::function<QSize(const QSize& source)>;

    explicit CThumbnailCache(size_t capacity = 256);

    // The picture of the file at `path` scaled smoothly to fit(sourceSize). A file that cannot be read
    // or decoded gives an empty sourceSize and a null image; a picture that fits into an empty size
    // gives its sourceSize and a null image.
    Thumbnail Get(const std::string& path, ThumbnailKind kind, const FitFunction& fit);

    void Clear();
    size_t Size() const { return entries.size(); }
    // How many times a file was decoded since construction (for the tests of the reuse rules).
    uint64_t DecodeCount() const { return decodeCount; }

    // A photo decoded at the smallest TurboJPEG scale that still covers fit(sourceSize), then scaled
    // smoothly to exactly that size; files TurboJPEG cannot read go through Qt's image readers.
    static Thumbnail DecodePhoto(const std::string& path, const FitFunction& fit);
    // The first picture of a movie scaled smoothly to fit(sourceSize).
    static Thumbnail DecodeMovie(const std::string& path, const FitFunction& fit);
    // The TurboJPEG scale (num / denom, at most 1) with the smallest output that still covers `target`
    // for a picture of `source`; 1 / 1 when none smaller does.
    static std::pair<int, int> ChooseScale(const QSize& source, const QSize& target);

private:
    struct Signature {
        uint64_t device = 0;
        uint64_t inode = 0;
        int64_t size = -1;
        int64_t modifiedNs = 0;
        int64_t changedNs = 0;
        bool operator==(const Signature&) const = default;
    };
    struct Entry {
        Signature signature;
        ThumbnailKind kind = ThumbnailKind::Photo;
        QSize sourceSize;
        QSize target;  // the size `image` was made for
        QImage image;
        std::list<std::string>::iterator age;
    };

    static bool ReadSignature(const std::string& path, Signature& signature);
    void Store(const std::string& path, Entry entry);

    size_t capacity;
    std::list<std::string> ages;  // most recently used first
    std::unordered_map<std::string, Entry> entries;
    uint64_t decodeCount = 0;
};

}  // namespace orvane
