#include "imaging/iso_media_check.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace orvane {

namespace {

constexpr int kMaxDepth = 10;
constexpr int kMaxBoxes = 20000;
constexpr int kMaxTracks = 32;
constexpr uint32_t kMaxEdits = 256;
// The reader opens the fragments of a fragmented file one by one as it reads packets; a thumbnail needs
// only the first few, so only those are looked at.
constexpr int kMaxFragments = 64;
// A sample-to-chunk table longer than this is not what any recorder writes.
constexpr uint64_t kMaxStscBytes = 4u << 20;

constexpr uint32_t Fourcc(const char (&code)[5]) {
    return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
           (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}

uint32_t Be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint64_t Be64(const uint8_t* p) { return (uint64_t(Be32(p)) << 32) | Be32(p + 4); }

bool ReadAt(int fd, uint64_t at, void* buffer, size_t count) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, bytes + done, count - done, static_cast<off_t>(at + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

bool IsContainer(uint32_t type) {
    switch (type) {
        case Fourcc("moov"):
        case Fourcc("trak"):
        case Fourcc("mdia"):
        case Fourcc("minf"):
        case Fourcc("stbl"):
        case Fourcc("edts"):
        case Fourcc("moof"):
        case Fourcc("traf"):
        case Fourcc("mvex"):
            return true;
        default:
            return false;
    }
}

// What one track's tables claim.
struct Track {
    uint64_t samples = 0;       // from the sample-size table
    uint64_t chunks = 0;        // from the chunk-offset table
    std::vector<uint8_t> stsc;  // the sample-to-chunk entries (12 bytes each)
};

class Walker {
public:
    Walker(int fd_, uint64_t maxSamples_) : fd(fd_), maxSamples(maxSamples_) {}

    bool Walk(uint64_t begin, uint64_t end, int depth) {
        if (depth > kMaxDepth) return false;
        uint64_t at = begin;
        while (at < end) {
            if (end - at < 8) return true;  // a few bytes of padding at the end
            if (++boxes > kMaxBoxes) return false;
            uint8_t head[16];
            if (!ReadAt(fd, at, head, 8)) return false;
            uint64_t size = Be32(head);
            const uint32_t type = Be32(head + 4);
            uint64_t headerSize = 8;
            if (size == 1) {
                if (end - at < 16 || !ReadAt(fd, at + 8, head + 8, 8)) return false;
                size = Be64(head + 8);
                headerSize = 16;
            } else if (size == 0) {
                size = end - at;
            }
            if (size < headerSize) return false;
            // A file cut short (a recording that was still being written) is read as far as it goes.
            size = std::min(size, end - at);
            const uint64_t payload = at + headerSize;
            const uint64_t payloadSize = size - headerSize;
            if (type == Fourcc("moof") && ++fragments > kMaxFragments) return true;
            if (type == Fourcc("trak")) {
                if (++tracks > kMaxTracks) return false;
                Track track;
                std::swap(track, current);
                const bool ok = Walk(payload, payload + payloadSize, depth + 1) && FinishTrack();
                std::swap(track, current);
                if (!ok) return false;
            } else if (IsContainer(type)) {
                if (!Walk(payload, payload + payloadSize, depth + 1)) return false;
            } else if (!Leaf(type, payload, payloadSize)) {
                return false;
            }
            at += size;
        }
        return true;
    }

private:
    bool Claim(uint64_t samples) {
        total += samples;
        return samples <= maxSamples && total <= maxSamples;
    }

    bool Leaf(uint32_t type, uint64_t payload, uint64_t size) {
        uint8_t head[12];
        switch (type) {
            case Fourcc("stsz"): {
                if (size < 12 || !ReadAt(fd, payload, head, 12)) return false;
                const uint32_t sampleSize = Be32(head + 4), count = Be32(head + 8);
                if (sampleSize == 0 && uint64_t{count} * 4 > size - 12) return false;
                current.samples = count;
                return Claim(count);
            }
            case Fourcc("stz2"): {
                if (size < 12 || !ReadAt(fd, payload, head, 12)) return false;
                const uint32_t fieldBits = head[7], count = Be32(head + 8);
                if ((uint64_t{count} * fieldBits + 7) / 8 > size - 12) return false;
                current.samples = count;
                return Claim(count);
            }
            case Fourcc("stco"):
            case Fourcc("co64"): {
                if (size < 8 || !ReadAt(fd, payload, head, 8)) return false;
                const uint64_t count = Be32(head + 4);
                if (count * (type == Fourcc("stco") ? 4 : 8) > size - 8) return false;
                current.chunks = count;
                return true;
            }
            case Fourcc("stsc"): {
                if (size < 8 || !ReadAt(fd, payload, head, 8)) return false;
                const uint64_t count = Be32(head + 4);
                if (count * 12 > size - 8 || count * 12 > kMaxStscBytes) return false;
                current.stsc.resize(static_cast<size_t>(count * 12));
                return count == 0 || ReadAt(fd, payload + 8, current.stsc.data(), current.stsc.size());
            }
            case Fourcc("elst"): {
                if (size < 8 || !ReadAt(fd, payload, head, 8)) return false;
                const uint64_t count = Be32(head + 4);
                return count <= kMaxEdits && count * (head[0] == 1 ? 20 : 12) <= size - 8;
            }
            case Fourcc("trun"): {
                if (size < 8 || !ReadAt(fd, payload, head, 8)) return false;
                const uint32_t flags = Be32(head) & 0xFFFFFF, count = Be32(head + 4);
                uint64_t fixed = 0, perSample = 0;
                if (flags & 0x001) fixed += 4;  // data offset
                if (flags & 0x004) fixed += 4;  // first sample's flags
                for (uint32_t bit = 0x100; bit <= 0x800; bit <<= 1)
                    if (flags & bit) perSample += 4;
                if (fixed > size - 8 || uint64_t{count} * perSample > size - 8 - fixed) return false;
                return Claim(count);
            }
            default:
                return true;
        }
    }

    // The sample-to-chunk runs give as many samples as they say, whatever the size table claims: the
    // reader of uncompressed audio indexes them all.
    bool FinishTrack() {
        const size_t entries = current.stsc.size() / 12;
        uint64_t expanded = 0;
        for (size_t i = 0; i < entries; ++i) {
            const uint8_t* entry = current.stsc.data() + i * 12;
            const uint64_t first = Be32(entry), perChunk = Be32(entry + 4);
            const uint64_t next = i + 1 < entries ? Be32(entry + 12) : current.chunks + 1;
            const uint64_t chunks = next > first ? next - first : 0;
            if (perChunk > maxSamples || chunks > maxSamples) return false;
            expanded += chunks * perChunk;
            if (expanded > maxSamples) return false;
        }
        return true;
    }

    int fd;
    uint64_t maxSamples;
    uint64_t total = 0;
    int boxes = 0;
    int tracks = 0;
    int fragments = 0;
    Track current;
};

bool LooksLikeIsoMedia(int fd) {
    uint8_t head[8];
    if (!ReadAt(fd, 0, head, sizeof head)) return false;
    switch (Be32(head + 4)) {
        case Fourcc("ftyp"):
        case Fourcc("moov"):
        case Fourcc("mdat"):
        case Fourcc("free"):
        case Fourcc("skip"):
        case Fourcc("wide"):
        case Fourcc("styp"):
        case Fourcc("moof"):
        case Fourcc("pnot"):
            return true;
        default:
            return false;
    }
}

}  // namespace

bool IsoMediaWithinLimits(int fd, int64_t fileSize, uint64_t maxSamples) {
    if (fd < 0 || fileSize <= 0 || !LooksLikeIsoMedia(fd)) return true;
    Walker walker(fd, maxSamples);
    return walker.Walk(0, static_cast<uint64_t>(fileSize), 0);
}

}  // namespace orvane
