// Measures what the live pane costs: a feeder thread publishes 1920 x 1080 frames at 30 per second
// into the capture mailbox for ten seconds while a shown video host paints them. Prints the frames
// painted and the CPU time of the interface thread and of the whole process per frame. Run it on the
// display to measure (DISPLAY=... with QT_QPA_PLATFORM=xcb, or offscreen).
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "capture/frame_mailbox.h"
#include "viewer/video_host.h"

namespace {

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double ProcessCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    constexpr int kWidth = 1920;
    constexpr int kHeight = 1080;
    constexpr int kSeconds = 10;

    orvane::CFrameMailbox mailbox;
    orvane::CVideoHost host;
    host.resize(argc > 1 ? std::atoi(argv[1]) : 1200, argc > 2 ? std::atoi(argv[2]) : 675);
    host.show();
    host.Attach(&mailbox);

    // A changing picture, so that nothing can be skipped as unchanged.
    std::vector<uint8_t> frame(size_t{3} * kWidth * kHeight);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7);
    std::atomic<bool> run{true};
    std::atomic<int> published{0};
    double feederCpuMs = 0;
    std::thread feeder([&] {
        auto next = std::chrono::steady_clock::now();
        while (run.load()) {
            frame[static_cast<size_t>(published.load()) % frame.size()] ^= 0xFF;
            mailbox.Publish(frame.data(), kWidth, kHeight);
            published.fetch_add(1);
            next += std::chrono::microseconds(33333);
            std::this_thread::sleep_until(next);
        }
        feederCpuMs = ThreadCpuMs();
    });

    QApplication::processEvents();
    const double uiStart = ThreadCpuMs();
    const double processStart = ProcessCpuMs();
    const int64_t takenStart = host.FramesTaken();
    const int publishedStart = published.load();
    QTimer::singleShot(kSeconds * 1000, &application, &QApplication::quit);
    QApplication::exec();
    const double uiMs = ThreadCpuMs() - uiStart;
    const double processMs = ProcessCpuMs() - processStart;
    const int64_t taken = host.FramesTaken() - takenStart;
    const int sent = published.load() - publishedStart;
    run = false;
    feeder.join();
    host.Attach(nullptr);

    const double feederMs = feederCpuMs;  // the feeder's own copy work, counted in the process total
    std::printf("host %dx%d on %s: %d frames published, %lld painted in %d s\n", host.width(), host.height(),
                qPrintable(QGuiApplication::platformName()), sent, static_cast<long long>(taken), kSeconds);
    std::printf("interface thread: %.2f ms CPU per painted frame\n", taken > 0 ? uiMs / taken : 0.0);
    std::printf("process without the feeder: %.2f ms CPU per painted frame (feeder %.2f ms per frame)\n",
                taken > 0 ? (processMs - feederMs) / taken : 0.0, sent > 0 ? feederMs / sent : 0.0);
    return 0;
}
