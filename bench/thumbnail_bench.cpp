// The thumbnail panel's first paint of one full column, from opening it to the last picture drawn,
// against the plain full-size decode of the same photos, in one run: photos written by this program
// (their embedded picture is read), photos from elsewhere with the desktop's thumbnail cache already
// holding them, and the same photos with nothing cached. Needs a QApplication: it is made here on the
// offscreen platform, once.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <QApplication>
#include <QPixmap>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/registry_hive.h"
#include "base/video_frame.h"
#include "config/setting_param_manage.h"
#include "imaging/photo_writer.h"
#include "media/ui/resources_browser_dlg.h"

namespace {

using namespace orvane;

constexpr int kPhotoWidth = 2592;
constexpr int kPhotoHeight = 1944;
constexpr int kRows = 8;
constexpr int kAreaWidth = 200;
constexpr double kFrameSeconds = 1.0 / 60.0;

QApplication& Application() {
    static int argc = 1;
    static char name[] = "orvane_bench";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);  // lives until the process ends
    }();
    return *app;
}

// A lit disc with cells and sensor noise, as the microscope gives it, so that the JPEG has the usual
// mix of flat and busy blocks: BGR rows, bottom row first, as frames come from the camera.
std::vector<unsigned char> MakePicture(int seed) {
    std::vector<unsigned char> bgr(3 * size_t(kPhotoWidth) * kPhotoHeight);
    uint32_t noise = 77u + static_cast<uint32_t>(seed);
    for (int y = 0; y < kPhotoHeight; ++y) {
        for (int x = 0; x < kPhotoWidth; ++x) {
            const double dx = (x - kPhotoWidth / 2.0) / kPhotoHeight,
                         dy = (y - kPhotoHeight / 2.0) / kPhotoHeight;
            const double light = std::max(0.0, 1.0 - 1.6 * (dx * dx + dy * dy));
            const double cx = std::fmod(x + 37.0 * std::sin(y / 90.0) + seed * 31, 160.0) - 80.0;
            const double cy = std::fmod(y + 23.0 * std::cos(x / 70.0), 140.0) - 70.0;
            const double r = std::sqrt(cx * cx + cy * cy);
            const double cell = r < 45 ? 0.55 : (r < 52 ? 0.25 : 1.0);
            noise = noise * 1664525u + 1013904223u;
            const double n = int(noise >> 29) - 4;
            unsigned char* p = &bgr[3 * (size_t(y) * kPhotoWidth + x)];
            p[0] = static_cast<unsigned char>(std::clamp(light * (120 + 15 * seed) + n, 0.0, 255.0));
            p[1] = static_cast<unsigned char>(std::clamp(light * 200 * cell + n, 0.0, 255.0));
            p[2] =
                static_cast<unsigned char>(std::clamp(light * 235 * (cell < 1 ? 1.0 : 0.9) + n, 0.0, 255.0));
        }
    }
    return bgr;
}

// The picture as another camera program would write it: a plain JPEG with no embedded thumbnail.
std::vector<unsigned char> MakePlainJpeg(const std::vector<unsigned char>& bgr) {
    std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitCompress(), tjDestroy);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (!handle || tjCompress2(handle.get(), bgr.data(), kPhotoWidth, 0, kPhotoHeight, TJPF_BGR, &jpeg, &size,
                               TJSAMP_444, 100, TJFLAG_BOTTOMUP) != 0)
        return {};
    std::vector<unsigned char> bytes(jpeg, jpeg + size);
    tjFree(jpeg);
    return bytes;
}

std::vector<unsigned char> ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
}

enum class Source { Orvane, Elsewhere };

