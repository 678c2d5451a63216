// Makes the files the end-to-end suites need, so that the scripts carry no binary samples:
//   make_test_media photos <folder> <count> <width> <height>   noisy photos from elsewhere (no Exif
//                                                              thumbnail), S20240131_0001.jpg ...
//   make_test_media hostile <folder> [first number]            the thumbnail bombs of the tests, numbered
//                                                              from 1 or the given number on
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/hostile_media.h"

namespace {

// Distinct pictures; the rest are hard links to them, which the program still reads one by one.
constexpr int kDistinct = 12;

bool Write(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

// A lit reddish disc under sensor noise: noise makes a JPEG expensive to decode, as real microscope
// pictures are.
std::string NoisyJpeg(int width, int height, int seed) {
    std::vector<unsigned char> bgr(3 * static_cast<size_t>(width) * height);
    uint32_t noise = 2166136261u ^ static_cast<uint32_t>(seed * 7919);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double dx = (x - width / 2.0) / height, dy = (y - height / 2.0) / height;
            const double light = std::max(0.15, 1.0 - 1.5 * (dx * dx + dy * dy));
            noise = noise * 1664525u + 1013904223u;
            const int n = static_cast<int>((noise >> 24) % 49) - 24;
            unsigned char* p = &bgr[3 * (static_cast<size_t>(y) * width + x)];
            p[0] = static_cast<unsigned char>(std::clamp(light * (50 + 3 * seed) + n, 0.0, 255.0));
            p[1] = static_cast<unsigned char>(std::clamp(light * 60 + n, 0.0, 255.0));
            p[2] = static_cast<unsigned char>(std::clamp(light * 235 + n, 0.0, 255.0));
        }
    }
    std::unique_ptr<void, int (*)(tjhandle)> encoder(tjInitCompress(), tjDestroy);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (!encoder ||
        tjCompress2(encoder.get(), bgr.data(), width, 0, height, TJPF_BGR, &jpeg, &size, TJSAMP_420, 92, 0) != 0)
        return {};
    std::string bytes(reinterpret_cast<const char*>(jpeg), size);
    tjFree(jpeg);
    return bytes;
}

int Photos(const std::string& folder, int count, int width, int height) {
    for (int i = 1; i <= count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/S20240131_%04d.jpg", i);
        const std::string path = folder + name;
        if (i <= kDistinct) {
            const std::string jpeg = NoisyJpeg(width, height, i);
            if (jpeg.empty() || !Write(path, jpeg)) return 1;
        } else {
            char first[64];
            std::snprintf(first, sizeof first, "/S20240131_%04d.jpg", (i - 1) % kDistinct + 1);
            if (::link((folder + first).c_str(), path.c_str()) != 0) return 1;
        }
    }
    return 0;
}

int Hostile(const std::string& folder, int first) {
    using namespace orvane::test;
    const auto name = [&](int offset, const char* extension) {
        char text[64];
        std::snprintf(text, sizeof text, "/S20240131_%04d.%s", first + offset, extension);
        return folder + text;
    };
    const bool ok = Write(name(0, "jpg"), ProgressiveJpegClaiming(65500, 65500)) &&
                    Write(name(1, "mp4"), Mp4ClaimingSamples(80'000'000)) &&
                    Write(name(2, "avi"), MjpegAvi(16000, 16000, 16000, 16000)) &&
                    MakeSparseFile(name(3, "jpg"), int64_t{1000} << 20);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "photos" && argc == 6) return Photos(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    if (what == "hostile" && (argc == 3 || argc == 4)) return Hostile(argv[2], argc == 4 ? std::atoi(argv[3]) : 1);
    std::fprintf(stderr, "usage: %s photos <folder> <count> <width> <height> | hostile <folder> [first]\n",
                 argv[0]);
    return 2;
}
