#include "base/clock.h"

#include <atomic>
#include <chrono>
#include <ctime>

namespace orvane {

namespace {

class SystemClock final : public IClock {
public:
    int64_t NowMs() override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }

    LocalDate Today() override {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        return LocalDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
    }
};

SystemClock systemClock;
std::atomic<IClock*> currentClock{&systemClock};

}  // namespace

void SetClock(IClock* clock) { currentClock.store(clock != nullptr ? clock : &systemClock); }

int64_t NowMs() { return currentClock.load()->NowMs(); }

LocalDate Today() { return currentClock.load()->Today(); }

}  // namespace orvane
