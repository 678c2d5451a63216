#pragma once

#include <QImage>
#include <QSize>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "media/ui/desktop_thumbnails.h"

namespace orvane {

enum class ThumbnailKind { Photo, Movie };

// A file's identity, size and times: a thumbnail stays valid while they stay the same.
struct FileSignature {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = -1;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;
    bool operator==(const FileSignature&) const = default;

    // The signature of the file at `path`; false when it is not a regular file.
    static bool Read(const std::string& path, FileSignature& signature);
};

// What the panel asks for one row.
struct ThumbnailRequest {
    // Maps a picture's own size to the size it is drawn at, in device pixels. A pure function: it is
    // called on the workers.
    using FitFunction = std::function<QSize(const QSize& source)>;

    std::string path;
    ThumbnailKind kind = ThumbnailKind::Photo;
    FitFunction fit;
    int64_t fitKey = 0;  // tells fits apart: equal keys, equal fits
    // With a signature: the panel already shows a picture made from the file as it was then; only a
    // changed file is made again, from the file itself.
    bool check = false;
    FileSignature known;

    // Requests for the same row at the same size.
    bool SameWork(const ThumbnailRequest& other) const {
        return path == other.path && kind == other.kind && fitKey == other.fitKey;
    }
};

// What the workers hand back for one file.
struct ThumbnailResult {
    std::string path;
    ThumbnailKind kind = ThumbnailKind::Photo;
    int64_t fitKey = 0;
    FileSignature signature;
    bool picture = false;   // false: the file gives no picture (damaged, refused or gone)
    QSize sourceSize;       // the picture's own size
    QImage image;           // at fit(sourceSize)
    bool fromFile = false;  // made by reading the file, not taken from the desktop's cache
};

// Makes one thumbnail: from the desktop's cache when it holds a valid one, else from the file within
// the limits (the embedded picture of a photo when it is large enough), and says what should be
// stored in the desktop's cache afterwards. Stateless apart from the cache's place: any thread.
class CThumbnailMaker {
public:
    // What to put into the desktop's cache once the picture is shown.
    struct Keep {
        bool any = false;
        bool failure = false;
        CDesktopThumbnails::Original original;
        QImage picture;
        int flavour = 0;
        QSize sourceSize;
    };

    explicit CThumbnailMaker(CDesktopThumbnails cache);

    // The thumbnail for `request`; `cancelled` ends the work early (the result is then not used).
    ThumbnailResult Make(const ThumbnailRequest& request, const std::atomic<bool>& cancelled,
                         Keep& keep) const;
    // Writes what Make asked to keep.
    void Store(const Keep& keep) const;

    const CDesktopThumbnails& Cache() const { return cache; }

    // The time one thumbnail may take.
    static constexpr int kBudgetMs = 2000;

private:
    CDesktopThumbnails cache;
};

}  // namespace orvane
