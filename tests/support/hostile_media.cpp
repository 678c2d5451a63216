#include "support/hostile_media.h"

#include <fcntl.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace orvane::test {

namespace {

std::string Be16(uint32_t v) { return {char(v >> 8), char(v)}; }
std::string Be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string Le16(uint32_t v) { return {char(v), char(v >> 8)}; }
std::string Le32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string Zeros(size_t n) { return std::string(n, '\0'); }

std::string Box(const char* type, const std::string& payload) {
    return Be32(static_cast<uint32_t>(8 + payload.size())) + type + payload;
}
std::string FullBox(const char* type, uint32_t versionAndFlags, const std::string& payload) {
    return Box(type, Be32(versionAndFlags) + payload);
}
std::string Chunk(const char* id, const std::string& data) {
    std::string chunk = id + Le32(static_cast<uint32_t>(data.size())) + data;
    if (data.size() % 2 != 0) chunk += '\0';
    return chunk;
}
std::string List(const char* type, const std::string& data) { return Chunk("LIST", type + data); }

// A JPEG of a w x h picture with a soft gradient, compressed by TurboJPEG.
std::string SmallJpeg(int w, int h, int flags) {
    std::vector<unsigned char> bgr(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &bgr[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = static_cast<unsigned char>(40 + 3 * x);
            p[1] = static_cast<unsigned char>(60 + 2 * y);
            p[2] = 200;
        }
    std::unique_ptr<void, int (*)(tjhandle)> encoder(tjInitCompress(), tjDestroy);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (!encoder ||
        tjCompress2(encoder.get(), bgr.data(), w, 0, h, TJPF_BGR, &jpeg, &size, TJSAMP_420, 90, flags) != 0)
        return {};
    std::string bytes(reinterpret_cast<const char*>(jpeg), size);
    tjFree(jpeg);
    return bytes;
}

// Rewrites the size in the frame header (SOF0 / SOF2) of the JPEG.
void ClaimSize(std::string& jpeg, int width, int height) {
    for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
        const auto marker = static_cast<unsigned char>(jpeg[i + 1]);
        if (static_cast<unsigned char>(jpeg[i]) == 0xFF && (marker == 0xC0 || marker == 0xC2)) {
            jpeg.replace(i + 5, 2, Be16(static_cast<uint32_t>(height)));
            jpeg.replace(i + 7, 2, Be16(static_cast<uint32_t>(width)));
            return;
        }
    }
}

}  // namespace

std::string ProgressiveJpegClaiming(int width, int height) {
    std::string jpeg = SmallJpeg(64, 64, TJFLAG_PROGRESSIVE);
    ClaimSize(jpeg, width, height);
    return jpeg;
}

std::string JpegWithExtraScans(int scans) {
    std::string jpeg = SmallJpeg(32, 32, TJFLAG_PROGRESSIVE);
    // The last scan runs from the last start-of-scan marker up to the end-of-image marker.
    const size_t last = jpeg.rfind("\xFF\xDA");
    const size_t end = jpeg.size() - 2;
    if (last == std::string::npos || last >= end) return jpeg;
    const std::string scan = jpeg.substr(last, end - last);
    std::string extra;
    for (int i = 0; i < scans; ++i) extra += scan;
    jpeg.insert(end, extra);
    return jpeg;
}

