#include "viewer/device_selection.h"

#include <QSocketNotifier>
#include <utility>

#include "config/registry.h"
#include "config/setting_param_manage.h"
#include "dialogs/viewer_dialogs.h"

namespace orvane {

namespace {

constexpr const char* kVendorPrefix = "usb#vid_";
constexpr size_t kVendorIdLength = 4;

}  // namespace

CDeviceSelection::CDeviceSelection(IDeviceHost& viewer_, const CSettingParamManage& settings_, HKEY hive_,
                                   IDeviceFile* device)
    : QObject(nullptr), viewer(viewer_), settings(settings_), hive(hive_), monitor(device) {}

CDeviceSelection::~CDeviceSelection() {
    notifier.reset();
    monitor.Close();
}

std::string CDeviceSelection::GetDeviceIdentity(int32_t index) const {
    if (index == kWifiDeviceIndex) return kWifiDeviceName;
    const DeviceList& list = viewer.GetDeviceList();
    auto entry = list.find(index);
    return entry != list.end() ? entry->second.devicePath : std::string();
}

int32_t CDeviceSelection::FindDeviceIndex(const std::string& identity) const {
    for (const auto& [index, entry] : viewer.GetDeviceList()) {
        if (entry.devicePath == identity) return index;
    }
    return identity == kWifiDeviceName ? kWifiDeviceIndex : -1;
}

int32_t CDeviceSelection::DefaultDeviceIndex(const DeviceList& list,
                                             const std::vector<std::string>& vendorIds) {
    for (const auto& [index, entry] : list) {
        const std::string& path = entry.devicePath;
        const size_t at = path.find(kVendorPrefix);
        if (at == std::string::npos) continue;
        const size_t start = at + std::char_traits<char>::length(kVendorPrefix);
        std::string vid;
        if (start + kVendorIdLength <= path.size()) {
            vid = path.substr(start, kVendorIdLength);
        } else {
            vid = path.size() >= kVendorIdLength ? path.substr(path.size() - kVendorIdLength) : path;
        }
        for (const std::string& wanted : vendorIds) {
            if (vid == wanted) return index;
        }
    }
    return 0;
}

int32_t CDeviceSelection::FindDefaultDeviceIndex() const {
    std::vector<std::string> vendorIds;
    settings.GetUsingParam().GetVendorIdList(vendorIds);
    return DefaultDeviceIndex(viewer.GetDeviceList(), vendorIds);
}

int32_t CDeviceSelection::LoadPreviewedIdentity() const {
    CRegistry key(hive);
    if (!key.Create(kDeviceKey)) return -1;
    std::string identity;
    if (!key.ReadText(kIdentityValue, identity)) return -1;
    return FindDeviceIndex(identity);
}

void CDeviceSelection::SavePreviewedIdentity(const std::string& identity) {
    CRegistry key(hive);
    if (key.Create(kDeviceKey)) key.WriteText(kIdentityValue, identity);
}

uint32_t CDeviceSelection::PackResolution(int32_t width, int32_t height) {
    return ((static_cast<uint32_t>(width) & 0xFFFFu) << 16) | (static_cast<uint32_t>(height) & 0xFFFFu);
}

CaptureResolution CDeviceSelection::LoadPreviewedResolution() const {
    CaptureResolution resolution;
    CRegistry key(hive);
    if (!key.Create(kDeviceKey)) return resolution;
    uint32_t packed = 0;
    uint32_t interpolation = 0;
    if (!key.ReadDword(kResolutionValue, packed) || !key.ReadDword(kInterpolationValue, interpolation)) {
        return resolution;
    }
    resolution.width = static_cast<int32_t>(packed >> 16);
    resolution.height = static_cast<int32_t>(packed & 0xFFFFu);
    resolution.interpolation = interpolation != 0;
    return resolution;
}

void CDeviceSelection::SavePreviewedResolution(const CaptureResolution& resolution) {
    CRegistry key(hive);
    if (!key.Create(kDeviceKey)) return;
    if (key.WriteDword(kResolutionValue, PackResolution(resolution.width, resolution.height))) {
        key.WriteDword(kInterpolationValue, resolution.interpolation ? 1u : 0u);
    }
}

void CDeviceSelection::SavePreviewedDevice() {
    SavePreviewedIdentity(viewer.CurrentIdentity());
    SavePreviewedResolution(settings.GetUsingParam().GetCaptureResolution());
}

void CDeviceSelection::PreviewSavedOrDefaultDevice() {
    int32_t index = LoadPreviewedIdentity();
    CaptureResolution resolution;
    if (index < 0) {
        index = FindDefaultDeviceIndex();
    } else {
        resolution = LoadPreviewedResolution();
    }
    viewer.PreviewDevice(index, resolution);
}

void CDeviceSelection::OnStartPreview() {
    if (!viewer.GetDeviceList().empty()) {
        PreviewSavedOrDefaultDevice();
        return;
    }
    viewer.StopEverything();
    viewer.ShowNoCameraAlert();
    viewer.ForgetCurrentDevice();
}

bool CDeviceSelection::RegisterDeviceArrival() {
    notifier.reset();
    if (!monitor.Open()) return false;
    notifier = std::make_unique<QSocketNotifier>(monitor.Descriptor(), QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &CDeviceSelection::OnMonitorReadable);
    return true;
}

void CDeviceSelection::OnMonitorReadable() {
    // Telling a camera node from the others opens it, which a camera may take a while to answer.
    // The socket stays readable until then, so it is not watched meanwhile.
    notifier->setEnabled(false);
    if (viewer.DeviceWorkBusy()) {
        // Another device call is under way and the window waits for it: a change of the list now
        // would pull the camera from under it. Looked at once it is over.
        monitorHeld = true;
        return;
    }
    bool changed = false;
    viewer.RunDeviceWork([&] { changed = !monitor.ReadEvents().empty(); });
    notifier->setEnabled(true);
    // One re-enumeration answers every event that waited together (a replug, several nodes).
    if (changed) OnDeviceChanged();
}

void CDeviceSelection::OnDeviceWorkIdle() {
    // Still readable, so the notifier fires again from the event loop.
    if (std::exchange(monitorHeld, false) && notifier) notifier->setEnabled(true);
}

void CDeviceSelection::OnDeviceChanged() {
    const size_t oldCount = viewer.GetDeviceList().size();
    viewer.EnumDevices();
    if (IViewerSettingsDialog* dialog = viewer.SettingsDialog()) dialog->FillDeviceList();

    if (viewer.GetDeviceList().empty()) {
        // One box: the notice of the ended action says the camera went, else the no-camera box.
        if (!viewer.StopEverythingForRemovedCamera()) viewer.ShowNoCameraAlert();
        viewer.ForgetCurrentDevice();
    } else if (oldCount == 0) {
        viewer.StopEverything();
        PreviewSavedOrDefaultDevice();
    } else if (FindDeviceIndex(viewer.CurrentIdentity()) >= 0) {
        // The previewed camera is still there: the preview and any capture action go on.
    } else {
        viewer.StopEverythingForRemovedCamera();
        PreviewSavedOrDefaultDevice();
    }
}

}  // namespace orvane
