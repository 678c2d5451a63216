#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "dispatch/photo_saver.h"
#include "imaging/photo_writer.h"
#include "imaging/rotate_sample_imp.h"
#include "imaging/scale_calibration.h"
#include "media/saving_loaction_manage.h"

namespace {

using namespace orvane;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// Something like a microscope picture: a lit disc with soft falloff, stained round cells with
// darker rims, and a little sensor noise, so the encoder sees the usual mix of flat and busy blocks.
const std::vector<uint8_t>& Picture1080p() {
    static const std::vector<uint8_t> picture = [] {
        std::vector<uint8_t> bits(3 * size_t(kWidth) * kHeight);
        uint32_t seed = 2024;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const double dx = (x - kWidth / 2.0) / kHeight, dy = (y - kHeight / 2.0) / kHeight;
                double light = std::max(0.0, 1.0 - 1.6 * (dx * dx + dy * dy));
                const double cx = std::fmod(x + 37.0 * std::sin(y / 90.0), 160.0) - 80.0;
                const double cy = std::fmod(y + 23.0 * std::cos(x / 70.0), 140.0) - 70.0;
                const double r = std::sqrt(cx * cx + cy * cy);
                const double cell = r < 45 ? 0.55 : (r < 52 ? 0.25 : 1.0);
                seed = seed * 1664525u + 1013904223u;
                const double noise = int(seed >> 29) - 4;
                uint8_t* p = &bits[3 * (size_t(y) * kWidth + x)];
                p[0] = uint8_t(std::clamp(light * 230 * (cell < 1 ? 0.9 : 1.0) + noise, 0.0, 255.0));
                p[1] = uint8_t(std::clamp(light * 210 * cell + noise, 0.0, 255.0));
                p[2] = uint8_t(std::clamp(light * 240 * (cell < 1 ? 1.0 : 0.95) + noise, 0.0, 255.0));
            }
        }
        return bits;
    }();
    return picture;
}

// A temporary folder for the files the benchmarks write, removed again afterwards.
class TempFolder {
public:
    TempFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/orvane-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
    const std::string& Path() const { return path; }

private:
    std::string path;
};

void BM_FrameCopy_1080p(benchmark::State& state) {
    const std::vector<uint8_t>& source = Picture1080p();
    std::vector<uint8_t> frame(source.size());
    for (auto _ : state) {
        std::memcpy(frame.data(), source.data(), source.size());
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(source.size()));
}
BENCHMARK(BM_FrameCopy_1080p);

void RotateBenchmark(benchmark::State& state, RotateOp op) {
    std::vector<uint8_t> frame = Picture1080p();
    RotateSampleImp rotation;
    rotation.AddOperation(op);
    for (auto _ : state) {
        rotation.RotateFrame(frame.data(), kWidth, kHeight);
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.size()));
}

void BM_FlipHorizontal_1080p(benchmark::State& state) { RotateBenchmark(state, RotateOp::FlipHorizontal); }
BENCHMARK(BM_FlipHorizontal_1080p);

void BM_RotateRight90_1080p(benchmark::State& state) { RotateBenchmark(state, RotateOp::RotateRight90); }
BENCHMARK(BM_RotateRight90_1080p);

// The encoder alone, with the writer's settings, into a buffer made once: what any photo writer
// must spend.
void BM_TurboJpegCompress_1080p(benchmark::State& state) {
    const std::vector<uint8_t>& frame = Picture1080p();
    std::unique_ptr<void, int (*)(tjhandle)> encoder(tjInitCompress(), tjDestroy);
    unsigned long capacity = tjBufSize(kWidth, kHeight, TJSAMP_444);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> jpeg(tjAlloc(int(capacity)), tjFree);
    for (auto _ : state) {
        unsigned char* out = jpeg.get();
        unsigned long size = capacity;
        if (tjCompress2(encoder.get(), frame.data(), kWidth, 3 * kWidth, kHeight, TJPF_BGR, &out, &size,
                        TJSAMP_444, 100, TJFLAG_BOTTOMUP | TJFLAG_ACCURATEDCT | TJFLAG_NOREALLOC) != 0) {
            state.SkipWithError(tjGetErrorStr2(encoder.get()));
            break;
        }
        benchmark::DoNotOptimize(size);
    }
}
BENCHMARK(BM_TurboJpegCompress_1080p)->Unit(benchmark::kMillisecond);

