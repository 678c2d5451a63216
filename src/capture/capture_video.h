#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/frame_rate.h"
#include "base/hresult.h"
#include "capture/camera_controls.h"
#include "capture/capture_viewer.h"
#include "capture/device_file.h"
#include "capture/frame_mailbox.h"
#include "capture/resolution_list.h"
#include "config/registry.h"
#include "config/setting.h"

struct v4l2_fract;

namespace orvane {

class CLocalizableString;
class CWifiDeviceProxy;
class IFrameSink;
class IMovieRecorder;

// What the capture object works with; a null member means the process-wide one.
struct CaptureVideoServices {
    IDeviceFile* device = nullptr;  // CurrentDeviceFile() at each use
    CWifiDeviceProxy* wifiLink = nullptr;
    CLocalizableString* strings = nullptr;
    HKEY hive = nullptr;  // where camera control values are remembered
    // Where the frames go; no frames are handed on while null.
    IFrameSink* previewSink = nullptr;
    IFrameSink* stillSink = nullptr;  // the frames of the snapshot button
    // Where recordings go; nothing is recorded while null.
    IMovieRecorder* recorder = nullptr;
};

// The capture thread's account of its work since the preview started.
struct CaptureStats {
    int64_t frames = 0;       // frames dequeued
    int64_t delivered = 0;    // frames converted and shown (the whole ones also handed to the dispatcher)
    int64_t viewFrames = 0;   // of those, frames converted only at the size the live pane shows
    int64_t dropped = 0;      // damaged frames skipped
    int64_t lost = 0;         // frames the camera made while no buffer was free (sequence gaps)
    int64_t threadCpuNs = 0;  // CPU time of the capture thread (CLOCK_THREAD_CPUTIME_ID)
    int64_t restarts = 0;     // times the stream was restarted after it stopped delivering frames
    bool ended = false;       // the stream ended by itself (device gone, or stalled for good)
    bool stalled = false;     // it ended because it delivered no frames even after a restart
    // The frames the camera sends could not be used for a second's worth in a row (damaged, empty,
    // unreadable), and none could since.
    bool unreadable = false;
};

// The capture object of the main viewer: lists the cameras, opens one, applies the requested format,
// and runs a capture thread that converts every frame to bottom-up BGR24, hands it to the preview
// sink and then to the live pane's mailbox. A camera with a snapshot button also feeds the still
// sink.
//
// Every operation runs on the interface thread. Failures are shown through ShowAlert where the
// operation says so.
class CCaptureVideo {
public:
    explicit CCaptureVideo(const CaptureVideoServices& services = {});
    // Stops the preview.
    ~CCaptureVideo();

    CCaptureVideo(const CCaptureVideo&) = delete;
    CCaptureVideo& operator=(const CCaptureVideo&) = delete;

    // The viewer that receives the resolution list and answers the no-preference size; may be null.
    void SetViewer(ICaptureViewer* viewer) { this->viewer = viewer; }

    // Fills `list` with the cameras that have an identity (index 0, 1, ... in the system's order;
    // the wireless camera is never listed). Returns their number; -1 when the system has no camera
    // at all.
    int32_t EnumDevices(DeviceList& list);

    // Stops the running preview, then opens camera `index` (the camera at that place in the list
    // EnumDevices last gave out, wherever it is now; kWifiDeviceIndex: the wireless camera,
    // whose link is started), applies `resolution`, its remembered control values, and starts the
    // capture thread. `host` is not used (the live pane paints the mailbox's frames). On return a
    // request without interpolation holds the connected width and height. Without a requested
    // subtype the format with the highest frame rate at the size is taken; the fastest rate is set
    // and the rate the camera grants read back. A camera that gets too little USB bandwidth is tried
    // again with MJPG, then with smaller sizes. Returns S_OK, or the failing code after its message
    // was shown (FormatDeviceError: in use elsewhere, bandwidth, permission, the system's text);
    // what was set up stays until the next StopPreview.
    HRESULT StartPreview(int32_t index, void* host, CaptureResolution& resolution);

    // Ends the wireless link, the capture thread and the still branch, and closes the device. After
    // it returns no frame callback runs. Harmless when nothing runs.
    void StopPreview();

    // The live pane scales the frames itself; kept for the viewer's message handling.
    void ResizeVideoWindow() {}

    // Without a started preview: the no-camera message. Otherwise the handler (the camera controls
    // dialog) when one is set and the device is open.
    void ShowDeviceProperties();
    void SetDevicePropertiesHandler(std::function<void()> handler) { propertiesHandler = std::move(handler); }

    // Starts a recording through the recorder at the negotiated frame rate (12 frames per second when
    // none is known, which then stays until the next format configuration).
    void StartRecording(const std::string& path);
    void StopRecording();

    // Frame rate the camera granted for the configured format, exactly; not valid when none is known.
    FrameRate GetFrameRate() const { return frameRate; }
    // The same in whole frames per second, rounded down; 0 = none known.
    int32_t GetFramesPerSecond() const { return frameRate.Whole(); }
    // The pixel format the camera streams (V4L2 FOURCC); 0 when no format is configured.
    uint32_t StreamingPixelFormat() const { return streamingPixelFormat; }

