#include <benchmark/benchmark.h>

#include <QImage>
#include <cstdint>
#include <cstring>
#include <vector>

#include "viewer/frame_scaler.h"

namespace {

using namespace orvane;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 4;  // taken in turn, so that a frame is not still in the cache from the last call

// Frames of busy content (a pattern with noise), as the capture thread hands them to the pane.
const std::vector<std::vector<uint8_t>>& Frames() {
    static const std::vector<std::vector<uint8_t>> frames = [] {
        std::vector<std::vector<uint8_t>> all(kFrames, std::vector<uint8_t>(size_t{3} * kWidth * kHeight));
        uint32_t seed = 7;
        for (int f = 0; f < kFrames; ++f) {
            for (size_t i = 0; i < all[f].size(); ++i) {
                seed = seed * 1664525u + 1013904223u;
                all[f][i] = static_cast<uint8_t>((i / 3 % kWidth + f * 40) / 8 + (seed >> 27));
            }
        }
        return all;
    }();
    return frames;
}

// The live pane's picture of a 1080p frame at the pane's size (16:9, the argument is its height).
void PaneScale(benchmark::State& state, bool plain) {
    const int height = static_cast<int>(state.range(0));
    const int width = height * 16 / 9;
    CFrameScaler scaler;
    scaler.UsePlainColumns(plain);
    QImage target;
    int index = 0;
    for (auto _ : state) {
        auto& bits = const_cast<std::vector<uint8_t>&>(Frames()[index++ % kFrames]);
        const VideoFrame frame{bits.data(), static_cast<int32_t>(bits.size()), kWidth, kHeight};
        scaler.Scale(frame, width, height, target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
void BM_PaneScale_1080p(benchmark::State& state) { PaneScale(state, false); }
// Baseline: the same pass with the columns sampled one at a time, without vector instructions.
void BM_PaneScale_1080p_PlainColumns(benchmark::State& state) { PaneScale(state, true); }

// The floor: copying the frame once, as the mailbox did for every whole frame.
void BM_PaneFrameCopy_1080p(benchmark::State& state) {
    std::vector<uint8_t> copy(Frames()[0].size());
    int index = 0;
    for (auto _ : state) {
        std::memcpy(copy.data(), Frames()[index++ % kFrames].data(), copy.size());
        benchmark::DoNotOptimize(copy.data());
    }
}

}  // namespace

BENCHMARK(BM_PaneScale_1080p_PlainColumns)->Arg(720)->Arg(540)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaneScale_1080p)->Arg(720)->Arg(540)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaneFrameCopy_1080p)->Unit(benchmark::kMillisecond);
