#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace orvane::test {

// What a piece of work cost when it ran alone in a child process.
struct ChildCost {
    bool finished = false;        // the child reported before the timeout and ended normally
    int result = -1;              // what the work returned
    double seconds = 0;           // wall time of the work
    int64_t peakGrowthBytes = 0;  // how far the resident set's high-water mark rose during the work
};

// Runs `work` in a forked child of this (single-threaded) process and measures it there, so that the
// memory it touches is measured alone and nothing it does can harm the test program. Without the
// address sanitizer, the child's address space is also capped at its size plus `addressLimitBytes`.
// The child is killed when it takes longer than `timeout`.
ChildCost RunInChild(const std::function<int()>& work, std::chrono::milliseconds timeout,
                     int64_t addressLimitBytes);

}  // namespace orvane::test
