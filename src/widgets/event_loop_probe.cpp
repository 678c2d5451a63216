#include "widgets/event_loop_probe.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace orvane {

namespace {

constexpr int kTickMs = 1;
constexpr int kIntervalMs = 250;

}  // namespace

void CEventLoopProbe::Maxima::Take(const Maxima& other) {
    lateness = std::max(lateness, other.lateness);
    own = std::max(own, other.own);
    cpu = std::max(cpu, other.cpu);
}

CEventLoopProbe::CEventLoopProbe(const std::string& logPath, QObject* parent)
    : QObject(parent), schedstat(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC)) {
    if (!logPath.empty()) log.Reset(::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(kTickMs);
    connect(&tick, &QTimer::timeout, this, &CEventLoopProbe::OnTick);
    last = Now();
    tick.start();
    if (log) {
        interval.setInterval(kIntervalMs);
        connect(&interval, &QTimer::timeout, this, &CEventLoopProbe::WriteInterval);
        interval.start();
    }
}

CEventLoopProbe::~CEventLoopProbe() {
    if (log) WriteInterval();
}

std::unique_ptr<CEventLoopProbe> CEventLoopProbe::FromEnvironment() {
    const char* path = std::getenv("ORVANE_EVENT_PROBE");
    if (path == nullptr || path[0] == '\0') return nullptr;
    return std::make_unique<CEventLoopProbe>(path);
}

void CEventLoopProbe::Reset() {
    current = {};
    total = {};
    last = Now();
}

CEventLoopProbe::Mark CEventLoopProbe::Now() const {
    Mark mark;
    mark.wall = std::chrono::steady_clock::now();
    timespec cpu{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    mark.cpuNs = int64_t{cpu.tv_sec} * 1000000000 + cpu.tv_nsec;
    if (schedstat) {
        char text[96] = {};
        const ssize_t got = ::pread(schedstat.Get(), text, sizeof text - 1, 0);
        long long run = 0, wait = 0;
        if (got > 0 && std::sscanf(text, "%lld %lld", &run, &wait) == 2) mark.waitNs = wait;
    }
    return mark;
}

void CEventLoopProbe::OnTick() {
    const Mark now = Now();
    Maxima tickCost;
    tickCost.lateness =
        std::max(0.0, std::chrono::duration<double, std::milli>(now.wall - last.wall).count() - kTickMs);
    tickCost.own = std::max(0.0, tickCost.lateness - static_cast<double>(now.waitNs - last.waitNs) / 1e6);
    tickCost.cpu = static_cast<double>(now.cpuNs - last.cpuNs) / 1e6;
    last = now;
    current.Take(tickCost);
    total.Take(tickCost);
}

void CEventLoopProbe::WriteInterval() {
    const auto unixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    char line[160];
    const int length =
        std::snprintf(line, sizeof line, "%lld %.2f %.2f %.2f\n", static_cast<long long>(unixMs),
                      current.lateness, current.own, current.cpu);
    if (length > 0 && ::write(log.Get(), line, static_cast<size_t>(length)) < 0) {
        // A log that cannot be written only loses the measurement.
    }
    current = {};
}

}  // namespace orvane
