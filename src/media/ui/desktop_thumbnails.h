#pragma once

#include <QImage>
#include <QSize>
#include <cstdint>
#include <functional>
#include <string>

namespace orvane {

// The desktop's shared thumbnail cache, as file managers keep it: $XDG_CACHE_HOME/thumbnails (or
// ~/.cache/thumbnails) with normal/, large/, x-large/ and xx-large/ for pictures of at most 128, 256,
// 512 and 1024 pixels a side, each a PNG named after the MD5 of the original's file URI and carrying
// Thumb::URI and Thumb::MTime; fail/orvane-<version>/ records files we could not make one for.
// Thumbnails the desktop made are used as long as they match the file; ours are written for the file
// manager and for our next start, atomically (no reader ever sees half a file).
//
// Holds no mutable state: every operation may run on any thread at the same time.
class CDesktopThumbnails {
public:
    // The original file as the cache knows it.
    struct Original {
        std::string path;   // absolute
        std::string uri;    // FileUri(path)
        int64_t mtime = 0;  // whole seconds, as stat gives them
        int64_t size = 0;
        std::string mimeType;
    };
    // A thumbnail found in the cache.
    struct Found {
        QImage image;      // null when none was found
        QSize sourceSize;  // the original picture's size where the thumbnail says it, else its own
        int flavour = 0;   // 128, 256, 512 or 1024
    };

    // `root` empty: the user's cache folder. `failFolder`: this program's folder under fail/.
    explicit CDesktopThumbnails(std::string root = {}, std::string failFolder = "orvane-" ORVANE_VERSION);

    const std::string& Root() const { return root; }
    // $XDG_CACHE_HOME/thumbnails when that variable is set and not empty, else $HOME/.cache/thumbnails.
    static std::string DefaultRoot();
    // The canonical file URI of an absolute path: "file://" and the path with every byte outside
    // letters, digits and !$&'()*+,-./:=@_~ written as %XX.
    static std::string FileUri(const std::string& path);
    static std::string Md5Hex(const std::string& text);
    // The smallest size class whose pictures are no less than 9/10 of `target` on its longer side.
    static int FlavourFor(const QSize& target);
    // A picture of `source` fitted into a flavour x flavour square, never larger than itself.
    static QSize FlavourSize(const QSize& source, int flavour);

    // Describes the file at `path` for the cache; false when it is not a readable regular file.
    bool Describe(const std::string& path, Original& original) const;
    // Whether `path` lies inside the cache itself (such files are never thumbnailed).
    bool Contains(const std::string& path) const;

    std::string ThumbnailPath(const std::string& uri, int flavour) const;
    std::string FailurePath(const std::string& uri) const;

    // The first valid thumbnail of `original` in the size classes from `flavour` up whose picture is
    // at least `atLeast` in both directions (after fitting `atLeast`'s aspect), for a picture that fits
    // `fit`. Pictures are checked before they are read: files above 4 MB or pictures above 1024 x 1024
    // are not taken. A thumbnail of another URI, modification time or file size is not valid.
    Found Find(const Original& original, int flavour, const std::function<QSize(const QSize&)>& fit,
               double atLeast) const;
    // Whether we recorded that no thumbnail can be made of the file as it is now.
    bool HasFailure(const Original& original) const;

    // Writes `picture`, scaled down smoothly to fit the flavour when it is larger, as the thumbnail of
    // `original`. `sourceSize` goes into Thumb::Image::Width and Height (photos). False when it could
    // not be written.
    bool Store(const Original& original, const QImage& picture, int flavour, const QSize& sourceSize) const;
    // Records that no thumbnail can be made of the file as it is now.
    bool StoreFailure(const Original& original) const;

private:
    bool Matches(const QImage& image, const Original& original) const;
    bool WritePng(const std::string& folder, const std::string& path, const QImage& image) const;

    std::string root;
    std::string failFolder;
};

}  // namespace orvane
