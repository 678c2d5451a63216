#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/alert_sink.h"
#include "base/clock.h"

namespace orvane::test {

// A temporary folder for one test, removed again with everything in it. While it lives, HOME,
// XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR and XDG_DOCUMENTS_DIR point into it, so nothing
// reaches the user's own files (nor the desktop's thumbnail cache).
class Sandbox {
public:
    Sandbox();
    ~Sandbox();

    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& Path() const { return root; }
    std::string operator/(const std::string& relative) const { return root + "/" + relative; }
    std::string Home() const { return root + "/home"; }
    std::string Documents() const { return root + "/home/Documents"; }
    std::string ConfigHome() const { return root + "/home/.config"; }
    std::string CacheHome() const { return root + "/home/.cache"; }

private:
    std::string root;
    std::vector<std::pair<std::string, std::string>> savedEnv;  // name, old value ("\x01" = unset)
};

// Records every alert while it is installed.
class AlertRecorder final : public IAlertSink {
public:
    AlertRecorder();
    ~AlertRecorder() override;
    void ShowAlert(const std::string& text) override;
    void CloseAlert(const std::string& text) override;
    std::vector<std::string> Alerts() const;
    // The texts asked to be closed while they were shown, in order.
    std::vector<std::string> Closed() const;
    void Clear();

private:
    mutable std::mutex lock;  // guards alerts, shown and closed
    std::vector<std::string> alerts;
    std::vector<std::string> shown;  // shown and not closed since
    std::vector<std::string> closed;
};

// A clock that stands still until told otherwise, installed while it lives.
class ManualClock final : public IClock {
public:
    explicit ManualClock(int64_t nowMs = 1706659200000, LocalDate today = {2024, 1, 31});
    ~ManualClock() override;
    int64_t NowMs() override;
    LocalDate Today() override;
    void SetNowMs(int64_t ms);
    void Advance(int64_t ms);
    void SetToday(LocalDate date);

private:
    mutable std::mutex lock;  // guards now and date
    int64_t now;
    LocalDate date;
};

bool WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool MakeFolders(const std::string& path);
bool Exists(const std::string& path);
std::vector<std::string> ListFolder(const std::string& path);  // sorted names, without . and ..

// Checks `done` every few milliseconds until it holds; false when it still does not after `limit`.
// For conditions another thread or process brings about; window tests pump Qt's events instead.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5));

// Waits for a forked child to end: its exit status, 100 + the signal that ended it, or -1 when it was
// still running after `limit` (it is killed then).
int WaitForChild(pid_t child, std::chrono::milliseconds limit = std::chrono::minutes(2));

}  // namespace orvane::test
