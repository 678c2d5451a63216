#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/device_file.h"

namespace orvane {

class IFrameSink;

// The camera's snapshot button: the input node (KEY_CAMERA) that belongs to the same USB device as
// the capture node. While the preview runs a thread of its own watches the button; each press makes
// the capture thread hand its next converted frame over, and this thread passes that copy to the
// still sink, so a photo is written without holding up the preview.
class CStillButton {
public:
    // sink: where the frames of the presses go (the program passes the still grabber); while null
    // the button is not watched.
    CStillButton(IDeviceFile& device, IFrameSink* sink);
    ~CStillButton();

    CStillButton(const CStillButton&) = delete;
    CStillButton& operator=(const CStillButton&) = delete;

    // Interface thread. Finds the button of `usbDevice`, opens it and starts watching; the still
    // sink gets the frame size width x height. False, silently, when the camera has no button
    // that can be opened (not on USB, no input node, no permission) or no thread could be started.
    bool Start(const std::string& usbDevice, int32_t width, int32_t height);
    // Whether the USB device has an input event node at all, whether or not it can be opened:
    // uvcvideo makes one only for a camera that declares a snapshot button. Any thread.
    static bool HasButtonNode(IDeviceFile& device, const std::string& usbDevice);

    // Interface thread. Ends the thread; after it returns the still sink is not called.
    void Stop();
    bool IsRunning() const { return thread.joinable(); }

    // Capture thread: whether a press waits for a frame.
    bool WantsFrame() const { return pressed.load(std::memory_order_acquire); }
    // Capture thread: hands over a copy of one converted, unturned frame for the waiting press.
    void OfferFrame(const uint8_t* bits, int32_t length);

    // Presses seen since Start (for tests and diagnostics).
    int32_t Presses() const { return presses.load(std::memory_order_relaxed); }

private:
    int OpenButton(const std::string& usbDevice);
    void Run();
    void CloseAll();

    IDeviceFile& device;
    IFrameSink* const sink;
    int inputFd = -1;  // through the seam
    int stopEvent = -1;
    int frameEvent = -1;
    std::thread thread;
    std::atomic<bool> pressed{false};
    std::atomic<int32_t> presses{0};

    std::mutex frameLock;  // guards offered and offeredReady
    std::vector<uint8_t> offered;
    bool offeredReady = false;
};

}  // namespace orvane
