#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include "base/thread_name.h"
#include "base/unique_fd.h"
#include "capture/device_file.h"
#include "dialogs/install_dialogs.h"
#include "simulation/simulated_camera.h"
#include "viewer/orvane_app.h"

namespace {

// Lets a script act on the simulated microscope as a user would on a real one: SIGUSR1 presses its
// snapshot button, SIGUSR2 unplugs it or plugs it back in. The signals are read by this thread from a
// signalfd, so the camera is never touched from inside a signal handler, and the thread sleeps until
// a signal comes or it is told to end.
class CameraSignals {
public:
    // Blocks the signals in the calling thread; call it before any other thread starts, so that
    // every thread inherits the mask and the signals wait for Run instead of ending the program.
    static sigset_t Block() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGUSR1);
        sigaddset(&set, SIGUSR2);
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
            }
        }
    }

    orvane::SimulatedCamera& camera;
    orvane::UniqueFd signalFd;
    orvane::UniqueFd stopFd;
    std::thread worker;
};

}  // namespace

// The viewer with a simulated USB microscope in place of the system's cameras, for trying the
// program and for the desktop tests on machines without a camera.
int main(int argc, char** argv) {
    const sigset_t cameraSignals = CameraSignals::Block();
    orvane::SimulatedCameraDefinition microscope =
        orvane::SimulatedCameraDefinition::UsbCamera("USB Microscope", "0c45", "6366", "ORV0001", "1");
    orvane::SimulatedDeviceFile cameras(std::vector<orvane::SimulatedCameraDefinition>{microscope});
    orvane::SetDeviceFile(&cameras);
    int result;
    {
        CameraSignals signals(cameras.Camera(0), cameraSignals);
        orvane::COrvaneApp::Options options;
        options.viewer.dialogs = orvane::ViewerDialogs();
        orvane::COrvaneApp app(std::move(options));
        result = app.Run(argc, argv);
    }
    orvane::SetDeviceFile(nullptr);
    return result;
}
