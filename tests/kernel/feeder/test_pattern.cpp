#include "test_pattern.h"

#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace orvane::rig {
namespace {

struct TurboJpegDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TurboJpeg = std::unique_ptr<void, TurboJpegDeleter>;

struct JpegBufferDeleter {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

TestPattern::Colour At(int width, int height, int phase, int x, int y) {
    const int side = height / 8;
    if (x < side && y < side) return TestPattern::kMarker;
    const int barWidth = std::max(1, width / 16);
    const int travel = width * 3 / 4 - barWidth;
    const int barX = width / 4 + travel * (phase % TestPattern::kPhases) / (TestPattern::kPhases - 1);
    if (x >= barX && x < barX + barWidth) return TestPattern::kBar;
    return y < height / 2 ? TestPattern::kTop : TestPattern::kBottom;
}

uint8_t Clamp(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

}  // namespace

std::vector<uint8_t> TestPattern::Rgb(int width, int height, int phase) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    uint8_t* p = rgb.data();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Colour c = At(width, height, phase, x, y);
            *p++ = c.red;
            *p++ = c.green;
            *p++ = c.blue;
        }
    }
    return rgb;
}

std::vector<uint8_t> TestPattern::Yuyv(int width, int height, int phase) {
    std::vector<uint8_t> yuyv(static_cast<size_t>(width) * height * 2);
    uint8_t* p = yuyv.data();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; x += 2) {
            const Colour a = At(width, height, phase, x, y);
            const Colour b = At(width, height, phase, x + 1, y);
            auto luma = [](const Colour& c) { return Clamp((66 * c.red + 129 * c.green + 25 * c.blue + 128) / 256 + 16); };
            const int r = (a.red + b.red) / 2, g = (a.green + b.green) / 2, bl = (a.blue + b.blue) / 2;
            *p++ = luma(a);
            *p++ = Clamp((-38 * r - 74 * g + 112 * bl + 128) / 256 + 128);
            *p++ = luma(b);
            *p++ = Clamp((112 * r - 94 * g - 18 * bl + 128) / 256 + 128);
        }
    }
    return yuyv;
}

std::vector<uint8_t> TestPattern::Jpeg(int width, int height, int phase) {
    TurboJpeg compressor(tjInitCompress());
    if (!compressor) return {};
    const std::vector<uint8_t> rgb = Rgb(width, height, phase);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int result = tjCompress2(compressor.get(), rgb.data(), width, 0, height, TJPF_RGB, &out, &size,
                                   TJSAMP_422, 90, TJFLAG_FASTDCT);
    std::unique_ptr<unsigned char, JpegBufferDeleter> owned(out);
    if (result != 0) return {};
    return std::vector<uint8_t>(out, out + size);
}

std::vector<uint8_t> TestPattern::CachedJpeg(const std::string& folder, int width, int height, int phase) {
    char name[64];
    std::snprintf(name, sizeof name, "/pattern-%dx%d-%d.jpg", width, height, phase);
    const std::string path = folder + name;
    {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::vector<uint8_t> jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (!jpeg.empty()) return jpeg;
        }
    }
    std::vector<uint8_t> jpeg = Jpeg(width, height, phase);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    // Written under a name of its own first: a feeder starting at the same time never reads half a file.
    const std::string partial = path + "." + std::to_string(getpid());
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
    }
    std::filesystem::rename(partial, path, error);
    return jpeg;
}

}  // namespace orvane::rig
