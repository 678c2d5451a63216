#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace orvane {

// Owns one file descriptor and closes it when it goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd(fd) {}
    ~UniqueFd() { Reset(); }

    UniqueFd(UniqueFd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd; }
    bool Valid() const { return fd >= 0; }
    explicit operator bool() const { return fd >= 0; }

    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(fd, -1); }
    // Closes the held descriptor (if any) and holds `newFd` instead.
    void Reset(int newFd = -1) {
        const int old = std::exchange(fd, newFd);
        if (old >= 0) ::close(old);
    }
    // Closes now and tells how that went: 0, or the errno of a failed close. On Linux the descriptor
    // is gone even when close was interrupted, so EINTR counts as done.
    int Close() {
        const int old = std::exchange(fd, -1);
        if (old < 0) return 0;
        return ::close(old) != 0 && errno != EINTR ? errno : 0;
    }

private:
    int fd = -1;
};

}  // namespace orvane
