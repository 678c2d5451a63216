#include "support/sandbox.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <thread>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace orvane::test {

namespace {

const char* const kUnset = "\x01";

}  // namespace

Sandbox::Sandbox() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] ? tmp : "/tmp") + "/orvane-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root = buffer.data();
    MakeFolders(Documents());
    MakeFolders(ConfigHome());
    MakeFolders(CacheHome());
    MakeFolders(root + "/run");
    ::chmod((root + "/run").c_str(), 0700);
    const std::pair<const char*, std::string> vars[] = {
        {"HOME", Home()},
        {"XDG_CONFIG_HOME", ConfigHome()},
        {"XDG_CACHE_HOME", CacheHome()},
        {"XDG_RUNTIME_DIR", root + "/run"},
        {"XDG_DOCUMENTS_DIR", Documents()},
    };
    for (const auto& [name, value] : vars) {
        const char* old = std::getenv(name);
        savedEnv.emplace_back(name, old != nullptr ? old : kUnset);
        ::setenv(name, value.c_str(), 1);
    }
}

Sandbox::~Sandbox() {
    for (const auto& [name, value] : savedEnv) {
        if (value == kUnset)
            ::unsetenv(name.c_str());
        else
            ::setenv(name.c_str(), value.c_str(), 1);
    }
    std::error_code ec;
    // Folders a test made read-only must become writable again to be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec)) ::chmod(it->path().c_str(), 0700);
    }
    ::chmod(root.c_str(), 0700);
    std::filesystem::remove_all(root, ec);
}

AlertRecorder::AlertRecorder() { SetAlertSink(this); }
AlertRecorder::~AlertRecorder() { SetAlertSink(nullptr); }

void AlertRecorder::ShowAlert(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock);
    alerts.push_back(text);
    shown.push_back(text);
}

void AlertRecorder::CloseAlert(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock);
    const size_t before = shown.size();
    std::erase(shown, text);
    if (shown.size() != before) closed.push_back(text);
}

std::vector<std::string> AlertRecorder::Closed() const {
    std::lock_guard<std::mutex> guard(lock);
    return closed;
}

std::vector<std::string> AlertRecorder::Alerts() const {
    std::lock_guard<std::mutex> guard(lock);
    return alerts;
}

void AlertRecorder::Clear() {
    std::lock_guard<std::mutex> guard(lock);
    alerts.clear();
    shown.clear();
    closed.clear();
}

ManualClock::ManualClock(int64_t nowMs, LocalDate today) : now(nowMs), date(today) { SetClock(this); }
ManualClock::~ManualClock() { SetClock(nullptr); }

int64_t ManualClock::NowMs() {
    std::lock_guard<std::mutex> guard(lock);
    return now;
}

LocalDate ManualClock::Today() {
    std::lock_guard<std::mutex> guard(lock);
    return date;
}

void ManualClock::SetNowMs(int64_t ms) {
    std::lock_guard<std::mutex> guard(lock);
    now = ms;
}

void ManualClock::Advance(int64_t ms) {
    std::lock_guard<std::mutex> guard(lock);
    now += ms;
}

void ManualClock::SetToday(LocalDate d) {
    std::lock_guard<std::mutex> guard(lock);
    date = d;
}

bool WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out.flush());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool MakeFolders(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return !ec;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int WaitForChild(pid_t child, std::chrono::milliseconds limit) {
    // A pidfd becomes readable when the child ends: a wait with a deadline and no polling loop.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    bool killed = false;
    if (pidfd >= 0) {
        pollfd ready{pidfd, POLLIN, 0};
        int waited = 0;
        do {
            waited = ::poll(&ready, 1, static_cast<int>(limit.count()));
        } while (waited < 0 && errno == EINTR);
        ::close(pidfd);
        if (waited == 0) killed = ::kill(child, SIGKILL) == 0;
    }
    int status = 0;
    pid_t ended = 0;
    do {
        ended = ::waitpid(child, &status, 0);
    } while (ended < 0 && errno == EINTR);
    if (ended != child || killed) return -1;
    if (WIFSIGNALED(status)) return 100 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace orvane::test
