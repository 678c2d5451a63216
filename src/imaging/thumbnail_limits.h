#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>

namespace orvane {

// What one thumbnail may cost. Files beyond a limit give the same "no picture" as a damaged file, so
// that a hostile or absurd file costs no more than a few milliseconds and a bounded amount of memory.
struct ThumbnailLimits {
    using Clock = std::chrono::steady_clock;

    // Photos larger than this are not read at all (a movie may be as large as a recording gets).
    int64_t maxFileBytes = int64_t{64} << 20;
    // Pictures whose rows are decoded one band at a time (sequential JPEGs) may be this large.
    int64_t maxPixels = 50'000'000;
    // Pictures the decoder holds whole while it reads them: progressive and multi-scan JPEGs (their
    // coefficients take 2 bytes a sample) and movie frames.
    int64_t maxBufferedPixels = 16'800'000;
    // More scans than any encoder writes; each scan walks the whole picture again.
    int maxScans = 64;
    // After this the work ends with no picture.
    Clock::time_point deadline = Clock::time_point::max();
    // Set by another thread when the thumbnail is no longer wanted; the work then ends early.
    const std::atomic<bool>* cancelled = nullptr;

    // Limits whose deadline lies `budget` from now.
    static ThumbnailLimits Within(std::chrono::milliseconds budget) {
        ThumbnailLimits limits;
        limits.deadline = Clock::now() + budget;
        return limits;
    }
    bool Expired() const { return Clock::now() >= deadline; }
    bool Cancelled() const { return cancelled != nullptr && cancelled->load(std::memory_order_acquire); }
};

// How the work on one thumbnail ended.
enum class ThumbnailStatus {
    Ok,         // a picture (or, for an empty wanted size, just the source size)
    NoPicture,  // damaged, unsupported, beyond a limit, or out of time
    NotJpeg,    // a photo's name on something that is no JPEG at all (another reader may know it)
    Cancelled,  // no longer wanted
};

// Maps a picture's own size (width, height) to the size it is wanted at.
using ThumbnailSizeFunction = std::function<std::pair<int32_t, int32_t>(int32_t width, int32_t height)>;

}  // namespace orvane
