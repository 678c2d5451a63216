#pragma once

#include <linux/usb/ch9.h>
#include <linux/usb/g_uvc.h>
#include <linux/usb/video.h>
#include <linux/videodev2.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "uvc_control_set.h"

namespace orvane::rig {

// One format of the gadget in the order of its streaming header (format index 1, 2, ...), with its
// frame sizes in the order of their frame indices.
struct FeederFormat {
    uint32_t pixelFormat = 0;  // V4L2_PIX_FMT_MJPEG or V4L2_PIX_FMT_YUYV
    std::vector<std::pair<int, int>> sizes;
};

struct FeederOptions {
    std::string node;  // the gadget's video output node
    std::vector<FeederFormat> formats;
    int framesPerSecond = 30;  // the rate the camera offers and the host negotiates
    int pace = 0;              // frames actually sent per second; 0: framesPerSecond
    uint8_t streamingInterface = 1;
    uint32_t maxPayloadTransferSize = 3072;  // the isochronous endpoint's bytes per service interval
    std::string patternCache = "/tmp/orvane-feeder";
};

// The program behind an emulated UVC camera: answers the host's class requests that the UVC gadget
// hands up as events (probe and commit of the streaming interface, the declared controls) and, while
// the host streams, queues frames of the test pattern at the committed format and size, paced at
// the frame rate. Waits in poll(2) on the node and a timer; never spins.
class UvcFeeder {
public:
    explicit UvcFeeder(FeederOptions options);
    ~UvcFeeder();
    UvcFeeder(const UvcFeeder&) = delete;
    UvcFeeder& operator=(const UvcFeeder&) = delete;

    // Prepares the frames, opens the node and subscribes to its events, which lets the gadget connect
    // to the host; `connected` is called then. Returns when the node goes away (the gadget was
    // unbound): 0, or 1 when the node could not be opened or set up.
    int Run(const std::function<void()>& connected);
    // Makes (or reads from the pattern cache) the frames of every format and size; false when one
    // cannot be made.
    bool PrepareFrames();

private:
    struct Buffer {
        void* start = nullptr;
        size_t length = 0;
    };

    void HandleEvent(const v4l2_event& event);
    void HandleSetup(const usb_ctrlrequest& request);
    void HandleData(const uvc_request_data& data);
    void HandleStreamingRequest(const usb_ctrlrequest& request);
    void Respond(const void* data, int length);
    void Stall(uint8_t errorCode);

    // Fills `control` with the nearest format, frame and interval the camera offers.
    void Negotiate(uvc_streaming_control& control) const;
    uvc_streaming_control Defaults() const;
    const std::vector<std::vector<uint8_t>>& FramesOf(int formatIndex, int frameIndex) const;

    bool StartStreaming();
    void StopStreaming();
    void ReclaimBuffers();
    void QueueFrame();

    const FeederOptions options;
    int fd = -1;
    int timerFd = -1;
    UvcControlSet controls;
    uvc_streaming_control probe{};
    uvc_streaming_control commit{};
    // The request whose data stage (UVC_EVENT_DATA) comes next.
    usb_ctrlrequest pendingSet{};
    bool setPending = false;

    // Per format, per frame size: the payloads of the pattern's phases.
    std::vector<std::vector<std::vector<std::vector<uint8_t>>>> frames;
    std::vector<Buffer> buffers;
    std::vector<uint32_t> freeBuffers;
    bool streaming = false;
    uint64_t sent = 0;
};

}  // namespace orvane::rig
