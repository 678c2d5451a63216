#include "support/child_cost.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace orvane::test {

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

struct Report {
    int result;
    double seconds;
    int64_t peakGrowthBytes;
};

int64_t PeakResidentBytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return int64_t{usage.ru_maxrss} * 1024;
}

int64_t AddressSpaceBytes() {
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    return int64_t{pages} * ::sysconf(_SC_PAGESIZE);
}

[[noreturn]] void RunChild(const std::function<int()>& work, int64_t addressLimitBytes, int out) {
    if (!kAddressSanitizer && addressLimitBytes > 0) {
        const rlimit limit{static_cast<rlim_t>(AddressSpaceBytes() + addressLimitBytes),
                           static_cast<rlim_t>(AddressSpaceBytes() + addressLimitBytes)};
        ::setrlimit(RLIMIT_AS, &limit);
    }
    const int64_t before = PeakResidentBytes();
    const auto start = std::chrono::steady_clock::now();
    const int result = work();
    const Report report{result,
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                        PeakResidentBytes() - before};
    const bool sent = ::write(out, &report, sizeof report) == static_cast<ssize_t>(sizeof report);
    ::_exit(sent ? 0 : 1);
}

}  // namespace

ChildCost RunInChild(const std::function<int()>& work, std::chrono::milliseconds timeout,
                     int64_t addressLimitBytes) {
    ChildCost cost;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return cost;
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        RunChild(work, addressLimitBytes, pipeEnds[1]);
    }
    ::close(pipeEnds[1]);
    if (child < 0) {
        ::close(pipeEnds[0]);
        return cost;
    }
    pollfd wait{pipeEnds[0], POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&wait, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    Report report{};
    const bool reported =
        ready > 0 && ::read(pipeEnds[0], &report, sizeof report) == static_cast<ssize_t>(sizeof report);
    if (!reported) ::kill(child, SIGKILL);
    ::close(pipeEnds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    cost.finished = reported && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    cost.result = report.result;
    cost.seconds = report.seconds;
    cost.peakGrowthBytes = report.peakGrowthBytes;
    return cost;
}

}  // namespace orvane::test