    // Called on the capture thread when the stream stopped delivering frames and a restart did not
    // bring them back (after its message was shown); the stream has ended then. Set before a start.
    void SetStreamLostHandler(std::function<void()> handler) { streamLostHandler = std::move(handler); }
    // Called on the capture thread when the camera's frames stopped being usable (a second's worth
    // in a row dropped) and when a usable one came again after that; CaptureStats::unreadable tells
    // which. Once each way per run. Set before a start.
    void SetFramesUnreadableHandler(std::function<void()> handler) {
        framesUnreadableHandler = std::move(handler);
    }
    // Whether a preview was started and not stopped since (also when the start failed part way).
    bool HasVideoWindow() const { return built; }
    // Whether the capture thread delivers frames (false after the device went away).
    bool IsStreaming() const;
    bool HasStillBranch() const;
    // Whether the previewed camera has a snapshot button, found when the preview started (also when
    // it cannot be read for want of permission); the wireless camera's shutter counts as one. False
    // when no preview runs.
    bool HasSnapshotButton() const { return snapshotButton; }
    // Identity of the bound camera ("wifi device" for the wireless one); empty when none is bound.
    const std::string& BoundIdentity() const { return boundIdentity; }

    // Where the capture thread leaves the newest (turned) frame for the live pane.
    CFrameMailbox& LiveFrames() { return mailbox; }
    // Any thread.
    CaptureStats GetCaptureStats() const;

    // The controls of the open camera; empty / false when no camera is open. A written value is
    // remembered for the camera's identity and set again at its next preview start.
    std::vector<CameraControl> GetControls();
    bool GetControl(uint32_t id, int32_t& value);
    bool SetControl(uint32_t id, int32_t value);

private:
    struct Capability;
    class Stream;

    IDeviceFile& Device() const;
    CWifiDeviceProxy& WifiLink() const;
    CLocalizableString& Strings() const;

    // Shows the failure text for `code` and returns it.
    HRESULT Report(HRESULT code);
    // Shows the text that names what went wrong with the device (FormatDeviceError) and returns `code`.
    HRESULT ReportDevice(HRESULT code);

    // S_OK, SPAPI_E_NO_DEVICE_SELECTED when the index names no camera, or the negative errno of a
    // failed open.
    HRESULT BindDevice(int32_t index);
    std::vector<Capability> ListCapabilities(int fd) const;
    // The shortest frame interval offered for the format and size; 0/0 when the driver states none.
    v4l2_fract FastestInterval(int fd, uint32_t pixelFormat, uint32_t width, uint32_t height) const;
    bool ListResolutions(const std::vector<Capability>& caps, int32_t& maxW, int32_t& maxH,
                         uint32_t& maxSubtype, bool publish);
    // Applies the requested format; -EBUSY when the device is in use, otherwise S_OK.
    HRESULT ConfigureCaptureFormat(const std::vector<Capability>& caps, const CaptureResolution& request);
    // Sets the format and its fastest frame rate and reads back the rate granted. -EBUSY when the device
    // is in use, otherwise S_OK (a refused format leaves the current one).
    HRESULT ApplyFormat(const std::vector<Capability>& caps, uint32_t pixelFormat, int32_t width,
                        int32_t height);
    // Reads the connected format, readies the converter and maps the buffers; `resolution` as in
    // StartPreview. A failing ioctl's negative errno.
    HRESULT PrepareBuffers(CaptureResolution& resolution);
    // The next lighter format to try after a refusal for bandwidth; false when there is none.
    bool NextLighterFormat(const std::vector<Capability>& caps, Capability& next) const;
    void BuildStillBranch(int32_t width, int32_t height);

    void CaptureLoop();
    // Capture thread: STREAMOFF, every buffer queued again, STREAMON. False when that failed.
    bool RestartStream();

    const CaptureVideoServices services;
    IDeviceFile* device = nullptr;  // the seam of the current preview
    ICaptureViewer* viewer = nullptr;
    std::function<void()> propertiesHandler;
    std::function<void()> streamLostHandler;
    std::function<void()> framesUnreadableHandler;

    bool built = false;
    // The identities of the last list EnumDevices gave out, by index: the index a caller chose from
    // that list names the camera it saw there, whatever came or went since.
    std::vector<std::string> listedIdentities;
    std::string boundIdentity;
    std::string boundUsbDevice;
    bool snapshotButton = false;
    std::unique_ptr<Stream> stream;
    std::thread captureThread;
    CFrameMailbox mailbox;
    FrameRate frameRate{0, 1};
    uint32_t streamingPixelFormat = 0;

    std::atomic<int64_t> statFrames{0};
    std::atomic<int64_t> statDelivered{0};
    std::atomic<int64_t> statViewFrames{0};
    std::atomic<int64_t> statDropped{0};
    std::atomic<int64_t> statLost{0};
    std::atomic<int64_t> statCpuNs{0};
    std::atomic<int64_t> statRestarts{0};
    std::atomic<bool> streamEnded{false};
    std::atomic<bool> streamStalled{false};
    std::atomic<bool> framesUnreadable{false};
};

}  // namespace orvane
