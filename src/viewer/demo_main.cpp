#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/thread_name.h"
#include "base/unique_fd.h"
#include "capture/device_file.h"
#include "dialogs/install_dialogs.h"
#include "simulation/simulated_camera.h"
#include "simulation/simulated_replay.h"
#include "viewer/orvane_app.h"

namespace {

// Lets a script act on the simulated microscope as a user would on a real one: SIGUSR1 presses its
// snapshot button, SIGUSR2 unplugs it or plugs it back in; SIGRTMIN prints on stderr how many frames
// it has delivered so far (a benchmark's check that the viewer kept up). The signals are read by this
// thread from a signalfd, so the camera is never touched from inside a signal handler, and the thread
// sleeps until a signal comes or it is told to end.
class CameraSignals {
public:
    // Blocks the signals in the calling thread; call it before any other thread starts, so that
    // every thread inherits the mask and the signals wait for Run instead of ending the program.
    static sigset_t Block() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGUSR1);
        sigaddset(&set, SIGUSR2);
        sigaddset(&set, SIGRTMIN);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        return set;
    }

    CameraSignals(orvane::SimulatedCamera& camera_, const sigset_t& signals)
        : camera(camera_),
          signalFd(::signalfd(-1, &signals, SFD_CLOEXEC)),
          stopFd(::eventfd(0, EFD_CLOEXEC)) {
        worker = std::thread([this] { Run(); });
    }
    ~CameraSignals() {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(stopFd.Get(), &one, sizeof one);
        worker.join();
    }
    CameraSignals(const CameraSignals&) = delete;
    CameraSignals& operator=(const CameraSignals&) = delete;

