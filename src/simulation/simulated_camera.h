#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/frame_rate.h"
#include "capture/device_file.h"

namespace orvane {

struct ReplayFrames;

// One frame size of a simulated format, with its frame rates in frames per second, fastest first.
// A camera that states its frame intervals exactly (333667 for 29.97 frames per second) lists them in
// `intervals`, in 100 ns units as UVC descriptors do; they then take the place of framesPerSecond.
struct SimulatedFrameSize {
    SimulatedFrameSize() = default;
    SimulatedFrameSize(int width, int height, std::vector<int> framesPerSecond,
                       std::vector<uint32_t> intervals = {})
        : width(width),
          height(height),
          framesPerSecond(std::move(framesPerSecond)),
          intervals(std::move(intervals)) {}

    int width = 0;
    int height = 0;
    std::vector<int> framesPerSecond;
    std::vector<uint32_t> intervals;
};

// One pixel format of a simulated camera with its sizes in the order the camera lists them.
struct SimulatedFormat {
    uint32_t pixelFormat = 0;  // V4L2_PIX_FMT_...
    std::string description;
    std::vector<SimulatedFrameSize> sizes;
};

// What a simulated camera looks like to the system.
struct SimulatedCameraDefinition {
    std::string card;  // VIDIOC_QUERYCAP card name
    std::string driver = "uvcvideo";
    std::string busInfo;  // VIDIOC_QUERYCAP bus_info
    // A USB camera has the USB udev properties, a metadata node beside its capture node and, when
    // snapshotButton is set, an input node for its button.
    bool usb = true;
    std::string vendorId;  // lower-case hex, "0c45"
    std::string modelId;   // lower-case hex, "6366"
    std::string serial;    // ID_SERIAL_SHORT; may be empty
    // The USB product string ("" for a camera without strings; UsbCamera takes the card name) and
    // the USB ID database's model name (ID_MODEL_FROM_DATABASE; "" when the database has none).
    std::string product;
    std::string modelFromDatabase;
    // USB port chain ("1", "2.3"): ID_PATH and the sysfs path of the USB device. Empty fields of a
    // USB camera give no property, as for a device that does not report them.
    std::string port = "1";
    bool snapshotButton = true;
    // A capture node of a media-controller pipeline (V4L2_CAP_IO_MC), and one without streaming I/O.
    bool mediaController = false;
    bool streaming = true;
    std::vector<SimulatedFormat> formats;
    // When set, the camera streams these frames in order, over and over, in place of the test pattern;
    // its one format is theirs (see ReplayCamera).
    std::shared_ptr<const ReplayFrames> replay;

    // A USB camera with StandardFormats(), a metadata node and a snapshot button.
    static SimulatedCameraDefinition UsbCamera(const std::string& card, const std::string& vendorId,
                                               const std::string& modelId, const std::string& serial,
                                               const std::string& port);
    // `camera` offering `frames` (not null) as its only format and size, at `rate`: the frames' own
    // rate when that is not valid, else 30 frames per second.
    static SimulatedCameraDefinition ReplayCamera(SimulatedCameraDefinition camera,
                                                  std::shared_ptr<const ReplayFrames> frames,
                                                  FrameRate rate = {});
    // The wireless device: card name "wifi device", no USB properties, no metadata node, no button.
    static SimulatedCameraDefinition WifiCamera();
    // YUYV then MJPG, in an order that exercises the resolution list: YUYV 640x480, 848x480 (same
    // height, other width), 1280x720, 1920x1080, 2592x1944; MJPG 1920x1080, 640x480, 1280x720,
    // 2592x1944. 30, 15 and 10 fps up to 1920x1080, 15 and 5 fps at 2592x1944.
    static std::vector<SimulatedFormat> StandardFormats();
};

// How a stream that stops delivering frames without an error comes back.
enum class StallKind {
    UntilRestart,  // STREAMOFF and STREAMON bring the frames back (a camera that lost its sync)
    UntilReplug,   // only unplugging and plugging it in again do (a frozen camera firmware)
};

// How a corrupt MJPG frame is damaged.
enum class CorruptFrame {
    Truncated,  // the payload stops part way through the picture
    Garbage,    // start-of-image marker followed by noise
};

class SimulatedDeviceFile;
struct SimulatedOpenFile;

// One camera of a SimulatedDeviceFile. The on-demand methods may be called from any thread while
// the capture code uses the camera.
//
// Frames carry a test pattern, as the picture is meant to be seen (first row = top): the top half in
// kTopColour, the bottom half in kBottomColour, a kMarkerColour square of side height / 8 in the
// top-left corner, and a kBarColour vertical bar, width / 16 wide, that steps to the right with every
// frame through the right three quarters of the picture; the left quarter never shows the bar.
// YUYV frames are BT.601 limited-range YUV, MJPG frames real JPEGs. A replay camera's frames are
// its recording's instead.
class SimulatedCamera {
public:
    struct Colour {
        uint8_t red, green, blue;
    };
    static constexpr Colour kTopColour{200, 40, 40};
    static constexpr Colour kBottomColour{40, 40, 200};
    static constexpr Colour kMarkerColour{240, 240, 240};
    static constexpr Colour kBarColour{40, 200, 40};

