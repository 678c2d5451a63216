#include <benchmark/benchmark.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>
extern "C" {
#include <libswscale/swscale.h>
}
#include <turbojpeg.h>

#include "capture/frame_converter.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// A camera-like picture: smooth gradients with sensor noise, so that the JPEG is of a realistic size.
std::vector<uint8_t> CameraPictureRgb() {
    std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    std::mt19937 random(1);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* p = &rgb[(static_cast<size_t>(y) * kWidth + x) * 3];
            const int noise = static_cast<int>(random() % 17) - 8;
            p[0] = static_cast<uint8_t>(std::clamp(x * 255 / kWidth + noise, 0, 255));
            p[1] = static_cast<uint8_t>(std::clamp(y * 255 / kHeight + noise, 0, 255));
            p[2] = static_cast<uint8_t>(std::clamp(((x + y) / 8 % 2) * 120 + 60 + noise, 0, 255));
        }
    }
    return rgb;
}

const std::vector<uint8_t>& Jpeg1080p() {
    static const std::vector<uint8_t> jpeg = [] {
        const std::vector<uint8_t> rgb = CameraPictureRgb();
        tjhandle compressor = tjInitCompress();
        unsigned char* data = nullptr;
        unsigned long size = 0;
        tjCompress2(compressor, rgb.data(), kWidth, 0, kHeight, TJPF_RGB, &data, &size, TJSAMP_422, 85, 0);
        std::vector<uint8_t> result(data, data + size);
        tjFree(data);
        tjDestroy(compressor);
        return result;
    }();
    return jpeg;
}

const std::vector<uint8_t>& Yuyv1080p() {
    static const std::vector<uint8_t> yuyv = [] {
        std::vector<uint8_t> frame(static_cast<size_t>(kWidth) * kHeight * 2);
        std::mt19937 random(2);
        for (uint8_t& byte : frame) byte = static_cast<uint8_t>(16 + random() % 220);
        return frame;
    }();
    return yuyv;
}

void BM_TurboJpegDecompress_1080p(benchmark::State& state) {
    const std::vector<uint8_t>& jpeg = Jpeg1080p();
    std::vector<uint8_t> output(static_cast<size_t>(kWidth) * kHeight * 3);
    std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), tjDestroy);
    for (auto _ : state) {
        const int result = tjDecompress2(decoder.get(), jpeg.data(), jpeg.size(), output.data(), kWidth,
                                         kWidth * 3, kHeight, TJPF_BGR, TJFLAG_BOTTOMUP);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(output.size()));
}
BENCHMARK(BM_TurboJpegDecompress_1080p)->Unit(benchmark::kMillisecond);

void BM_ConvertMjpgToBgr_1080p(benchmark::State& state) {
    const std::vector<uint8_t>& jpeg = Jpeg1080p();
    orvane::CFrameConverter converter;
    if (!converter.Configure(V4L2_PIX_FMT_MJPEG, kWidth, kHeight)) {
        state.SkipWithError("Configure failed");
        return;
    }
    std::vector<uint8_t> output(converter.OutputSize());
    for (auto _ : state) {
        const bool converted = converter.Convert(jpeg.data(), jpeg.size(), output.data());
        benchmark::DoNotOptimize(converted);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(output.size()));
}
BENCHMARK(BM_ConvertMjpgToBgr_1080p)->Unit(benchmark::kMillisecond);

void BM_SwscaleYuyvToBgr24_1080p(benchmark::State& state) {
    const std::vector<uint8_t>& yuyv = Yuyv1080p();
    std::vector<uint8_t> output(static_cast<size_t>(kWidth) * kHeight * 3);
    std::unique_ptr<SwsContext, void (*)(SwsContext*)> sws(
        sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUYV422, kWidth, kHeight, AV_PIX_FMT_BGR24, SWS_BILINEAR,
                       nullptr, nullptr, nullptr),
        sws_freeContext);
    const uint8_t* source[4] = {yuyv.data(), nullptr, nullptr, nullptr};
    const int sourceStride[4] = {kWidth * 2, 0, 0, 0};
    uint8_t* target[4] = {output.data() + static_cast<size_t>(kHeight - 1) * kWidth * 3, nullptr, nullptr,
                          nullptr};
    const int targetStride[4] = {-kWidth * 3, 0, 0, 0};
    for (auto _ : state) {
        const int rows = sws_scale(sws.get(), source, sourceStride, 0, kHeight, target, targetStride);
        benchmark::DoNotOptimize(rows);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(output.size()));
}
BENCHMARK(BM_SwscaleYuyvToBgr24_1080p)->Unit(benchmark::kMillisecond);

void BM_ConvertYuyvToBgr_1080p(benchmark::State& state) {
    const std::vector<uint8_t>& yuyv = Yuyv1080p();
    orvane::CFrameConverter converter;
    if (!converter.Configure(V4L2_PIX_FMT_YUYV, kWidth, kHeight)) {
        state.SkipWithError("Configure failed");
        return;
    }
    std::vector<uint8_t> output(converter.OutputSize());
    for (auto _ : state) {
        const bool converted = converter.Convert(yuyv.data(), yuyv.size(), output.data());
        benchmark::DoNotOptimize(converted);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(output.size()));
}
BENCHMARK(BM_ConvertYuyvToBgr_1080p)->Unit(benchmark::kMillisecond);

// A frame only shown, for a pane of the given width (and the frame's shape): read against the whole
// conversions above.
void ConvertForView(benchmark::State& state, uint32_t format, const std::vector<uint8_t>& frame) {
    orvane::CFrameConverter converter;
    if (!converter.Configure(format, kWidth, kHeight)) {
        state.SkipWithError("Configure failed");
        return;
    }
    const int viewWidth = static_cast<int>(state.range(0));
    const int viewHeight = viewWidth * kHeight / kWidth;
    std::vector<uint8_t> output;
    int w = 0, h = 0;
    for (auto _ : state) {
        const bool converted = converter.ConvertForView(frame.data(), frame.size(), viewWidth, viewHeight, output, w, h);
        benchmark::DoNotOptimize(converted);
        benchmark::ClobberMemory();
    }
    state.counters["width"] = w;
}
void BM_ConvertMjpgForView_1080p(benchmark::State& state) { ConvertForView(state, V4L2_PIX_FMT_MJPEG, Jpeg1080p()); }
BENCHMARK(BM_ConvertMjpgForView_1080p)->Arg(960)->Arg(480)->Arg(240)->Unit(benchmark::kMillisecond);
void BM_ConvertYuyvForView_1080p(benchmark::State& state) { ConvertForView(state, V4L2_PIX_FMT_YUYV, Yuyv1080p()); }
BENCHMARK(BM_ConvertYuyvForView_1080p)->Arg(960)->Arg(480)->Unit(benchmark::kMillisecond);

}  // namespace