private:
    void Run() {
        orvane::NameThisThread("orv-demo-keys");
        for (;;) {
            pollfd fds[2] = {{signalFd.Get(), POLLIN, 0}, {stopFd.Get(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0) return;
            signalfd_siginfo info{};
            if (::read(signalFd.Get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
            if (info.ssi_signo == SIGUSR1) {
                camera.PressSnapshotButton();
            } else if (info.ssi_signo == SIGUSR2) {
                if (camera.IsPlugged()) {
                    camera.Unplug();
                } else {
                    camera.Plug();
                }
            } else if (static_cast<int>(info.ssi_signo) == SIGRTMIN) {
                std::fprintf(stderr, "orvane-demo: the microscope has delivered %llu frames\n",
                             static_cast<unsigned long long>(camera.FramesDelivered()));
                std::fflush(stderr);
            }
        }
    }

    orvane::SimulatedCamera& camera;
    orvane::UniqueFd signalFd;
    orvane::UniqueFd stopFd;
    std::thread worker;
};

constexpr const char* kHelp =
    "Usage: orvane-demo [--replay FILE [--fps N]] [Qt options]\n"
    "\n"
    "The Orvane viewer with a simulated USB microscope in place of the system's cameras.\n"
    "\n"
    "  --replay FILE  the microscope sends the frames of FILE, over and over: a raw MJPEG stream\n"
    "                 (JPEG pictures one after the other, as ffmpeg -f mjpeg writes them) or an\n"
    "                 AVI or MKV file holding MJPEG or raw YUYV video. It offers exactly one\n"
    "                 format and size, the file's. Every frame is read into memory before the\n"
    "                 window opens; a file whose frames need more than 1 GiB is refused.\n"
    "  --fps N        the frame rate to send at (default: the file's own, else 30)\n"
    "  --help         this text\n"
    "\n"
    "SIGUSR1 presses the microscope's snapshot button, SIGUSR2 unplugs it or plugs it back in,\n"
    "SIGRTMIN prints how many frames it has delivered so far.\n"
    "Bad arguments or a file that cannot be replayed end the program with status 2.\n";

constexpr double kMaxFps = 1000.0;

struct DemoArguments {
    bool help = false;
    std::string replay;
    double fps = 0;             // 0: not given
    std::vector<char*> others;  // for Qt, with argv[0] first
};

// The value of option `name` at argv[i], given as "NAME VALUE" (then i moves on) or "NAME=VALUE".
bool OptionValue(std::string_view name, int argc, char** argv, int& i, std::string& value,
                 std::string& error) {
    const std::string_view arg = argv[i];
    if (arg == name) {
        if (i + 1 >= argc) {
            error = std::string(name) + " needs a value";
            return false;
        }
        value = argv[++i];
    } else {
        value = arg.substr(name.size() + 1);
    }
    if (value.empty()) error = std::string(name) + " needs a value";
    return !value.empty();
}

// Takes the demo's own options out of the command line; false with `error` set for a bad one.
bool ParseArguments(int argc, char** argv, DemoArguments& out, std::string& error) {
    const auto is = [](std::string_view arg, std::string_view name) {
        return arg == name || (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=');
    };
    out.others.push_back(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string value;
        if (arg == "--help" || arg == "-h") {
            out.help = true;
        } else if (is(arg, "--replay")) {
            if (!OptionValue("--replay", argc, argv, i, out.replay, error)) return false;
        } else if (is(arg, "--fps")) {
            if (!OptionValue("--fps", argc, argv, i, value, error)) return false;
            char* end = nullptr;
            errno = 0;
            const double fps = std::strtod(value.c_str(), &end);
            if (end != value.c_str() + value.size() || errno != 0 || !std::isfinite(fps) || fps <= 0 ||
                fps > kMaxFps) {
                error = "--fps takes a frame rate above 0 and up to 1000, not \"" + value + "\"";
                return false;
            }
            out.fps = fps;
        } else {
            out.others.push_back(argv[i]);
        }
    }
    if (out.fps > 0 && out.replay.empty()) {
        error = "--fps needs --replay FILE";
        return false;
    }
    out.others.push_back(nullptr);
    return true;
}

// The frame rate asked for, in thousandths of a frame per second (29.97 gives 29970/1000).
orvane::FrameRate AskedRate(double fps) {
    if (fps <= 0) return {};
    constexpr int32_t kScale = 1000;
    return {static_cast<int32_t>(std::max(1L, std::lround(fps * kScale))), kScale};
}

}  // namespace

// The viewer with a simulated USB microscope in place of the system's cameras, for trying the
// program and for the desktop tests on machines without a camera.
int main(int argc, char** argv) {
    const sigset_t cameraSignals = CameraSignals::Block();
    DemoArguments arguments;
    std::string error;
    if (!ParseArguments(argc, argv, arguments, error)) {
        std::fprintf(stderr, "orvane-demo: %s\n(orvane-demo --help tells more)\n", error.c_str());
        return 2;
    }
    if (arguments.help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    orvane::SimulatedCameraDefinition microscope =
        orvane::SimulatedCameraDefinition::UsbCamera("USB Microscope", "0c45", "6366", "ORV0001", "1");
    if (!arguments.replay.empty()) {
        std::shared_ptr<const orvane::ReplayFrames> frames =
            orvane::LoadReplayFrames(arguments.replay, error);
        if (!frames) {
            std::fprintf(stderr, "orvane-demo: %s\n", error.c_str());
            return 2;
        }
        if (frames->skipped > 0)
            std::fprintf(stderr, "orvane-demo: left out %d frames of %s that are not readable JPEGs\n",
                         frames->skipped, arguments.replay.c_str());
        microscope = orvane::SimulatedCameraDefinition::ReplayCamera(std::move(microscope), std::move(frames),
                                                                     AskedRate(arguments.fps));
    }
    orvane::SimulatedDeviceFile cameras(std::vector<orvane::SimulatedCameraDefinition>{microscope});
    orvane::SetDeviceFile(&cameras);
    int result;
    {
        CameraSignals signals(cameras.Camera(0), cameraSignals);
        orvane::COrvaneApp::Options options;
        options.viewer.dialogs = orvane::ViewerDialogs();
        orvane::COrvaneApp app(std::move(options));
        int qtArgc = static_cast<int>(arguments.others.size()) - 1;
        result = app.Run(qtArgc, arguments.others.data());
    }
    orvane::SetDeviceFile(nullptr);
    return result;
}
