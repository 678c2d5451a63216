#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/setting.h"

namespace orvane {

class CLocalizableString;
class IPreviewControl;
class CSettingDlg;
class CSettingParamManage;

// The upper section of the settings dialog: the camera and its capture format, the movie sizes the
// camera offers, and the link to the wireless camera. Unlike the rest of the dialog it acts at once,
// through the viewer: choosing a camera restarts the preview, Connect previews the wireless camera.
// It reads the viewer's camera list, format list and previewed identity and never lists devices
// itself. Without a viewer it does nothing. Interface thread only.
class CSettingDeviceSection {
public:
    CSettingDeviceSection(CSettingDlg& dialog, IPreviewControl* viewer, CSettingParamManage& settings,
                          CLocalizableString& strings);

    // The viewer's cameras, then the wireless item when the settings have "haswifi"; selects the
    // previewed device and shows the wireless fields when that is the wireless item.
    void FillDeviceList();
    // The capture formats of the previewed device with the stored capture format selected, and the
    // movie sizes without repeats with the stored movie size selected.
    void FillResolutionLists();
    // A camera chosen in the list: previewed at once (the wireless camera only through Connect).
    void OnDeviceSelected();
    // Connect (the settings' address and port written first when they changed) or Disconnect.
    void OnConnect();
    // A preview started while the dialog is open: lists refilled, the device and the wireless
    // fields brought in line with what is previewed.
    void OnPreviewStarted();

    // The format carried by the selected item of the format list; all zero when none is selected.
    CaptureResolution GetSelectedCaptureResolution() const;
    // Whether the viewer previews the wireless camera.
    bool IsPreviewingWifi() const;
    // Whether list position p is the wireless item: the last item, named as the settings name it.
    bool IsWifiItem(int p) const;
    void ShowWifiFields(bool show);
    // The wireless fields with More..., the format list and the device list; a control held by the
    // busy state stays disabled.
    void EnableWifiFields(bool enable);
    void UpdateConnectCaption();
    // Selects the last movie size equal to target's width and height; none when there is none.
    void SelectMovieSize(const CaptureResolution& target);

    // The formats behind the items of the format list, in list order.
    const std::vector<CaptureResolution>& Formats() const { return formats; }

    // "%d X %d"
    static std::string SizeText(int32_t width, int32_t height);
    // "YUV", "MJPG" or "" for the format class of a pixel format.
    static std::string ClassText(uint32_t subtype);

private:
    // The list position of the previewed device (the wireless item after the cameras); -1 for none.
    int PreviewedPosition() const;
    void SelectPreviewedDevice();

    CSettingDlg& dialog;
    IPreviewControl* const viewer;
    CSettingParamManage& settings;
    CLocalizableString& strings;
    std::vector<CaptureResolution> formats;
};

}  // namespace orvane
