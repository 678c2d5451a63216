#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <ctime>
#include <thread>
#include <vector>

#include "capture/device_file.h"
#include "dialogs/install_dialogs.h"
#include "simulation/simulated_camera.h"
#include "viewer/orvane_app.h"

namespace {

// Lets a script act on the simulated microscope as a user would on a real one: SIGUSR1 presses its
// snapshot button, SIGUSR2 unplugs it or plugs it back in. The signals are taken by this thread
// with sigtimedwait, so the camera is never touched from inside a signal handler.
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

    CameraSignals(orvane::SimulatedCamera& camera_, const sigset_t& signals_)
        : camera(camera_), signals(signals_) {
        worker = std::thread([this] { Run(); });
    }
    ~CameraSignals() {
        stop.store(true);
        worker.join();
    }
    CameraSignals(const CameraSignals&) = delete;
    CameraSignals& operator=(const CameraSignals&) = delete;

private:
    void Run() {
        const timespec poll{0, 200 * 1000 * 1000};
        while (!stop.load()) {
            const int signal = sigtimedwait(&signals, nullptr, &poll);
            if (signal == SIGUSR1) {
                camera.PressSnapshotButton();
            } else if (signal == SIGUSR2) {
                if (camera.IsPlugged()) {
                    camera.Unplug();
                } else {
                    camera.Plug();
                }
            }
        }
    }

    orvane::SimulatedCamera& camera;
    sigset_t signals;
    std::atomic<bool> stop{false};
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
    orvane::InstallDialogs();
    int result;
    {
        CameraSignals signals(cameras.Camera(0), cameraSignals);
        orvane::COrvaneApp app;
        result = app.Run(argc, argv);
    }
    orvane::SetDeviceFile(nullptr);
    return result;
}