    ~SimulatedCamera();
    SimulatedCamera(const SimulatedCamera&) = delete;
    SimulatedCamera& operator=(const SimulatedCamera&) = delete;

    const SimulatedCameraDefinition& Definition() const;
    // Device node paths; "" for a node the camera does not have.
    std::string VideoNode() const;
    std::string MetadataNode() const;
    std::string InputNode() const;
    // The sysfs path of the camera's USB device ("" for the wireless camera).
    std::string UsbDevice() const;

    // Queues KEY_CAMERA press, EV_SYN, release, EV_SYN for every open input node of the camera.
    // Does nothing while the camera is unplugged or has no button.
    void PressSnapshotButton();
    // Takes the camera away: every later call on its open descriptors fails with ENODEV, waiting
    // DQBUF and poll wake up, its nodes leave the lists and "remove" events are raised.
    void Unplug();
    // Brings it back under the same node names with "add" events; descriptors opened before the
    // unplug stay dead.
    void Plug();
    bool IsPlugged() const;
    // While busy (another program owns the device), S_FMT, REQBUFS and STREAMON give EBUSY.
    void SetBusy(bool busy);
    // Opening the video node fails with `error` (EACCES or EPERM without permission, EBUSY for a
    // driver that allows one user, EIO ...); 0 lets it open again.
    void SetOpenError(int error);
    // The isochronous bandwidth left for this camera on its bus, in bytes per second; 0 = enough for
    // anything. STREAMON fails with ENOSPC, as uvcvideo's does, when the format needs more: an
    // uncompressed format needs its whole frame size per frame, MJPG a sixth of it.
    void SetUsbBandwidth(uint64_t bytesPerSecond);
    // STREAMON fails with `error` (EPIPE or EIO when the camera stalls the commit of the format, as
    // uvcvideo reports it); 0 lets it start again.
    void SetStreamOnError(int error);
    // The stream keeps running but delivers no more frames, without any error.
    void StopDelivering(StallKind kind);
    // Damages the next `count` MJPG frames (not a replay's: those are sent as recorded).
    void CorruptNextMjpgFrames(int count, CorruptFrame kind = CorruptFrame::Truncated);
    // A slow source delivers a frame at most every frameIntervalMs, whatever the frame rate; 0 ends it.
    void SetSlowSource(int frameIntervalMs);
    // Frames completed into buffers since the camera was created.
    uint64_t FramesDelivered() const;

private:
    friend class SimulatedDeviceFile;
    struct Impl;

    SimulatedCamera(SimulatedDeviceFile& owner, SimulatedCameraDefinition definition, int videoNumber,
                    int inputNumber);

    std::unique_ptr<Impl> impl;
};

// A set of simulated V4L2 cameras behind the device seam; install it with SetDeviceFile. Nodes live
// only inside this object (their names look like "/dev/video0"; no real device is touched). The
// descriptors it hands out are eventfds, readable while poll would report an event. Thread-safe.
class SimulatedDeviceFile final : public IDeviceFile {
public:
    SimulatedDeviceFile();
    explicit SimulatedDeviceFile(const std::vector<SimulatedCameraDefinition>& cameras);
    ~SimulatedDeviceFile() override;
    SimulatedDeviceFile(const SimulatedDeviceFile&) = delete;
    SimulatedDeviceFile& operator=(const SimulatedDeviceFile&) = delete;

    // Two USB cameras and the wireless device, for the demo program.
    static std::vector<SimulatedCameraDefinition> DemoCameras();

    // Plugs in one more camera; its nodes take the next free numbers and "add" events are raised.
    // The camera lives as long as this object.
    SimulatedCamera& AddCamera(const SimulatedCameraDefinition& definition);
    SimulatedCamera& Camera(size_t index);
    size_t CameraCount() const;

    // Descriptors handed out by Open and not yet closed, and areas mapped by Mmap and not yet
    // unmapped: what a well-behaved user leaves at 0.
    size_t OpenDescriptors() const;
    size_t MappedAreas() const;

    int Open(const std::string& path, int flags) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    void* Mmap(size_t length, int prot, int flags, int fd, off_t offset) override;
    int Munmap(void* address, size_t length) override;
    int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) override;
    ssize_t Read(int fd, void* buffer, size_t size) override;
    std::vector<DeviceNode> ListNodes(const std::string& subsystem) override;
    int OpenMonitor() override;
    bool ReadEvent(int monitorFd, DeviceEvent& event) override;
    void CloseMonitor(int monitorFd) override;

private:
    friend class SimulatedCamera;
    struct Tables;

    std::shared_ptr<SimulatedOpenFile> FindFile(int fd) const;
    // Called by a camera without any of its locks held.
    void RaiseEvents(const std::vector<DeviceEvent>& events);

    std::unique_ptr<Tables> tables;
};

}  // namespace orvane
