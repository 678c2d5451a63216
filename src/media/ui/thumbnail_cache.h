#pragma once

#include <QImage>
#include <QSize>
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

#include "media/ui/thumbnail_maker.h"

namespace orvane {

// The thumbnails the panel has ready to paint, the latest `capacity` of them, by path. Files that give
// no picture are kept too, so that a damaged movie is not made again at every paint. Only what the
// workers delivered is here: looking up never touches the file.
//
// Interface thread only.
class CThumbnailCache {
public:
    struct Entry {
        ThumbnailKind kind = ThumbnailKind::Photo;
        int64_t fitKey = 0;
        FileSignature signature;
        bool picture = false;
        QSize sourceSize;
        QImage image;
    };

    explicit CThumbnailCache(size_t capacity = 512);

    // The entry of `path` (made the most recently used), or null.
    const Entry* Find(const std::string& path);
    void Store(ThumbnailResult result);
    void Clear();
    size_t Size() const { return entries.size(); }

private:
    struct Slot {
        Entry entry;
        std::list<std::string>::iterator age;
    };

    size_t capacity;
    std::list<std::string> ages;  // most recently used first
    std::unordered_map<std::string, Slot> entries;
};

}  // namespace orvane
