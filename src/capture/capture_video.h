#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/hresult.h"
#include "capture/camera_controls.h"
#include "capture/capture_viewer.h"
#include "capture/device_file.h"
#include "capture/frame_mailbox.h"
#include "capture/resolution_list.h"
#include "config/registry.h"
#include "config/setting.h"

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
    int64_t delivered = 0;    // frames converted and handed to the dispatcher
    int64_t dropped = 0;      // damaged frames skipped
    int64_t lost = 0;         // frames the camera made while no buffer was free (sequence gaps)
    int64_t threadCpuNs = 0;  // CPU time of the capture thread (CLOCK_THREAD_CPUTIME_ID)
    bool ended = false;       // the stream ended by itself (device gone)
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

    // Stops the running preview, then opens camera `index` (kWifiDeviceIndex: the wireless camera,
    // whose link is started), applies `resolution`, its remembered control values, and starts the
    // capture thread. `host` is not used (the live pane paints the mailbox's frames). On return a
    // request without interpolation holds the connected width and height. Returns S_OK, or the
    // failing code after its message was shown (a camera in use elsewhere: -EBUSY with the
    // not-preview text); what was set up stays until the next StopPreview.
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

    // Starts a recording through the recorder at framesPerSecond (12 when none is known, which then
    // stays until the next format configuration).
    void StartRecording(const std::string& path);
    void StopRecording();

    // Frame rate of the configured format; 0 = none found.
    int32_t GetFramesPerSecond() const { return framesPerSecond; }
    // Whether a preview was started and not stopped since (also when the start failed part way).
    bool HasVideoWindow() const { return built; }
    // Whether the capture thread delivers frames (false after the device went away).
    bool IsStreaming() const;
    bool HasStillBranch() const;
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
    // Shows the busy-device text and returns `code`.
    HRESULT ReportBusy(HRESULT code);

    bool BindDevice(int32_t index);
    std::vector<Capability> ListCapabilities(int fd) const;
    bool ListResolutions(const std::vector<Capability>& caps, int32_t& maxW, int32_t& maxH,
                         uint32_t& maxSubtype, bool publish);
    // Applies the requested format; -EBUSY when the device is in use, otherwise S_OK.
    HRESULT ConfigureCaptureFormat(const CaptureResolution& request);
    int32_t FindFrameRate(const std::vector<Capability>& caps, const CaptureResolution& request) const;
    int32_t CurrentFrameRate() const;
    void BuildStillBranch(int32_t width, int32_t height);

    void CaptureLoop();

    const CaptureVideoServices services;
    IDeviceFile* device = nullptr;  // the seam of the current preview
    ICaptureViewer* viewer = nullptr;
    std::function<void()> propertiesHandler;

    bool built = false;
    std::string boundIdentity;
    std::string boundUsbDevice;
    std::unique_ptr<Stream> stream;
    std::thread captureThread;
    CFrameMailbox mailbox;
    int32_t framesPerSecond = 0;

    std::atomic<int64_t> statFrames{0};
    std::atomic<int64_t> statDelivered{0};
    std::atomic<int64_t> statDropped{0};
    std::atomic<int64_t> statLost{0};
    std::atomic<int64_t> statCpuNs{0};
    std::atomic<bool> streamEnded{false};
};

}  // namespace orvane
