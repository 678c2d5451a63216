#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace orvane::test {

// A recording output whose worker the test can watch and hold: the real output, with the worker's
// encode step counted and, while held, kept waiting before it starts on its next frame.
template <class Output>
class ObservedOutput : public Output {
public:
    ~ObservedOutput() override { this->Close(); }

    void Hold() {
        std::lock_guard<std::mutex> guard(lock);
        holding = true;
    }
    // Notifies with the lock held: the worker cannot go on (and the output be closed and deleted by
    // another thread) before the notification is done with the condition variable.
    void Release() {
        std::lock_guard<std::mutex> guard(lock);
        holding = false;
        changed.notify_all();
    }
    // Whether the worker took a frame and now waits in the hold.
    bool WaitUntilHeld() {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(20), [this] { return held; });
    }
    // Whether `count` frames have gone through the encoder.
    bool WaitEncoded(uint64_t count) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(20), [&] { return encoded >= count; });
    }
    uint64_t Encoded() {
        std::lock_guard<std::mutex> guard(lock);
        return encoded;
    }

protected:
    void EncodeFrame(int64_t pts, AVFrame& picture) override {
        {
            std::unique_lock<std::mutex> guard(lock);
            held = holding;
            changed.notify_all();
            changed.wait(guard, [this] { return !holding; });
            held = false;
        }
        Output::EncodeFrame(pts, picture);
        {
            std::lock_guard<std::mutex> guard(lock);
            ++encoded;
        }
        changed.notify_all();
    }

private:
    std::mutex lock;  // guards holding, held and encoded
    std::condition_variable changed;
    bool holding = false;
    bool held = false;
    uint64_t encoded = 0;
};

}  // namespace orvane::test
