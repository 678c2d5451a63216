#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <libyuv/convert.h>

#include "base/clock.h"
#include "recording/ffmpeg_avi_output.h"
#include "recording/ffmpeg_output.h"

namespace orvane {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;
constexpr int kFrames = 300;
constexpr int kDistinctFrames = 10;

// A camera-like scene: smooth gradients and a soft wave drifting across the picture.
const std::vector<std::vector<uint8_t>>& Frames() {
    static const std::vector<std::vector<uint8_t>> frames = [] {
        std::vector<std::vector<uint8_t>> made(kDistinctFrames);
        for (int k = 0; k < kDistinctFrames; ++k) {
            made[k].resize(static_cast<size_t>(kWidth) * kHeight * 3);
            uint8_t* pixel = made[k].data();
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x, pixel += 3) {
                    const double wave = 40.0 * std::sin((x + 12 * k) / 37.0) * std::cos((y - 6 * k) / 23.0);
                    pixel[0] = static_cast<uint8_t>((x / 8 + 3 * k) & 0xFF);
                    pixel[1] = static_cast<uint8_t>(std::clamp(128.0 + wave, 0.0, 255.0));
                    pixel[2] = static_cast<uint8_t>(((x + y) / 12 + 5 * k) & 0xFF);
                }
        }
        return made;
    }();
    return frames;
}

class BenchClock final : public IClock {
public:
    BenchClock() { SetClock(this); }
    ~BenchClock() override { SetClock(nullptr); }
    int64_t NowMs() override { return now.load(); }
    LocalDate Today() override { return {}; }
    std::atomic<int64_t> now{1706659200000};
};

// The real output with its worker's progress counted, so that the feeder can wait for room in the
// queue instead of losing frames to it.
template <class Output>
class CountedOutput final : public Output {
public:
    ~CountedOutput() override { this->Close(); }
    void WaitForRoom(uint64_t accepted) {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return accepted - encoded < FFMPEGOutputBase::kMaxWaitingFrames; });
    }
    uint64_t Encoded() {
        std::lock_guard<std::mutex> guard(lock);
        return encoded;
    }

protected:
    void EncodeFrame(int64_t pts, AVFrame& picture) override {
        Output::EncodeFrame(pts, picture);
        {
            std::lock_guard<std::mutex> guard(lock);
            ++encoded;
        }
        changed.notify_all();
    }

private:
    std::mutex lock;  // guards encoded
    std::condition_variable changed;
    uint64_t encoded = 0;
};

// A folder of the benchmark's own for the movies, removed at exit.
struct BenchFolder {
    BenchFolder() {
        char pattern[] = "/tmp/orvane-bench-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) path = pattern;
    }
    ~BenchFolder() {
        if (!path.empty()) ::rmdir(path.c_str());
    }
    std::string path = "/tmp";
};

std::string MoviePath(const char* name) {
    static const BenchFolder folder;
    return folder.path + "/" + name;
}

// Frames handed over as fast as the output takes them: what the recording can sustain.
template <class Output>
void RecordAsFastAsPossible(benchmark::State& state) {
    av_log_set_level(AV_LOG_ERROR);
    const auto& frames = Frames();
    BenchClock clock;
    uint64_t encoded = 0;
    for (auto _ : state) {
        CountedOutput<Output> output;
        output.Start(MoviePath("movie"), kFps);
        for (int index = 0; index < kFrames; ++index) {
            output.WaitForRoom(index);
            clock.now += 34;
            output.WriteFrame(kWidth, kHeight, frames[index % kDistinctFrames].data(), 24);
        }
        output.Close();
        encoded += output.Encoded();
        state.PauseTiming();
        std::remove(output.GetFileName().c_str());
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(encoded));
    state.counters["fps"] = benchmark::Counter(static_cast<double>(encoded), benchmark::Counter::kIsRate);
}

