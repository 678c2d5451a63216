#include <arpa/inet.h>
#include <linux/videodev2.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QLineEdit>
#include <QPushButton>

#include "capture/resolution_list.h"
#include "dialogs/device_fixture.h"
#include "dialogs/ip_address_edit.h"
#include "dispatch/sample_grabber_cb.h"

namespace orvane::test {
namespace {

using namespace setting_id;

class SettingDeviceSectionTest : public DeviceDialogFixture {};

TEST_F(SettingDeviceSectionTest, WithoutWifiOnlyTheCamerasAreListed) {
    AddCamera("Scope A", "0c45", "A1", "1");
    AddCamera("Scope B", "0c45", "B2", "2");
    SetWifi(0);
    Open();
    CSettingDlg& dlg = OpenDialog();
    EXPECT_EQ(Items(dlg, kDeviceList), (std::vector<std::string>{"Scope A", "Scope B"}));
    EXPECT_EQ(List(dlg, kDeviceList)->currentIndex(), viewer->FindDeviceIndex(viewer->CurrentIdentity()));
    EXPECT_FALSE(WifiFieldsShown(dlg));
    EXPECT_GT(List(dlg, kResolutionList)->count(), 0);
    EXPECT_TRUE(List(dlg, kDeviceList)->isEnabled());
}

TEST_F(SettingDeviceSectionTest, TheWirelessItemShowsItsFieldsAndAChosenCameraIsPreviewedAtOnce) {
    AddCamera("Scope A", "0c45", "A1", "1");
    AddCamera("Scope B", "0c45", "B2", "2");
    SetWifi(1);
    Open();
    const std::string first = viewer->CurrentIdentity();
    const std::string second = viewer->GetDeviceIdentity(1);
    RunSettings([&](CSettingDlg& dlg) {
        ASSERT_EQ(Items(dlg, kDeviceList),
                  (std::vector<std::string>{"Scope A", "Scope B", "zentrova wireless"}));
        EXPECT_EQ(List(dlg, kDeviceList)->currentIndex(), 0);

        Choose(dlg, 2);
        EXPECT_TRUE(WifiFieldsShown(dlg));
        EXPECT_EQ(dlg.TextOf(kConnect), Text("ui_setting_btn_connect_wifi_device", "Connect"));
        EXPECT_EQ(List(dlg, kResolutionList)->count(), 0);
        EXPECT_EQ(viewer->CurrentIdentity(), first);  // the wireless camera waits for Connect

        Choose(dlg, 1);
        EXPECT_FALSE(WifiFieldsShown(dlg));
        EXPECT_EQ(viewer->CurrentIdentity(), second);
        // The viewer's WM_PREVIEW_STARTED refills both lists.
        EXPECT_TRUE(WaitFor([&] { return List(dlg, kResolutionList)->count() > 0; }));
        EXPECT_GT(List(dlg, kMovieSizeList)->count(), 0);
        EXPECT_EQ(List(dlg, kDeviceList)->currentIndex(), 1);
    });
}

TEST_F(SettingDeviceSectionTest, ACameraNamedLikeTheWirelessItemButNotLastIsACamera) {
    AddCamera("zentrova wireless", "046d", "W1", "1");
    AddCamera("Scope", "0c45", "S1", "2");
    SetWifi(1);
    Open();
    ASSERT_EQ(viewer->FindDeviceIndex(viewer->CurrentIdentity()), 1);
    CSettingDlg& dlg = OpenDialog();
    CSettingDeviceSection& section = dlg.DeviceSection();
    EXPECT_FALSE(section.IsWifiItem(0));
    EXPECT_FALSE(section.IsWifiItem(1));
    EXPECT_TRUE(section.IsWifiItem(2));
    EXPECT_FALSE(section.IsWifiItem(-1));
    Choose(dlg, 0);
    EXPECT_FALSE(WifiFieldsShown(dlg));
    EXPECT_EQ(viewer->CurrentIdentity(), viewer->GetDeviceIdentity(0));
}

TEST_F(SettingDeviceSectionTest, ChoosingThePreviewedCameraAgainDoesNothing) {
    AddCamera("Scope", "0c45", "S1", "1");
    Open();
    CSettingDlg& dlg = OpenDialog();
    const std::vector<std::string> formats = Items(dlg, kResolutionList);
    ASSERT_FALSE(formats.empty());
    const int64_t framesBefore = FramesSeen();
    Choose(dlg, 0);
    EXPECT_EQ(Items(dlg, kResolutionList), formats);
    EXPECT_TRUE(WaitFor([&] { return FramesSeen() > framesBefore + 2; }));
    EXPECT_TRUE(viewer->CaptureSession().IsStreaming());
}

TEST_F(SettingDeviceSectionTest, FormatAndMovieSizeListsFollowTheOfferedFormats) {
    AddCamera("Scope", "0c45", "S1", "1");
    Open();
    constexpr uint32_t kYuyv = V4L2_PIX_FMT_YUYV;
    constexpr uint32_t kMjpg = V4L2_PIX_FMT_MJPEG;
    constexpr uint32_t kRgb = V4L2_PIX_FMT_RGB24;
    viewer->SetResolutionList({
        {ResolutionKey(240, kRgb), {320, 240, kRgb, false}},
        {ResolutionKey(480, kYuyv), {640, 480, kYuyv, false}},
        {ResolutionKey(480, kMjpg), {640, 480, kMjpg, false}},
        {ResolutionKey(720, kMjpg), {1280, 720, kMjpg, false}},
        {ResolutionKey(1440, kMjpg), {2560, 1440, kMjpg, true}},
    });
    SetCaptureResolution(640, 480);
    CSettingParam param = settings.GetUsingParam();
    param.moviesize = {};
    settings.SetUsingParam(param);

    CSettingDlg& dlg = OpenDialog();
    const std::string interpolation = Text("ui_setting_comobo_item_interpolation", "interpolation");
    EXPECT_EQ(Items(dlg, kResolutionList),
              (std::vector<std::string>{"320 X 240 ", "640 X 480 YUV", "640 X 480 MJPG", "1280 X 720 MJPG",
                                        "2560 X 1440 MJPG (" + interpolation + ")"}));
    // Any subtype: the last of the equal sizes.
    EXPECT_EQ(List(dlg, kResolutionList)->currentIndex(), 2);
    EXPECT_EQ(dlg.DeviceSection().GetSelectedCaptureResolution(),
              (CaptureResolution{640, 480, kMjpg, false}));
    // One item per size, none for the interpolated format; movie size 0 x 0 means the capture size.
    EXPECT_EQ(Items(dlg, kMovieSizeList), (std::vector<std::string>{"320 X 240", "640 X 480", "1280 X 720"}));
    EXPECT_EQ(List(dlg, kMovieSizeList)->currentText().toStdString(), "640 X 480");

    settings.SetCaptureResolution({640, 480, kYuyv, false});
    param = settings.GetUsingParam();
    param.moviesize = {1280, 720, 0, false};
    settings.SetUsingParam(param);
    dlg.FillResolutionLists();
    EXPECT_EQ(List(dlg, kResolutionList)->currentIndex(), 1);
    EXPECT_EQ(List(dlg, kMovieSizeList)->currentText().toStdString(), "1280 X 720");

    settings.SetCaptureResolution({800, 600, 0, false});  // offered by no format
    dlg.FillResolutionLists();
    EXPECT_EQ(List(dlg, kResolutionList)->currentIndex(), -1);
    EXPECT_TRUE(dlg.DeviceSection().GetSelectedCaptureResolution().IsUnset());

    // Apply stores the chosen format and movie size.
    List(dlg, kResolutionList)->setCurrentIndex(3);
    List(dlg, kMovieSizeList)->setCurrentIndex(0);
    dlg.OnApply();
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(settings.GetUsingParam().captureresolution, (CaptureResolution{1280, 720, kMjpg, false}));
    EXPECT_EQ(settings.GetUsingParam().moviesize, (CaptureResolution{320, 240, 0, false}));
}

TEST_F(SettingDeviceSectionTest, DefaultPicksTheMovieSizeBySizeNotByOldListPosition) {
    AddCamera("Scope", "0c45", "S1", "1");
    Open();
    constexpr uint32_t kYuyv = V4L2_PIX_FMT_YUYV;
    viewer->SetResolutionList({
        {ResolutionKey(240, kYuyv), {320, 240, kYuyv, false}},
        {ResolutionKey(480, kYuyv), {640, 480, kYuyv, false}},
        {ResolutionKey(720, kYuyv), {1280, 720, kYuyv, false}},
    });
    SetCaptureResolution(1280, 720);
    CSettingParam param = settings.GetUsingParam();
    param.moviesize = {320, 240, 0, false};
    settings.SetUsingParam(param);
    ASSERT_EQ(settings.GetDefaultParam().movieresolution, 1);
    ASSERT_TRUE(settings.GetDefaultParam().moviesize.IsUnset());

    CSettingDlg& dlg = OpenDialog();
    EXPECT_EQ(List(dlg, kMovieSizeList)->currentText().toStdString(), "320 X 240");
    dlg.OnDefault();
    // The factory movie size follows the capture size.
    EXPECT_EQ(List(dlg, kMovieSizeList)->currentText().toStdString(), "1280 X 720");
    EXPECT_EQ(List(dlg, kResolutionList)->currentIndex(), 2);  // the capture format stays
}

// A TCP listener on a loopback address of its own, port 5000, to see the wireless link arrive.
class LoopbackPeer {
public:
    explicit LoopbackPeer(const char* address) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return;
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(kWifiDevicePort);
        ::inet_pton(AF_INET, address, &where.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || ::listen(fd, 4) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~LoopbackPeer() {
        if (accepted >= 0) ::close(accepted);
        if (fd >= 0) ::close(fd);
    }
    bool Listening() const { return fd >= 0; }
    bool Accept(int timeoutMs) {
        return WaitFor(
            [&] {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 0) != 1) return false;
                accepted = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
                return accepted >= 0;
            },
            timeoutMs);
    }

private:
    int fd = -1;
    int accepted = -1;
};

TEST_F(SettingDeviceSectionTest, ConnectWritesTheSettingsOnlyWhenAddressOrPortChanged) {
    AddCamera("Scope", "0c45", "S1", "1");
    cameras.AddCamera(SmallWifiCamera());
    SetWifi(1);
    Open();
    ASSERT_EQ(settings.GetUsingParam().wifideviceip, 0x7F000001u);
    {
        // A mark in the user's branch that only a write of the settings would replace.
        CRegistry key(&hive);
        ASSERT_TRUE(key.Open(UsingSystemKey(), true));
        ASSERT_TRUE(key.WriteDword("wifideviceport", 4242u));
    }
    auto storedPort = [&] {
        CRegistry key(&hive);
        uint32_t port = 0;
        return key.Open(UsingSystemKey()) && key.ReadDword("wifideviceport", port) ? port : 0u;
    };

    RunSettings([&](CSettingDlg& dlg) {
        Choose(dlg, 1);
        ASSERT_TRUE(WifiFieldsShown(dlg));
        EXPECT_EQ(dlg.TextOf(kWifiPort), "8080");
        dlg.ControlAs<QPushButton>(kConnect)->click();
        EXPECT_EQ(storedPort(), 4242u);  // unchanged address and port: nothing written
        ASSERT_EQ(viewer->CurrentIdentity(), kWifiDeviceName);
        EXPECT_EQ(dlg.TextOf(kConnect), Text("ui_setting_btn_disconnect_wifi_device", "Disconnect"));
        for (int id : {kDeviceList, kResolutionList, kMore, kWifiAddress, kWifiPort}) {
            EXPECT_FALSE(dlg.Control(id)->isEnabled()) << id;
        }
        // The wireless camera's formats arrive without the interpolation mark.
        ASSERT_TRUE(WaitFor([&] { return List(dlg, kResolutionList)->count() > 0; }));
        for (const std::string& item : Items(dlg, kResolutionList))
            EXPECT_EQ(item.find('('), std::string::npos) << item;

        dlg.ControlAs<QPushButton>(kConnect)->click();  // Disconnect
        EXPECT_TRUE(viewer->CurrentIdentity().empty());
        EXPECT_TRUE(viewer->GetResolutionList().empty());
        EXPECT_FALSE(viewer->CaptureSession().HasVideoWindow());
        EXPECT_EQ(dlg.TextOf(kConnect), Text("ui_setting_btn_connect_wifi_device", "Connect"));
        for (int id : {kDeviceList, kResolutionList, kMore, kWifiAddress, kWifiPort}) {
            EXPECT_TRUE(dlg.Control(id)->isEnabled()) << id;
        }

        dlg.ControlAs<QLineEdit>(kWifiPort)->setText(QStringLiteral("9090"));
        dlg.ControlAs<QPushButton>(kConnect)->click();
        EXPECT_EQ(storedPort(), 9090u);
        EXPECT_EQ(settings.GetUsingParam().wifideviceport, 9090);
        EXPECT_EQ(viewer->CurrentIdentity(), kWifiDeviceName);
        dlg.ControlAs<QPushButton>(kConnect)->click();
    });
    // Undo does not take back what Connect saved.
    EXPECT_EQ(settings.GetUsingParam().wifideviceport, 9090);
}

TEST_F(SettingDeviceSectionTest, ANewAddressIsSavedBeforeTheLinkStarts) {
    LoopbackPeer peer("127.0.33.7");
    if (!peer.Listening()) GTEST_SKIP() << "127.0.33.7:5000 is not free here";
    AddCamera("Scope", "0c45", "S1", "1");
    cameras.AddCamera(SmallWifiCamera());
    SetWifi(1);
    Open();
    CSettingDlg& dlg = OpenDialog();
    Choose(dlg, 1);
    dlg.ControlAs<CIpAddressEdit>(kWifiAddress)->setText(QStringLiteral("127.0.33.7"));
    dlg.ControlAs<QPushButton>(kConnect)->click();
    EXPECT_EQ(settings.GetUsingParam().wifideviceip, 0x7F002107u);
    EXPECT_TRUE(peer.Accept(3000));
    dlg.ControlAs<QPushButton>(kConnect)->click();
    EXPECT_FALSE(wifi.HasLinkThread());
}

TEST_F(SettingDeviceSectionTest, WhileAnActionRunsItsControlsStayDisabled) {
    AddCamera("Scope", "0c45", "S1", "1");
    SetWifi(1);
    Open();
    const int busyList[] = {kFolderEdit, kMaxSizeEdit,    kMovieSizeList, kBrowse,    kDefault,
                            kDeviceList, kResolutionList, kShotsEdit,     kTimesEdit, kConnect};
    for (int action = 0; action < 2; ++action) {
        SCOPED_TRACE(action);
        if (action == 0)
            viewer->OnRecording();
        else
            viewer->OnTimedShot();
        ASSERT_TRUE(State().recordingRunning.load() == 1 || State().timedShotRunning.load() == 1);
        CSettingDlg& dlg = OpenDialog();
        EXPECT_TRUE(dlg.IsBusy());
        for (int id : busyList) EXPECT_FALSE(dlg.Control(id)->isEnabled()) << id;
        for (int id : {kApply, kUndo, kMore, kLanguageList, kMovieFormatList, kShotsHour}) {
            EXPECT_TRUE(dlg.Control(id)->isEnabled()) << id;
        }
        dlg.DeviceSection().EnableWifiFields(true);
        EXPECT_FALSE(dlg.Control(kDeviceList)->isEnabled());
        EXPECT_FALSE(dlg.Control(kResolutionList)->isEnabled());
        dialog.reset();
        if (action == 0)
            viewer->OnRecording();
        else
            viewer->OnTimedShot();
    }
    EXPECT_FALSE(OpenDialog().IsBusy());
    EXPECT_TRUE(dialog->Control(kDeviceList)->isEnabled());
}

TEST_F(SettingDeviceSectionTest, OkThroughTheViewerRestartsThePreviewAtTheNewFormat) {
    AddCamera("Scope", "0c45", "S1", "1");
    Open();
    RunSettings(
        [&](CSettingDlg& dlg) {
            QComboBox* formats = List(dlg, kResolutionList);
            const int small = formats->findText(QStringLiteral("320 X 240"), Qt::MatchStartsWith);
            ASSERT_GE(small, 0);
            formats->setCurrentIndex(small);
        },
        true);
    EXPECT_EQ(settings.GetUsingParam().captureresolution.width, 320);
    EXPECT_TRUE(WaitFor([&] { return g_previewGrabber.width == 320 && g_previewGrabber.height == 240; }));
    EXPECT_TRUE(viewer->HasCurrentDevice());
    // The previewed camera and its format are remembered.
    CRegistry key(&hive);
    uint32_t stored = 0;
    ASSERT_TRUE(key.Open("Software\\zentrova"));
    ASSERT_TRUE(key.ReadDword("captureresolution", stored));
    EXPECT_EQ(stored, (320u << 16) | 240u);
}

}  // namespace
}  // namespace orvane::test
