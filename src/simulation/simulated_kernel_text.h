#pragma once

#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace orvane {

// Small pieces the simulated nodes share to fill kernel structures and signal their descriptors.

// Writes `text` into a fixed field of a kernel structure, cut to fit and zero-filled.
inline void CopyText(char* target, size_t size, const std::string& text) {
    std::memset(target, 0, size);
    std::memcpy(target, text.data(), std::min(text.size(), size - 1));
}

inline timeval NowTimeval(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return timeval{now.tv_sec, now.tv_nsec / 1000};
}

// Makes the eventfd `fd` readable exactly while `wanted`; `signalled` remembers which it is.
inline void SetWake(int fd, bool& signalled, bool wanted) {
    if (wanted == signalled) return;
    uint64_t value = 1;
    if (wanted) {
        if (::write(fd, &value, sizeof value) == sizeof value) signalled = true;
    } else {
        if (::read(fd, &value, sizeof value) == sizeof value || errno == EAGAIN) signalled = false;
    }
}

}  // namespace orvane
