#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "dispatch/grabber_owner.h"
#include "dispatch/sample_grabber_cb.h"
#include "imaging/rotate_sample_imp.h"

namespace orvane {
namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

class IdleViewer final : public IGrabberOwner {
public:
    CaptureState& GetCaptureState() override { return state; }
    void PostViewerMessage(uint32_t) override {}
    IResourceWindow* GetResourceWindow() override { return nullptr; }
    CaptureState state;
};

// Baseline: one copy of the frame, what the capture thread pays anyway to hand a frame on.
void BM_FrameCopyForDispatch_1080p(benchmark::State& state) {
    std::vector<uint8_t> src(size_t{3} * kWidth * kHeight, 7), dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FrameCopyForDispatch_1080p);

// A frame with nothing to do: no action running and no rotation queued. It must not touch the pixels.
void BM_BufferCB_Idle_1080p(benchmark::State& state) {
    std::vector<uint8_t> frame(size_t{3} * kWidth * kHeight, 7);
    IdleViewer viewer;
    RotateSampleImp rotation;
    CSampleGrabberCB grabber(0);
    grabber.width = kWidth;
    grabber.height = kHeight;
    grabber.owner = &viewer;
    grabber.SetServices({&rotation, nullptr, nullptr});
    for (auto _ : state) {
        benchmark::DoNotOptimize(grabber.BufferCB(0.0, frame.data(), static_cast<int32_t>(frame.size())));
    }
}
BENCHMARK(BM_BufferCB_Idle_1080p);

}  // namespace
}  // namespace orvane