std::string Mp4ClaimingSamples(uint32_t samples) {
    const int w = 64, h = 48;
    const std::string matrix = Be32(0x10000) + Be32(0) + Be32(0) + Be32(0) + Be32(0x10000) + Be32(0) +
                               Be32(0) + Be32(0) + Be32(0x40000000);
    const std::string ftyp = Box("ftyp", std::string("isom") + Be32(512) + "isomiso2mp41");
    const std::string mvhd = FullBox("mvhd", 0,
                                     Be32(0) + Be32(0) + Be32(1000) + Be32(1000) + Be32(0x10000) +
                                         Be16(0x100) + Zeros(10) + matrix + Zeros(24) + Be32(2));
    const std::string tkhd =
        FullBox("tkhd", 3,
                Be32(0) + Be32(0) + Be32(1) + Be32(0) + Be32(1000) + Zeros(8) + Zeros(8) + matrix +
                    Be32(static_cast<uint32_t>(w) << 16) + Be32(static_cast<uint32_t>(h) << 16));
    const std::string mdhd =
        FullBox("mdhd", 0, Be32(0) + Be32(0) + Be32(25) + Be32(samples) + Be16(0x55c4) + Be16(0));
    const std::string hdlr = FullBox("hdlr", 0, Be32(0) + "vide" + Zeros(12) + std::string("V\0", 2));
    const std::string vmhd = FullBox("vmhd", 1, Zeros(8));
    const std::string dinf = Box("dinf", FullBox("dref", 0, Be32(1) + FullBox("url ", 1, "")));
    const std::string entry = Zeros(6) + Be16(1) + Zeros(16) + Be16(w) + Be16(h) + Be32(0x480000) +
                              Be32(0x480000) + Be32(0) + Be16(1) + Zeros(32) + Be16(24) + Be16(0xFFFF);
    const std::string stsd = FullBox("stsd", 0, Be32(1) + Box("mp4v", entry));
    const std::string stts = FullBox("stts", 0, Be32(1) + Be32(samples) + Be32(1));
    const std::string stsc = FullBox("stsc", 0, Be32(1) + Be32(1) + Be32(samples) + Be32(1));
    const std::string stsz = FullBox("stsz", 0, Be32(1) + Be32(samples));  // every sample one byte
    const std::string mdatPayload = std::string("\0\0\1\xb6", 4) + std::string(64, '\x10');
    const auto build = [&](uint32_t chunkOffset) {
        const std::string stbl =
            Box("stbl", stsd + stts + stsc + stsz + FullBox("stco", 0, Be32(1) + Be32(chunkOffset)));
        const std::string trak =
            Box("trak", tkhd + Box("mdia", mdhd + hdlr + Box("minf", vmhd + dinf + stbl)));
        return ftyp + Box("moov", mvhd + trak);
    };
    const std::string head = build(0);
    return build(static_cast<uint32_t>(head.size() + 8)) + Box("mdat", mdatPayload);
}

std::string MjpegAvi(int headerWidth, int headerHeight, int frameWidth, int frameHeight) {
    std::string frame = SmallJpeg(16, 16, 0);
    ClaimSize(frame, frameWidth, frameHeight);
    const auto w = static_cast<uint32_t>(headerWidth);
    const auto h = static_cast<uint32_t>(headerHeight);
    const std::string avih = Chunk("avih", Le32(40000) + Le32(0) + Le32(0) + Le32(0x10) + Le32(1) + Le32(0) +
                                               Le32(1) + Le32(0) + Le32(w) + Le32(h) + Zeros(16));
    const std::string strh =
        Chunk("strh", std::string("vidsMJPG") + Le32(0) + Le16(0) + Le16(0) + Le32(0) + Le32(1) + Le32(25) +
                          Le32(0) + Le32(1) + Le32(0) + Le32(0xFFFFFFFF) + Le32(0) + Le16(0) + Le16(0) +
                          Le16(static_cast<uint16_t>(w)) + Le16(static_cast<uint16_t>(h)));
    const std::string strf = Chunk(
        "strf", Le32(40) + Le32(w) + Le32(h) + Le16(1) + Le16(24) + "MJPG" + Le32(w * h * 3) + Zeros(16));
    const std::string hdrl = List("hdrl", avih + List("strl", strh + strf));
    const std::string movi = List("movi", Chunk("00dc", frame));
    const std::string idx1 =
        Chunk("idx1", std::string("00dc") + Le32(0x10) + Le32(4) + Le32(static_cast<uint32_t>(frame.size())));
    const std::string body = std::string("AVI ") + hdrl + movi + idx1;
    return "RIFF" + Le32(static_cast<uint32_t>(body.size())) + body;
}

bool MakeSparseFile(const std::string& path, int64_t bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = ::ftruncate(fd, bytes) == 0;
    return ::close(fd) == 0 && ok;
}

}  // namespace orvane::test
