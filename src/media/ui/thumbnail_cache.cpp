#include "media/ui/thumbnail_cache.h"

namespace orvane {

CThumbnailCache::CThumbnailCache(size_t capacity_) : capacity(capacity_ == 0 ? 1 : capacity_) {}

const CThumbnailCache::Entry* CThumbnailCache::Find(const std::string& path) {
    const auto found = entries.find(path);
    if (found == entries.end()) return nullptr;
    ages.splice(ages.begin(), ages, found->second.age);
    return &found->second.entry;
}

void CThumbnailCache::Store(ThumbnailResult result) {
    if (const auto found = entries.find(result.path); found != entries.end()) {
        ages.erase(found->second.age);
        entries.erase(found);
    }
    while (entries.size() >= capacity && !ages.empty()) {
        entries.erase(ages.back());
        ages.pop_back();
    }
    Entry entry;
    entry.kind = result.kind;
    entry.fitKey = result.fitKey;
    entry.signature = result.signature;
    entry.picture = result.picture;
    entry.sourceSize = result.sourceSize;
    entry.image = std::move(result.image);
    ages.push_front(result.path);
    entries.emplace(std::move(result.path), Slot{std::move(entry), ages.begin()});
}

void CThumbnailCache::Clear() {
    entries.clear();
    ages.clear();
}

}  // namespace orvane
