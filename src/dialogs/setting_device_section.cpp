#include "dialogs/setting_device_section.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include "base/text.h"
#include "capture/capture_video.h"
#include "capture/resolution_list.h"
#include "config/setting_param_manage.h"
#include "dialogs/ip_address_edit.h"
#include "dialogs/setting_controls.h"
#include "dialogs/setting_dlg.h"
#include "dialogs/setting_validation.h"
#include "localization/localizable_string.h"
#include "viewer/main_viewer_dlg.h"

namespace orvane {

using namespace setting_id;

namespace {

uint32_t PackSize(int32_t width, int32_t height) {
    return (static_cast<uint32_t>(width) << 16) | (static_cast<uint32_t>(height) & 0xFFFFu);
}

}  // namespace

CSettingDeviceSection::CSettingDeviceSection(CSettingDlg& dialog, CMainViewerDlg* viewer,
                                             CSettingParamManage& settings, CLocalizableString& strings)
    : dialog(dialog), viewer(viewer), settings(settings), strings(strings) {}

std::string CSettingDeviceSection::SizeText(int32_t width, int32_t height) {
    return Format("%d X %d", width, height);
}

std::string CSettingDeviceSection::ClassText(uint32_t subtype) {
    switch (FormatClass(subtype)) {
        case 1:
            return "YUV";
        case 2:
            return "MJPG";
        default:
            return "";
    }
}

bool CSettingDeviceSection::IsPreviewingWifi() const {
    return viewer != nullptr && viewer->CurrentIdentity() == kWifiDeviceName;
}

bool CSettingDeviceSection::IsWifiItem(int p) const {
    const QComboBox* list = dialog.ControlAs<QComboBox>(kDeviceList);
    if (p < 0 || p != list->count() - 1) return false;
    return list->itemText(p).toStdString() == settings.GetUsingParam().wifidevicename;
}

int CSettingDeviceSection::PreviewedPosition() const {
    int32_t index = viewer->FindDeviceIndex(viewer->CurrentIdentity());
    if (index == kWifiDeviceIndex) index = static_cast<int32_t>(viewer->GetDeviceList().size());
    return index < dialog.ControlAs<QComboBox>(kDeviceList)->count() ? index : -1;
}

void CSettingDeviceSection::SelectPreviewedDevice() {
    QComboBox* list = dialog.ControlAs<QComboBox>(kDeviceList);
    if (list->count() == 0) return;
    {
        const QSignalBlocker quiet(list);
        list->setCurrentIndex(PreviewedPosition());
    }
    if (list->currentIndex() >= 0) {
        ShowWifiFields(IsWifiItem(list->currentIndex()));
        UpdateConnectCaption();
    }
}

void CSettingDeviceSection::FillDeviceList() {
    QComboBox* list = dialog.ControlAs<QComboBox>(kDeviceList);
    const QSignalBlocker quiet(list);
    list->clear();
    if (viewer == nullptr) return;
    for (const auto& [index, entry] : viewer->GetDeviceList())
        list->addItem(QString::fromStdString(entry.friendlyName));
    const CSettingParam param = settings.GetUsingParam();
    if (param.haswifi != 0) list->addItem(QString::fromStdString(param.wifidevicename));
    SelectPreviewedDevice();
}

void CSettingDeviceSection::FillResolutionLists() {
    if (viewer == nullptr) return;
    const CSettingParam param = settings.GetUsingParam();
    const ResolutionList& offered = viewer->GetResolutionList();
    const bool wifi = IsPreviewingWifi();

    QComboBox* formatList = dialog.ControlAs<QComboBox>(kResolutionList);
    {
        const QSignalBlocker quiet(formatList);
        formatList->clear();
        formats.clear();
        const CaptureResolution& stored = param.GetCaptureResolution();
        const std::string interpolation =
            " (" + strings.GetString(keys::kSettingComoboItemInterpolation) + ")";
        int candidate = -1;
        size_t position = 0;
        for (const auto& [key, entry] : offered) {
            std::string text = SizeText(entry.width, entry.height) + " " + ClassText(entry.subtype);
            if (!wifi && position + 1 == offered.size()) text += interpolation;
            formatList->addItem(QString::fromStdString(text), static_cast<int>(formats.size()));
            formats.push_back(entry);
            if (entry.width == stored.width && entry.height == stored.height &&
                (entry.subtype == stored.subtype || stored.subtype == 0)) {
                candidate = static_cast<int>(position);
            }
            ++position;
        }
        formatList->setCurrentIndex(candidate);
    }

    QComboBox* sizeList = dialog.ControlAs<QComboBox>(kMovieSizeList);
    const QSignalBlocker quiet(sizeList);
    sizeList->clear();
    int32_t lastWidth = 0;
    int32_t lastHeight = 0;
    for (const auto& [key, entry] : offered) {
        if (entry.interpolation) continue;
        if (entry.width == lastWidth && entry.height == lastHeight) continue;
        sizeList->addItem(QString::fromStdString(SizeText(entry.width, entry.height)),
                          PackSize(entry.width, entry.height));
        lastWidth = entry.width;
        lastHeight = entry.height;
    }
    SelectMovieSize(param.GetMovieResolution());
}

void CSettingDeviceSection::SelectMovieSize(const CaptureResolution& target) {
    QComboBox* sizeList = dialog.ControlAs<QComboBox>(kMovieSizeList);
    const QSignalBlocker quiet(sizeList);
    int selection = -1;
    const uint32_t wanted = PackSize(target.width, target.height);
    for (int i = 0; i < sizeList->count(); ++i) {
        if (sizeList->itemData(i).toUInt() == wanted && sizeList->itemData(i).isValid()) selection = i;
    }
    sizeList->setCurrentIndex(selection);
}

CaptureResolution CSettingDeviceSection::GetSelectedCaptureResolution() const {
    const QComboBox* formatList = dialog.ControlAs<QComboBox>(kResolutionList);
    const int selected = formatList->currentIndex();
    if (selected < 0) return {};
    bool ok = false;
    const int slot = formatList->itemData(selected).toInt(&ok);
    if (!ok || slot < 0 || static_cast<size_t>(slot) >= formats.size()) return {};
    return formats[static_cast<size_t>(slot)];
}

void CSettingDeviceSection::OnDeviceSelected() {
    QComboBox* list = dialog.ControlAs<QComboBox>(kDeviceList);
    const int p = list->currentIndex();
    if (p < 0 || viewer == nullptr) return;
    ShowWifiFields(IsWifiItem(p));
    UpdateConnectCaption();
    if (p == PreviewedPosition()) return;

    {
        QComboBox* formatList = dialog.ControlAs<QComboBox>(kResolutionList);
        const QSignalBlocker quiet(formatList);
        formatList->clear();
        formats.clear();
    }
    if (IsWifiItem(p)) return;

    CaptureResolution resolution;
    if (p == viewer->LoadPreviewedIdentity()) resolution = viewer->LoadPreviewedResolution();
    viewer->PreviewDevice(p, resolution);
}

void CSettingDeviceSection::OnConnect() {
    if (viewer == nullptr) return;
    if (IsPreviewingWifi()) {
        viewer->CaptureSession().StopPreview();
        viewer->ForgetCurrentDevice();
        UpdateConnectCaption();
        EnableWifiFields(true);
        return;
    }

    const uint32_t address = dialog.ControlAs<CIpAddressEdit>(kWifiAddress)->Address();
    const int32_t port = CSettingValidation::LeadingNumber(dialog.TextOf(kWifiPort));
    const CSettingParam current = settings.GetUsingParam();
    if (address != current.wifideviceip || port != current.wifideviceport) {
        CSettingParam changed = current;
        changed.wifideviceip = address;
        changed.wifideviceport = port;
        dialog.SaveRecord(changed);
    }
    const bool started = viewer->PreviewDevice(kWifiDeviceIndex, GetSelectedCaptureResolution());
    EnableWifiFields(!started);
    UpdateConnectCaption();
}

void CSettingDeviceSection::OnPreviewStarted() {
    FillResolutionLists();
    SelectPreviewedDevice();
    EnableWifiFields(!IsPreviewingWifi());
    UpdateConnectCaption();
}

void CSettingDeviceSection::ShowWifiFields(bool show) {
    for (int id : {kWifiAddress, kWifiPort, kWifiSeparator, kConnect}) dialog.Control(id)->setVisible(show);
}

void CSettingDeviceSection::EnableWifiFields(bool enable) {
    for (int id : {kWifiAddress, kWifiPort, kWifiSeparator, kMore, kResolutionList, kDeviceList}) {
        dialog.Control(id)->setEnabled(enable && !dialog.IsHeldByBusy(id));
    }
}

void CSettingDeviceSection::UpdateConnectCaption() {
    const std::string caption = IsPreviewingWifi() ? strings.GetString(keys::kSettingBtnDisconnectWifiDevice)
                                                   : strings.GetString(keys::kSettingBtnConnectWifiDevice);
    auto* button = dialog.ControlAs<QPushButton>(kConnect);
    button->setText(QString::fromStdString(caption));
    button->setAccessibleName(button->text());
}

}  // namespace orvane
