#pragma once

#include <functional>
#include <string>

#include "base/unique_fd.h"
#include "config/registry.h"
#include "viewer/viewer_services.h"

namespace orvane {

// The application: makes sure it runs only once per user, writes the XviD codec's value, runs the
// main viewer until it ends, and ends cleanly (the viewer's threads joined, the capture stopped).
class COrvaneApp {
public:
    struct Options {
        // Where the single-instance lock file lies; empty: $XDG_RUNTIME_DIR, else the temporary folder.
        std::string lockFolder;
        // The lock file's name without ".lock"; empty: the program's own file name.
        std::string programName;
        // The hive the XviD value goes to; nullptr: the current user's.
        HKEY hive = nullptr;
        // Shows a start-up failure and returns when the user has seen it; null: a warning box.
        std::function<void(const std::string&)> alert;
        ViewerServices viewer;
    };

    COrvaneApp();
    explicit COrvaneApp(Options options);
    // Releases the single-instance lock.
    ~COrvaneApp();

    COrvaneApp(const COrvaneApp&) = delete;
    COrvaneApp& operator=(const COrvaneApp&) = delete;

    // Makes the QApplication, runs InitInstance and returns the process's exit code (0).
    int Run(int& argc, char** argv);

    // With a QApplication running: the two checks, then the viewer until it ends. Returns false so
    // that the program ends after it.
    bool InitInstance();

    // Takes the lock; false (after the localized message) when another instance holds it. When no
    // lock file can be made at all the program runs without the check.
    bool IsSingleInstance();
    // Writes "Software\GNU\XviD" "display_status" = 0; false after the message when that fails.
    bool SuppressXvidStatus();

    std::string LockFilePath() const;

    static constexpr const char* kXvidKey = "Software\\GNU\\XviD";
    static constexpr const char* kXvidValue = "display_status";

private:
    void Alert(const std::string& text);

    Options options;
    UniqueFd lockFd;
};

}  // namespace orvane
