#include <vector>

#include "capture/device_file.h"
#include "capture/simulated_camera.h"
#include "dialogs/install_dialogs.h"
#include "viewer/orvane_app.h"

// The viewer with a simulated USB microscope in place of the system's cameras, for trying the
// program and for the desktop tests on machines without a camera.
int main(int argc, char** argv) {
    orvane::SimulatedCameraDefinition microscope =
        orvane::SimulatedCameraDefinition::UsbCamera("USB Microscope", "0c45", "6366", "ORV0001", "1");
    orvane::SimulatedDeviceFile cameras(std::vector<orvane::SimulatedCameraDefinition>{microscope});
    orvane::SetDeviceFile(&cameras);
    orvane::InstallDialogs();
    int result;
    {
        orvane::COrvaneApp app;
        result = app.Run(argc, argv);
    }
    orvane::SetDeviceFile(nullptr);
    return result;
}