// Eight photos in the single-shot folder of a temporary storage root, and a panel showing them in
// one column of exactly eight rows. The desktop's thumbnail cache lies in the same temporary folder.
class PhotoColumn {
public:
    explicit PhotoColumn(Source source) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/orvane-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) return;
        folder = pattern;
        cacheHome = folder + "/cache";
        ::setenv("XDG_CACHE_HOME", cacheHome.c_str(), 1);  // read when the panel is made
        hive = std::make_unique<CRegistryHive>(folder + "/settings.conf", folder + "/factory.conf");
        settings = std::make_unique<CSettingParamManage>(hive.get());
        CSettingParam param = settings->GetUsingParam();
        param.SetResourcesPath(folder);
        settings->SetUsingParam(param);
        const std::string shots = param.GetSingleShotsFolder();
        std::filesystem::create_directories(shots);
        for (int i = 0; i < kRows; ++i) {
            const std::string path = shots + "/S20240131_000" + std::to_string(i + 1) + ".jpg";
            std::vector<unsigned char> bgr = MakePicture(i);
            if (source == Source::Orvane) {
                VideoFrame frame;
                frame.bits = bgr.data();
                frame.length = static_cast<int32_t>(bgr.size());
                frame.width = kPhotoWidth;
                frame.height = kPhotoHeight;
                if (WriteJpeg(path, frame) != S_OK) return;
            } else {
                const std::vector<unsigned char> jpeg = MakePlainJpeg(bgr);
                std::ofstream(path, std::ios::binary)
                    .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
            }
            paths.push_back(path);
        }
        panel = std::make_unique<CResourcesBrowserDlg>(settings.get());
        panel->resize(kAreaWidth + panel->ScrollBar()->width(), kRows * CResourcesBrowserDlg::kRowPitch);
        panel->SetFolder(shots, false);
        QCoreApplication::processEvents();
        target = QPixmap(panel->size());
    }
    ~PhotoColumn() {
        panel.reset();
        settings.reset();
        hive.reset();
        if (!folder.empty()) std::filesystem::remove_all(folder);
    }

    bool Ready() const { return panel != nullptr && paths.size() == kRows; }

    // The column as it first appears: a paint with nothing ready (placeholders; the rows are asked
    // for), the interface thread's loop taking the pictures as the workers hand them over, and the
    // paint that shows them all. False when not every row got its picture.
    bool FirstPaint() {
        panel->Thumbnails().Clear();
        panel->render(&target);
        // Sleeps until the next event (a result, or the timer that ends a hopeless wait): a loop that
        // polled would take a core from the workers.
        bool late = false;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, [&late] { late = true; });
        deadline.start(10000);
        while (!AllShown()) {
            if (late) {
                std::fprintf(stderr, "first paint: %zu of %d rows got their picture (%lu made so far)\n",
                             panel->Thumbnails().Size(), kRows,
                             static_cast<unsigned long>(panel->Loader().MadeCount()));
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        panel->render(&target);
        return panel->ItemRects().size() == kRows;
    }
    // A repaint with every picture ready.
    bool Repaint() {
        panel->render(&target);
        return panel->ItemRects().size() == kRows;
    }
    // Lets the workers finish what they write to the desktop's cache.
    void Settle() {
        // The workers' last writes end with no event for this thread: a short timer wakes it to look.
        QTimer look;
        look.start(5);
        while (!panel->Loader().Idle()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents();
    }
    // Empties the desktop's thumbnail cache.
    void ForgetSharedCache() {
        Settle();
        std::error_code ignored;
        std::filesystem::remove_all(cacheHome, ignored);
    }
    // Reads and decodes every photo at full size with TurboJPEG, as a viewer without scaled decoding would.
    bool DecodeAllFullSize() {
        std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
        bool ok = true;
        for (const std::string& path : paths) {
            const std::vector<unsigned char> bytes = ReadBytes(path);
            int w = 0, h = 0, subsampling = 0, colourspace = 0;
            ok = ok && tjDecompressHeader3(handle.get(), bytes.data(), bytes.size(), &w, &h, &subsampling,
                                           &colourspace) == 0;
            pixels.resize(size_t(w) * h * 4);
            ok = ok && tjDecompress2(handle.get(), bytes.data(), bytes.size(), pixels.data(), w, 0, h,
                                     TJPF_BGRX, 0) == 0;
        }
        benchmark::DoNotOptimize(pixels.data());
        return ok;
    }
    // The quickest of three full-size decodes of the column, in wall-clock and in CPU seconds.
    std::pair<double, double> BaselineSeconds();
    uint64_t DecodedCount() const { return panel->Loader().DecodedCount(); }
    double MeanFileBytes() const {
        double total = 0;
        for (const std::string& path : paths) total += static_cast<double>(std::filesystem::file_size(path));
        return paths.empty() ? 0 : total / static_cast<double>(paths.size());
    }

private:
    bool AllShown() {
        for (const std::string& path : paths) {
            const CThumbnailCache::Entry* entry = panel->Thumbnails().Find(path);
            if (entry == nullptr || !entry->picture) return false;
        }
        return true;
    }

    std::string folder;
    std::string cacheHome;
    std::vector<std::string> paths;
    std::unique_ptr<CRegistryHive> hive;
    std::unique_ptr<CSettingParamManage> settings;
    std::unique_ptr<CResourcesBrowserDlg> panel;
    QPixmap target;
    std::vector<unsigned char> pixels;
};

PhotoColumn& Column(Source source) {
    Application();  // before the first pixmap
    static PhotoColumn orvane(Source::Orvane);
    static PhotoColumn elsewhere(Source::Elsewhere);
    return source == Source::Orvane ? orvane : elsewhere;
}

// CPU time of every thread of this process, workers included.
double ProcessCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double SecondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::pair<double, double> PhotoColumn::BaselineSeconds() {
    double wall = 1e9, cpu = 1e9;
    for (int i = 0; i < 3; ++i) {
        const double cpuStart = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        DecodeAllFullSize();
        wall = std::min(wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        cpu = std::min(cpu, ProcessCpuSeconds() - cpuStart);
    }
    return {wall, cpu};
}

// Baseline: the eight photos read and decoded at full size.
void BM_ThumbnailFullSizeDecodeBaseline(benchmark::State& state) {
    PhotoColumn& column = Column(Source::Orvane);
    if (!column.Ready()) {
        state.SkipWithError("could not make the photos");
        return;
    }
    double decoding = 0;
    for (auto _ : state) {
        decoding += SecondsOf([&] {
            if (!column.DecodeAllFullSize()) state.SkipWithError("decode failed");
        });
    }
    state.counters["share_of_60Hz_frame"] =
        decoding / static_cast<double>(state.iterations()) / kFrameSeconds;
    state.counters["mean_file_bytes"] = column.MeanFileBytes();
}
BENCHMARK(BM_ThumbnailFullSizeDecodeBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();

// The first paint of a column, timed from the paint that asks for the rows to the paint that shows
// them all. `warm`: the desktop's cache holds the column's thumbnails; else it is emptied before each
// paint. The ratio counter compares it with the full-size decode of the same files, measured just
// before, in this run.
void FirstPaint(benchmark::State& state, Source source, bool warm) {
    PhotoColumn& column = Column(source);
    if (!column.Ready()) {
        state.SkipWithError("could not make the photos");
        return;
    }
    const auto [baseline, baselineCpu] = column.BaselineSeconds();
    column.ForgetSharedCache();
    if (warm && !column.FirstPaint()) {
        state.SkipWithError("the column did not fill");
        return;
    }
    const uint64_t decodedBefore = column.DecodedCount();
    double painting = 0, cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (warm) column.Settle();
        else column.ForgetSharedCache();
        state.ResumeTiming();
        const double cpuStart = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        if (!column.FirstPaint()) state.SkipWithError("the column did not fill");
        painting += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu += ProcessCpuSeconds() - cpuStart;
    }
    const double perPaint = painting / static_cast<double>(state.iterations());
    state.counters["vs_full_size_decode"] = perPaint / baseline;
    // The same in CPU time of all threads: the work done, whatever else the machine runs (the workers
    // run at a low priority, so on a busy machine their wall-clock time stretches more than the
    // baseline's).
    state.counters["cpu_vs_full_size_decode"] = cpu / static_cast<double>(state.iterations()) / baselineCpu;
    state.counters["share_of_60Hz_frame"] = perPaint / kFrameSeconds;
    // Rows made by reading the photo file itself, per paint (warm: should be none).
    state.counters["files_read_per_paint"] =
        static_cast<double>(column.DecodedCount() - decodedBefore) / static_cast<double>(state.iterations());
}

// Photos this program wrote: the small picture in their Exif block is all that is read.
void BM_ThumbnailFirstPaintOrvanePhotos(benchmark::State& state) { FirstPaint(state, Source::Orvane, false); }
BENCHMARK(BM_ThumbnailFirstPaintOrvanePhotos)->Unit(benchmark::kMillisecond)->UseRealTime();

// Photos from elsewhere whose thumbnails the desktop's cache already holds.
void BM_ThumbnailFirstPaintWarmSharedCache(benchmark::State& state) {
    FirstPaint(state, Source::Elsewhere, true);
}
BENCHMARK(BM_ThumbnailFirstPaintWarmSharedCache)->Unit(benchmark::kMillisecond)->UseRealTime();

// Photos from elsewhere with nothing cached: each decoded at a reduced scale on the workers.
void BM_ThumbnailFirstPaintCold(benchmark::State& state) { FirstPaint(state, Source::Elsewhere, false); }
BENCHMARK(BM_ThumbnailFirstPaintCold)->Unit(benchmark::kMillisecond)->UseRealTime();

// A repaint of the same column (scrolling back, a window uncovered): only ready pictures are drawn.
void BM_ThumbnailColumnRepaint(benchmark::State& state) {
    PhotoColumn& column = Column(Source::Orvane);
    if (!column.Ready() || !column.FirstPaint()) {
        state.SkipWithError("could not paint the column");
        return;
    }
    double painting = 0;
    for (auto _ : state) {
        painting += SecondsOf([&] {
            if (!column.Repaint()) state.SkipWithError("not every row was drawn");
        });
    }
    state.counters["share_of_60Hz_frame"] =
        painting / static_cast<double>(state.iterations()) / kFrameSeconds;
}
BENCHMARK(BM_ThumbnailColumnRepaint)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
