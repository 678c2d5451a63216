#pragma once

#include <cstdint>

namespace orvane {

struct LocalDate {
    int year = 1970;
    int month = 1;
    int day = 1;
};

// The wall clock as the engine sees it. Tests install their own to drive time.
class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds since 1970: whole seconds x 1000 plus the millisecond part.
    virtual int64_t NowMs() = 0;
    // The local calendar date now.
    virtual LocalDate Today() = 0;
};

// Installs the clock used by NowMs() and Today(); nullptr restores the system clock.
void SetClock(IClock* clock);

int64_t NowMs();
LocalDate Today();

}  // namespace orvane