// The whole writer: settings read, encode, and the file written under a new name, as the program
// writes every photo (the files are cleared away every so often, outside the timing).
void BM_SaveFrame_1080p(benchmark::State& state) {
    const std::vector<uint8_t>& frame = Picture1080p();
    TempFolder folder;
    CRegistryHive hive(folder.Path() + "/settings.conf", CRegistryHive::DefaultFactoryFile());
    CSettingParamManage settings(&hive);
    settings.SetCaptureResolution({kWidth, kHeight, 0, false});
    const std::string photos = folder.Path() + "/Single Shots";
    std::filesystem::create_directory(photos);
    int64_t number = 0;
    uintmax_t jpegBytes = 0;
    for (auto _ : state) {
        const std::string path = photos + "/S20240131_" + std::to_string(++number) + ".jpg";
        if (!SaveFrame(path, frame.data(), int32_t(frame.size()), kWidth, kHeight, &settings)) {
            state.SkipWithError("SaveFrame failed");
            break;
        }
        if (number % 16 == 0) {
            state.PauseTiming();
            std::error_code ec;
            jpegBytes = std::filesystem::file_size(path, ec);
            for (const auto& entry : std::filesystem::directory_iterator(photos, ec))
                std::filesystem::remove(entry.path(), ec);
            state.ResumeTiming();
        }
    }
    state.counters["jpeg_bytes"] = double(jpegBytes);
}
BENCHMARK(BM_SaveFrame_1080p)->Unit(benchmark::kMillisecond);

// What taking a photo costs the capture thread now: the frame is copied to the photo saver, which
// encodes and writes it on its own thread (set against BM_SaveFrame_1080p, which the frame callback
// used to pay). The saver finishes each photo outside the timing.
void BM_PhotoHandOver_1080p(benchmark::State& state) {
    const std::vector<uint8_t>& frame = Picture1080p();
    TempFolder folder;
    CRegistryHive hive(folder.Path() + "/settings.conf", CRegistryHive::DefaultFactoryFile());
    CSettingParamManage settings(&hive);
    CSettingParam param = settings.GetUsingParam();
    param.SetResourcesPath(folder.Path());
    param.autocreatingfolder = 0;
    param.captureresolution = {kWidth, kHeight, 0, false};
    settings.SetUsingParam(param);
    CSavingLoactionManage locations(&settings);
    locations.CreateResourceFolders();
    CPhotoSaver saver(PhotoSaverServices{&settings, &locations, nullptr});
    saver.Start(nullptr);
    int64_t number = 0;
    for (auto _ : state) {
        if (!saver.EnqueueSinglePhoto(frame.data(), kWidth, kHeight, false)) {
            state.SkipWithError("the saver took no photo");
            break;
        }
        state.PauseTiming();
        saver.WaitIdle();
        if (++number % 16 == 0) {
            std::error_code ec;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.Path(), ec))
                if (entry.is_regular_file(ec) && entry.path().extension() == ".jpg")
                    std::filesystem::remove(entry.path(), ec);
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PhotoHandOver_1080p)->Unit(benchmark::kMillisecond);

// Encoding a photo in memory: plainly (the baseline), with the calibrated resolution fields, and
// with the scale bar burned in as well (a copy of the frame and a few rectangles).
void EncodePhotoBenchmark(benchmark::State& state, const PhotoScale& scale) {
    const std::vector<uint8_t>& frame = Picture1080p();
    std::vector<unsigned char> jpeg;
    std::string reason;
    for (auto _ : state) {
        if (EncodePhoto(frame.data(), kWidth, kHeight, kWidth, kHeight, jpeg, reason, scale) != S_OK) {
            state.SkipWithError("EncodePhoto failed");
            break;
        }
        benchmark::DoNotOptimize(jpeg.data());
    }
}
void BM_EncodePhoto_1080p(benchmark::State& state) { EncodePhotoBenchmark(state, {}); }
BENCHMARK(BM_EncodePhoto_1080p)->Unit(benchmark::kMillisecond);
void BM_EncodePhoto_1080p_Calibrated(benchmark::State& state) {
    EncodePhotoBenchmark(state, {0.37e-6, LengthUnit::Micrometre, false});
}
BENCHMARK(BM_EncodePhoto_1080p_Calibrated)->Unit(benchmark::kMillisecond);
void BM_EncodePhoto_1080p_ScaleBar(benchmark::State& state) {
    EncodePhotoBenchmark(state, {0.37e-6, LengthUnit::Micrometre, true});
}
BENCHMARK(BM_EncodePhoto_1080p_ScaleBar)->Unit(benchmark::kMillisecond);

// Burning the bar into a recorded frame: the copy the recording gets, and the bar drawn on it.
void BM_ScaleBarOnRecordedFrame_1080p(benchmark::State& state) {
    const std::vector<uint8_t>& frame = Picture1080p();
    std::vector<uint8_t> marked(frame.size());
    for (auto _ : state) {
        std::memcpy(marked.data(), frame.data(), frame.size());
        DrawScaleBar(marked.data(), kWidth, kHeight, ChooseScaleBar(0.37e-6, kWidth, LengthUnit::Micrometre));
        benchmark::DoNotOptimize(marked.data());
    }
}
BENCHMARK(BM_ScaleBarOnRecordedFrame_1080p)->Unit(benchmark::kMicrosecond);

}  // namespace
