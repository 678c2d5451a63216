#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/device_monitor.h"
#include "capture/resolution_list.h"
#include "config/registry.h"
#include "config/setting.h"

class QSocketNotifier;

namespace orvane {

class CSettingParamManage;
class IDeviceFile;
class IViewerSettingsDialog;

// What device selection needs of the viewer: its camera list, the previewed camera, and the means
// to preview, stop and tell. Interface thread only.
class IDeviceHost {
public:
    virtual ~IDeviceHost() = default;
    virtual const DeviceList& GetDeviceList() const = 0;
    // Lists the cameras again into GetDeviceList(); the number listed.
    virtual int32_t EnumDevices() = 0;
    // Runs work that questions devices off the interface thread and returns when it is done.
    virtual void RunDeviceWork(const std::function<void()>& work) = 0;
    // True while such work is under way (the window's loop keeps turning meanwhile).
    virtual bool DeviceWorkBusy() const = 0;
    // "" while nothing is previewed.
    virtual const std::string& CurrentIdentity() const = 0;
    virtual bool PreviewDevice(int32_t deviceIndex, CaptureResolution resolution) = 0;
    // Ends every capture action and the preview.
    virtual void StopEverything() = 0;
    // The same after the previewed camera was pulled out; a running series or recording is told.
    // True when it was.
    virtual bool StopEverythingForRemovedCamera() = 0;
    virtual void ForgetCurrentDevice() = 0;
    virtual void ShowNoCameraAlert() = 0;
    // The open settings dialog, told when the camera list changes; nullptr when none is open.
    virtual IViewerSettingsDialog* SettingsDialog() const = 0;
};

// Which camera the main viewer previews: finds devices by identity, picks the remembered camera or
// the first of a preferred vendor, remembers the previewed camera with its capture resolution under
// "Software\zentrova", and follows cameras being plugged in and pulled out. Interface thread only.
class CDeviceSelection final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kDeviceKey = "Software\\zentrova";
    static constexpr const char* kIdentityValue = "indentityofpreviewed";
    static constexpr const char* kResolutionValue = "captureresolution";
    static constexpr const char* kInterpolationValue = "interpolation";

    // hive: where the values are kept (nullptr: the current user's); device: the hot-plug source's
    // seam (nullptr: the one in force when watching starts).
    CDeviceSelection(IDeviceHost& viewer, const CSettingParamManage& settings, HKEY hive, IDeviceFile* device);
    ~CDeviceSelection() override;

    // "wifi device" for kWifiDeviceIndex, the device path of a listed index, else "".
    std::string GetDeviceIdentity(int32_t index) const;
    // The first listed index with that identity; kWifiDeviceIndex for "wifi device"; else -1.
    int32_t FindDeviceIndex(const std::string& identity) const;
    // The first listed camera whose USB vendor id is in the settings' vendor list, else 0.
    int32_t FindDefaultDeviceIndex() const;
    static int32_t DefaultDeviceIndex(const DeviceList& list, const std::vector<std::string>& vendorIds);

    // The index of the remembered camera; -1 when none is remembered or it is not listed.
    int32_t LoadPreviewedIdentity() const;
    // Failures are silent.
    void SavePreviewedIdentity(const std::string& identity);
    // The remembered size and interpolation (any subtype); all zero unless both values are stored.
    CaptureResolution LoadPreviewedResolution() const;
    // Failures are silent.
    void SavePreviewedResolution(const CaptureResolution& resolution);
    // The previewed camera and the capture resolution of the current settings.
    void SavePreviewedDevice();
    // (width << 16) | height, each side taken to its low 16 bits.
    static uint32_t PackResolution(int32_t width, int32_t height);

    // The remembered camera at its remembered size, else the default camera at the size the capture
    // object chooses.
    void PreviewSavedOrDefaultDevice();
    // The first preview after set-up.
    void OnStartPreview();

    // Starts following arrivals and removals; false when the system offers no hot-plug source.
    bool RegisterDeviceArrival();
    bool IsWatching() const { return notifier != nullptr; }
    void OnDeviceChanged();
    // The device call under way is over: arrivals and removals that came meanwhile are looked at.
    void OnDeviceWorkIdle();

private:
    void OnMonitorReadable();

    IDeviceHost& viewer;
    const CSettingParamManage& settings;
    const HKEY hive;
    CDeviceMonitor monitor;
    std::unique_ptr<QSocketNotifier> notifier;
    bool monitorHeld = false;
};

}  // namespace orvane
