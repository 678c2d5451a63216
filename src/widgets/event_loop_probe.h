#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "base/unique_fd.h"

namespace orvane {

// Measures how well the interface thread's event loop answers: a 1 ms timer on that thread records
// how late each tick comes. A late tick means the thread was held: by our own work, by a wait on a
// lock or a disk, or simply because the machine gave the core to another program. The last part is
// told apart through the kernel's count of the time the thread waited for a core, so that "own"
// lateness is what the program itself did to its window, whatever else runs on the machine.
//
// Made on the interface thread, which it watches. With a log path it appends a line every 250 ms:
// "<unix ms> <lateness ms> <own lateness ms> <cpu ms>", each the largest of that interval (cpu: the
// thread's own running time between two ticks).
class CEventLoopProbe final : public QObject {
    Q_OBJECT

public:
    explicit CEventLoopProbe(const std::string& logPath = {}, QObject* parent = nullptr);
    ~CEventLoopProbe() override;

    // A probe when ORVANE_EVENT_PROBE names a log file, else none.
    static std::unique_ptr<CEventLoopProbe> FromEnvironment();

    // The largest values since construction or Reset().
    double MaxLatenessMs() const { return total.lateness; }
    double MaxOwnLatenessMs() const { return total.own; }
    double MaxCpuMs() const { return total.cpu; }
    void Reset();

private:
    struct Maxima {
        double lateness = 0, own = 0, cpu = 0;
        void Take(const Maxima& other);
    };
    struct Mark {
        std::chrono::steady_clock::time_point wall;
        int64_t cpuNs = 0;
        int64_t waitNs = 0;  // time spent waiting for a core
    };

    Mark Now() const;
    void OnTick();
    void WriteInterval();

    UniqueFd log;
    UniqueFd schedstat;  // this thread's scheduler statistics: run time, run-queue wait, slices
    QTimer tick;
    QTimer interval;
    Mark last;
    Maxima current;
    Maxima total;
};

}  // namespace orvane
