#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/module_folder.h"
#include "capture/capture_video.h"
#include "capture/frame_converter.h"
#include "capture/wifi_device_proxy.h"
#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "dispatch/grabber_owner.h"
#include "dispatch/sample_grabber_cb.h"
#include "localization/localizable_string.h"
#include "simulation/simulated_camera.h"

namespace {

using namespace orvane;

constexpr double kFramePeriodNs = 1e9 / 30.0;

int64_t ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// A viewer with nothing to do: no photo pending, no timed shots, no recording.
class IdleViewer final : public IGrabberOwner {
public:
    CaptureState& GetCaptureState() override { return state; }
    void PostViewerMessage(uint32_t) override {}
    IResourceWindow* GetResourceWindow() override { return nullptr; }
    CaptureState state;
};

// Settings, strings and wireless link of a temporary folder, so that nothing of the user's is read.
struct Services {
    Services() {
        char pattern[] = "/tmp/orvane-capture-bench-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) root = pattern;
        hive = std::make_unique<CRegistryHive>(root + "/settings.conf",
                                               GetModuleFolder() + "Resource/factory.conf");
        settings = std::make_unique<CSettingParamManage>(hive.get());
        strings = std::make_unique<CLocalizableString>(settings.get(), GetModuleFolder());
        link = std::make_unique<CWifiDeviceProxy>(settings.get());
    }
    ~Services() {
        std::error_code ignored;
        if (!root.empty()) std::filesystem::remove_all(root, ignored);
    }
    std::string root;
    std::unique_ptr<CRegistryHive> hive;
    std::unique_ptr<CSettingParamManage> settings;
    std::unique_ptr<CLocalizableString> strings;
    std::unique_ptr<CWifiDeviceProxy> link;
};

SimulatedCameraDefinition Camera() {
    return SimulatedCameraDefinition::UsbCamera("Bench Camera", "f0c1", "0a01", "B1", "1");
}

// One 1920 x 1080 MJPG frame as the simulated camera delivers it, taken by a bare V4L2 session.
std::vector<uint8_t> GrabMjpgFrame(SimulatedDeviceFile& sim) {
    std::vector<uint8_t> bytes;
    const int fd = sim.Open(sim.Camera(0).VideoNode(), O_RDWR | O_NONBLOCK);
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = 1920;
    format.fmt.pix.height = 1080;
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_MJPEG;
    v4l2_requestbuffers request{};
    request.count = 2;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (sim.Ioctl(fd, VIDIOC_S_FMT, &format) == 0 && sim.Ioctl(fd, VIDIOC_REQBUFS, &request) == 0) {
        std::vector<std::pair<void*, size_t>> areas;
        for (uint32_t i = 0; i < request.count; ++i) {
            v4l2_buffer buffer{};
            buffer.index = i;
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            sim.Ioctl(fd, VIDIOC_QUERYBUF, &buffer);
            areas.emplace_back(
                sim.Mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, buffer.m.offset),
                buffer.length);
            sim.Ioctl(fd, VIDIOC_QBUF, &buffer);
        }
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        sim.Ioctl(fd, VIDIOC_STREAMON, &type);
        pollfd wait{fd, POLLIN, 0};
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (sim.Poll(&wait, 1, 2000) > 0 && sim.Ioctl(fd, VIDIOC_DQBUF, &buffer) == 0) {
            const auto* start = static_cast<const uint8_t*>(areas[buffer.index].first);
            bytes.assign(start, start + buffer.bytesused);
        }
        sim.Ioctl(fd, VIDIOC_STREAMOFF, &type);
        for (const auto& [address, length] : areas) sim.Munmap(address, length);
        request.count = 0;
        sim.Ioctl(fd, VIDIOC_REQBUFS, &request);
    }
    sim.Close(fd);
    return bytes;
}

// Baseline: the MJPG decode alone, the least any capture thread must spend on a 1080p frame.
void BM_DecodeOnly1080pMjpg(benchmark::State& state) {
    SimulatedDeviceFile sim({Camera()});
    const std::vector<uint8_t> frame = GrabMjpgFrame(sim);
    CFrameConverter converter;
    if (frame.empty() || !converter.Configure(V4L2_PIX_FMT_MJPEG, 1920, 1080)) {
        state.SkipWithError("no frame from the simulated camera");
        return;
    }
    std::vector<uint8_t> bgr(converter.OutputSize());
    const int64_t startNs = ThreadCpuNs();
    for (auto _ : state) {
        const bool converted = converter.Convert(frame.data(), frame.size(), bgr.data());
        benchmark::DoNotOptimize(converted);
    }
    const double perFrameNs =
        static_cast<double>(ThreadCpuNs() - startNs) / static_cast<double>(state.iterations());
    state.counters["share_of_frame_period"] = perFrameNs / kFramePeriodNs;
}
BENCHMARK(BM_DecodeOnly1080pMjpg)->Unit(benchmark::kMillisecond);

// The capture thread's CPU time per frame at 1920 x 1080 MJPG with no action running: dequeue,
// convert, dispatch, hand to the live pane, requeue. Each iteration is one frame; its time is the
// capture thread's CPU time (CLOCK_THREAD_CPUTIME_ID) for that frame.
void BM_CaptureThread1080pMjpg(benchmark::State& state) {
    Services services;
    SimulatedDeviceFile sim({Camera()});
    IdleViewer viewer;
    g_previewGrabber.owner = &viewer;
    CCaptureVideo capture(CaptureVideoServices{&sim, services.link.get(), services.strings.get(),
                                               services.hive.get(), &g_previewGrabber, &g_stillGrabber});
    CaptureResolution request{1920, 1080, V4L2_PIX_FMT_MJPEG, false};
    if (capture.StartPreview(0, nullptr, request) != S_OK || request.width != 1920) {
        g_previewGrabber.owner = nullptr;
        state.SkipWithError("preview did not start");
        return;
    }
    auto waitFrame = [&](int64_t after) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (capture.GetCaptureStats().delivered <= after) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    };
    // The first frames pay for buffers and decoder set-up.
    waitFrame(2);
    CaptureStats last = capture.GetCaptureStats();
    double totalNs = 0;
    for (auto _ : state) {
        if (!waitFrame(last.delivered)) {
            state.SkipWithError("the camera stopped delivering");
            break;
        }
        const CaptureStats now = capture.GetCaptureStats();
        const double ns = static_cast<double>(now.threadCpuNs - last.threadCpuNs) /
                          static_cast<double>(std::max<int64_t>(1, now.delivered - last.delivered));
        totalNs += ns;
        state.SetIterationTime(ns / 1e9);
        last = now;
    }
    capture.StopPreview();
    g_previewGrabber.owner = nullptr;
    if (state.iterations() > 0) {
        state.counters["share_of_frame_period"] =
            totalNs / static_cast<double>(state.iterations()) / kFramePeriodNs;
    }
}
BENCHMARK(BM_CaptureThread1080pMjpg)->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);

}  // namespace