void BM_RecordFrames_1080p(benchmark::State& state) { RecordAsFastAsPossible<FFMPEGAVIOutput>(state); }
void BM_RecordFrames_1080p_Mp4(benchmark::State& state) { RecordAsFastAsPossible<FFMPEGOutput>(state); }

// Frames at the camera's pace, timestamped by the wall clock: none may be lost.
void BM_RecordFrames_1080p_At30fps(benchmark::State& state) {
    av_log_set_level(AV_LOG_ERROR);
    const auto& frames = Frames();
    int64_t dropped = 0;
    for (auto _ : state) {
        CountedOutput<FFMPEGAVIOutput> output;
        output.Start(MoviePath("paced"), kFps);
        const auto start = std::chrono::steady_clock::now();
        for (int index = 0; index < kFrames; ++index) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(1000000LL * index / kFps));
            output.WriteFrame(kWidth, kHeight, frames[index % kDistinctFrames].data(), 24);
        }
        output.Close();
        dropped += kFrames - static_cast<int64_t>(output.Encoded());
        std::remove(output.GetFileName().c_str());
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.counters["dropped"] = static_cast<double>(dropped);
}

struct Deleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

// The baseline: the recording's conversion and encoder settings in a bare loop, no queue, no file.
void RawEncode(benchmark::State& state, int threadCount) {
    av_log_set_level(AV_LOG_ERROR);
    const auto& frames = Frames();
    uint64_t bytes = 0;
    for (auto _ : state) {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
        std::unique_ptr<AVCodecContext, Deleter> encoder(avcodec_alloc_context3(codec));
        encoder->codec_tag = 'X' | ('V' << 8) | ('I' << 16) | ('D' << 24);
        encoder->width = kWidth;
        encoder->height = kHeight;
        encoder->time_base = AVRational{1, kFps};
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->max_b_frames = 0;
        encoder->thread_type = FF_THREAD_SLICE;
        encoder->thread_count = threadCount;
        if (avcodec_open2(encoder.get(), codec, nullptr) < 0) {
            state.SkipWithError("encoder did not open");
            return;
        }
        std::unique_ptr<AVFrame, Deleter> picture(av_frame_alloc());
        picture->format = AV_PIX_FMT_YUV420P;
        picture->width = kWidth;
        picture->height = kHeight;
        av_frame_get_buffer(picture.get(), 0);
        std::unique_ptr<AVPacket, Deleter> packet(av_packet_alloc());
        auto drain = [&] {
            while (avcodec_receive_packet(encoder.get(), packet.get()) >= 0) {
                bytes += static_cast<uint64_t>(packet->size);
                av_packet_unref(packet.get());
            }
        };
        for (int index = 0; index < kFrames; ++index) {
            av_frame_make_writable(picture.get());
            AVFrame* p = picture.get();
            libyuv::RGB24ToI420(frames[index % kDistinctFrames].data(), kWidth * 3, p->data[0], p->linesize[0],
                                p->data[1], p->linesize[1], p->data[2], p->linesize[2], kWidth, -kHeight);
            picture->pts = index;
            avcodec_send_frame(encoder.get(), picture.get());
            drain();
        }
        avcodec_send_frame(encoder.get(), nullptr);
        drain();
    }
    benchmark::DoNotOptimize(bytes);
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kFrames), benchmark::Counter::kIsRate);
}

void BM_RawMpeg4Encode_1080p(benchmark::State& state) { RawEncode(state, 0); }
void BM_RawMpeg4Encode_1080p_OneThread(benchmark::State& state) { RawEncode(state, 1); }

}  // namespace

BENCHMARK(BM_RawMpeg4Encode_1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);
BENCHMARK(BM_RecordFrames_1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);
BENCHMARK(BM_RecordFrames_1080p_Mp4)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);
BENCHMARK(BM_RawMpeg4Encode_1080p_OneThread)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_RecordFrames_1080p_At30fps)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace orvane
