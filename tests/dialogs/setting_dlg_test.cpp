#include <QAbstractButton>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>
#include <vector>

#include "base/text.h"
#include "dialogs/dialogs_fixture.h"
#include "dialogs/ip_address_edit.h"

namespace orvane::test {
namespace {

using namespace setting_id;

class SettingDlgTest : public DialogSettingsFixture {};

TEST_F(SettingDlgTest, OpensWithTheStringsCaptionsAndTheCurrentValues) {
    CSettingDlg& dlg = Open();
    EXPECT_EQ(dlg.windowTitle().toStdString(), Text("ui_dlg_setting", "Settings"));
    EXPECT_EQ(dlg.ControlAs<QGroupBox>(kTimedShotGroup)->title().toStdString(),
              Text("ui_setting_lab_timed_shot_settings", "Timed Shot Settings"));
    EXPECT_EQ(dlg.ControlAs<QAbstractButton>(kShotsHour)->text().toStdString(),
              Text("ui_setting_radio_shots_prehour_taking", "hour"));
    EXPECT_EQ(Shown(kMore), Text("ui_setting_btn_upload", "More..."));
    EXPECT_EQ(Shown(kMaxSizeHint), Text("ui_setting_lab_maximum_movie_size_later_hint", "MB(16-4096)"));
    ASSERT_EQ(List(kCreatingFolderList)->count(), 2);
    EXPECT_EQ(List(kCreatingFolderList)->itemText(1).toStdString(),
              Text("ui_setting_comobo_auto_creating_folder", "创建文件夹"));
    ASSERT_EQ(List(kLanguageList)->count(), 2);
    EXPECT_EQ(List(kLanguageList)->itemText(1).toStdString(), "简体中文");

    // The wireless fields wait for the wireless item to be chosen.
    for (int id : {kWifiAddress, kWifiSeparator, kWifiPort, kConnect})
        EXPECT_TRUE(dlg.Control(id)->isHidden()) << id;

    const CSettingParam param = Using();
    EXPECT_EQ(Shown(kShotsEdit), "1");
    EXPECT_EQ(Shown(kTimesEdit), "10");
    EXPECT_TRUE(dlg.ControlAs<QRadioButton>(kShotsMinute)->isChecked());
    EXPECT_EQ(Shown(kFolderEdit), box / "media");
    EXPECT_EQ(Shown(kMaxSizeEdit), "1024");
    EXPECT_EQ(Shown(kWifiPort), "8080");
    EXPECT_EQ(dlg.ControlAs<CIpAddressEdit>(kWifiAddress)->text().toStdString(), "127.0.0.1");
    EXPECT_EQ(List(kLanguageList)->currentIndex(), 0);
    EXPECT_EQ(List(kMovieFormatList)->currentText().toStdString(), "AVI");
    EXPECT_EQ(param.timedshot.shotsvalue, dlg.ShotsValue());
}

TEST_F(SettingDlgTest, EveryControlHasAnAccessibleName) {
    CSettingDlg& dlg = Open();
    for (int id = 1000; id < 1200; ++id) {
        if (QWidget* control = dlg.Control(id)) {
            EXPECT_FALSE(control->accessibleName().isEmpty()) << id;
        }
    }
    EXPECT_EQ(Edit(kShotsEdit)->accessibleName(), dlg.ControlAs<QLabel>(kShotsLabel)->text());
    EXPECT_EQ(Edit(kMaxSizeEdit)->accessibleName(), dlg.ControlAs<QLabel>(kMaxSizeLabel)->text());
    EXPECT_EQ(List(kDeviceList)->accessibleName(), dlg.ControlAs<QLabel>(kDeviceLabel)->text());
}

TEST_F(SettingDlgTest, ShotsValueMustBeInRangeAndWrittenPlainly) {
    const std::string message =
        Text("ui_alert_timed_shot_setting", "Error of time setting to take timed shot");
    for (const char* wrong : {"301", "0", "060", "+60", " 60", "60a", "", "99999999999"}) {
        SCOPED_TRACE(wrong);
        alerts.Clear();
        CSettingDlg& dlg = Open();
        Type(kShotsEdit, wrong);
        dlg.OnApply();
        EXPECT_EQ(alerts.Alerts(), std::vector<std::string>{message});
        EXPECT_EQ(Shown(kShotsEdit), "1");  // the factory shots value
        EXPECT_EQ(Shown(kTimesEdit), "10");
        EXPECT_FALSE(Accepted());
        EXPECT_EQ(Using().timedshot.shotsvalue, 1);
    }
    CSettingDlg& dlg = Open();
    Type(kShotsEdit, "300");
    alerts.Clear();
    dlg.OnApply();
    EXPECT_TRUE(alerts.Alerts().empty());
    EXPECT_TRUE(Accepted());
    EXPECT_EQ(Using().timedshot.shotsvalue, 300);
}

TEST_F(SettingDlgTest, WrongDurationResetsOnlyTheDuration) {
    CSettingDlg& dlg = Open();
    Type(kShotsEdit, "42");
    Type(kTimesEdit, "301");
    dlg.OnApply();
    EXPECT_EQ(alerts.Alerts().size(), 1u);
    EXPECT_EQ(Shown(kTimesEdit), "10");
    EXPECT_EQ(Shown(kShotsEdit), "42");
    dlg.OnApply();
    EXPECT_TRUE(Accepted());
    EXPECT_EQ(Using().timedshot.timesvalue, 10);
    EXPECT_EQ(Using().timedshot.shotsvalue, 42);
}

TEST_F(SettingDlgTest, MaximumFileSizeMustBeAPlainNumberFrom16To4096) {
    for (const char* wrong : {"15", "4097", "abc", "1e3", "016", "-16"}) {
        SCOPED_TRACE(wrong);
        alerts.Clear();
        CSettingDlg& dlg = Open();
        Type(kMaxSizeEdit, wrong);
        dlg.OnApply();
        EXPECT_EQ(alerts.Alerts(),
                  std::vector<std::string>{Text("ui_alert_movie_maxinum_file",
                                                "Error to set maximum file size of recording movie")});
        EXPECT_EQ(Shown(kMaxSizeEdit), "1024");
        EXPECT_FALSE(Accepted());
    }
    for (const char* right : {"16", "4096"}) {
        SCOPED_TRACE(right);
        CSettingDlg& dlg = Open();
        Type(kMaxSizeEdit, right);
        dlg.OnApply();
        EXPECT_TRUE(Accepted());
        EXPECT_EQ(std::to_string(Using().moviesizemax), right);
    }
}

TEST_F(SettingDlgTest, PortMustLieWithin0To65535) {
    for (const char* wrong : {"65536", "-1", "99999999999"}) {
        SCOPED_TRACE(wrong);
        alerts.Clear();
        CSettingDlg& dlg = Open();
        Type(kWifiPort, wrong);
        dlg.OnApply();
        EXPECT_EQ(alerts.Alerts(), std::vector<std::string>{
                                       Text("ui_alert_wifi_port", "Wifi port is incorrect;out of range.")});
        EXPECT_EQ(Shown(kWifiPort), "8080");
        EXPECT_FALSE(Accepted());
    }
    const std::pair<const char*, int32_t> right[] = {{"65535", 65535}, {"", 0}};
    for (const auto& [text, port] : right) {
        SCOPED_TRACE(text);
        CSettingDlg& dlg = Open();
        Type(kWifiPort, text);
        dlg.OnApply();
        EXPECT_TRUE(Accepted());
        EXPECT_EQ(Using().wifideviceport, port);
    }
}

TEST_F(SettingDlgTest, FolderIsStoredWithoutItsTrailingSlashAndMustExist) {
    MakeFolders(box / "photos");
    CSettingDlg& dlg = Open();
    Type(kFolderEdit, box / "photos/");
    dlg.OnApply();
    ASSERT_TRUE(Accepted());
    EXPECT_EQ(Using().GetResourcesPath(), box / "photos");
    EXPECT_EQ(Using().GetRootPath(), box / "photos/zentrova");
    // Apply makes the storage folders.
    EXPECT_TRUE(std::filesystem::is_directory(box / "photos/zentrova/Single Shots"));
    EXPECT_TRUE(std::filesystem::is_directory(box / "photos/zentrova/Movies"));

    const std::string factoryFolder = settings->GetDefaultParam().GetResourcesPath();
    for (const std::string& wrong : {box / "missing//", std::string("photos")}) {
        SCOPED_TRACE(wrong);
        alerts.Clear();
        CSettingDlg& again = Open();
        Type(kFolderEdit, wrong);
        again.OnApply();
        CSettingParam normalised;
        normalised.SetResourcesPath(wrong);
        ASSERT_EQ(alerts.Alerts().size(), 1u);
        EXPECT_EQ(alerts.Alerts()[0],
                  Format(Text("ui_alert_not_exist_resource_location",
                              "Don't exist location of photo %s in setting,please setting"),
                         normalised.GetResourcesPath()));
        EXPECT_EQ(Shown(kFolderEdit), factoryFolder);
        EXPECT_FALSE(Accepted());
        EXPECT_EQ(Using().GetResourcesPath(), box / "photos");
    }
}

TEST_F(SettingDlgTest, ASaveThatFailedIsToldWithTheSystemsReason) {
    // The settings folder turned into a file: the save cannot write, whoever runs the test.
    const std::string folder = box.ConfigHome() + "/zentrova";
    std::filesystem::remove_all(folder);
    WriteFile(folder, "not a folder");
    CSettingDlg& dlg = Open();
    Type(kMaxSizeEdit, "512");
    dlg.OnApply();
    EXPECT_EQ(alerts.Alerts(),
              std::vector<std::string>{Format(strings->GetString(keys::kAlertCannotWriteFile),
                                              folder + "/settings.conf: Not a directory")});
    // The settings hold for this run all the same.
    EXPECT_TRUE(Accepted());
    EXPECT_EQ(Using().moviesizemax, 512);
}

TEST_F(SettingDlgTest, OneMessagePerApplyInTheOrderOfTheChecks) {
    CSettingDlg& dlg = Open();
    Type(kShotsEdit, "0");
    Type(kFolderEdit, box / "missing");
    Type(kMaxSizeEdit, "1");
    Type(kWifiPort, "70000");
    const std::vector<std::string> expected = {
        Text("ui_alert_timed_shot_setting", "Error of time setting to take timed shot"),
        Format(Text("ui_alert_not_exist_resource_location",
                    "Don't exist location of photo %s in setting,please setting"),
               box / "missing"),
        Text("ui_alert_movie_maxinum_file", "Error to set maximum file size of recording movie"),
        Text("ui_alert_wifi_port", "Wifi port is incorrect;out of range."),
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        if (i == 1) Type(kFolderEdit, box / "missing");  // the factory folder put back after the check
        dlg.OnApply();
        ASSERT_EQ(alerts.Alerts().size(), i + 1);
        EXPECT_EQ(alerts.Alerts()[i], expected[i]);
        if (i == 1) Type(kFolderEdit, box / "media");
    }
    dlg.OnApply();
    EXPECT_TRUE(Accepted());
    EXPECT_EQ(alerts.Alerts().size(), expected.size());
}

TEST_F(SettingDlgTest, AUnitButtonSetsItsDefaultAndTheFormatAndLanguageAreSaved) {
    CSettingDlg& dlg = Open();
    dlg.ControlAs<QRadioButton>(kShotsHour)->click();
    EXPECT_EQ(dlg.ShotsUnit(), Hour);
    EXPECT_EQ(Shown(kShotsEdit), "60");
    dlg.ControlAs<QRadioButton>(kTimesDay)->click();
    EXPECT_EQ(Shown(kTimesEdit), "60");
    dlg.OnTimesUnit(3);  // no such unit: nothing changes
    EXPECT_EQ(dlg.TimesUnit(), Day);
    List(kMovieFormatList)->setCurrentIndex(1);
    List(kCreatingFolderList)->setCurrentIndex(1);
    List(kLanguageList)->setCurrentIndex(1);
    dlg.OnApply();
    ASSERT_TRUE(Accepted());
    const CSettingParam saved = Using();
    EXPECT_EQ(saved.timedshot.shotstype, Hour);
    EXPECT_EQ(saved.timedshot.shotsvalue, 60);
    EXPECT_EQ(saved.timedshot.timestype, Day);
    EXPECT_EQ(saved.movieformat, 1);
    EXPECT_EQ(saved.autocreatingfolder, 1);
    EXPECT_EQ(saved.language, 1);
    // Saved to the user's branch, not only made current.
    CSettingParamManage reread(hive.get());
    EXPECT_EQ(reread.GetUsingParam().timedshot.shotstype, Hour);
    EXPECT_EQ(reread.GetUsingParam().movieformat, 1);
}

TEST_F(SettingDlgTest, DefaultThenUndoLeavesTheSettingsAsTheyWere) {
    CSettingParam before = Using();
    before.wifideviceport = 1234;
    before.moviesizemax = 99;
    settings->SetUsingParam(before);
    const std::string fileBefore = ReadFile(hive->UserFile());

    CSettingDlg& dlg = Open();
    EXPECT_EQ(Shown(kMaxSizeEdit), "99");
    dlg.OnDefault();
    EXPECT_EQ(Shown(kMaxSizeEdit), "1024");
    EXPECT_EQ(Shown(kWifiPort), "8080");
    EXPECT_EQ(Shown(kFolderEdit), settings->GetDefaultParam().GetResourcesPath());
    dlg.OnCommand(kUndoAlias);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(Using(), before);
    EXPECT_EQ(ReadFile(hive->UserFile()), fileBefore);
}

TEST_F(SettingDlgTest, EnterAndEscapeDoNotCloseTheDialog) {
    CSettingDlg& dlg = Open();
    dlg.open();
    ASSERT_TRUE(dlg.isVisible());
    for (QWidget* target : {static_cast<QWidget*>(Edit(kShotsEdit)), dlg.Control(kApply), dlg.Control(kUndo),
                            static_cast<QWidget*>(&dlg)}) {
        for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            PressKey(target, key);
            EXPECT_TRUE(dlg.isVisible()) << target->objectName().toStdString() << " " << key;
        }
    }
    EXPECT_EQ(Using().timedshot.shotsvalue, 1);
    dlg.ControlAs<QPushButton>(kUndo)->click();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST_F(SettingDlgTest, BrowsePutsTheChosenFolderIntoTheFolderText) {
    CSettingDlg& dlg = Open();
    chosenFolder = QString::fromStdString(box / "picked");
    dlg.ControlAs<QPushButton>(kBrowse)->click();
    // In the interface's language (English here), no longer fixed Chinese.
    EXPECT_EQ(chooserTitle.toStdString(), "Choose a folder");
    EXPECT_EQ(chooserStart.toStdString(), box / "media");
    EXPECT_EQ(Shown(kFolderEdit), box / "picked");
    chosenFolder.clear();  // cancelled
    dlg.OnBrowse();
    EXPECT_EQ(Shown(kFolderEdit), box / "picked");
}

TEST_F(SettingDlgTest, WithoutAViewerTheDeviceSectionStaysEmptyAndMoreDoesNothing) {
    CSettingDlg& dlg = Open();
    EXPECT_EQ(List(kDeviceList)->count(), 0);
    EXPECT_EQ(List(kResolutionList)->count(), 0);
    dlg.OnMore();
    EXPECT_TRUE(alerts.Alerts().empty());
    dlg.OnApply();
    ASSERT_TRUE(Accepted());
    EXPECT_TRUE(Using().GetCaptureResolution().IsUnset());
}

// Without a strings file every text is the fallback written at the call site.
class SettingDlgFallbackTest : public DialogSettingsFixture {
protected:
    SettingDlgFallbackTest() : DialogSettingsFixture(DialogFactory(), false) {}
};

TEST_F(SettingDlgFallbackTest, HourGivesItsDefaultAndTheRangeHint) {
    CSettingDlg& dlg = Open();
    EXPECT_EQ(dlg.windowTitle().toStdString(), "Settings");
    EXPECT_EQ(Shown(kShotsRange), "(max.300)");
    dlg.ControlAs<QRadioButton>(kShotsHour)->click();
    EXPECT_EQ(Shown(kShotsEdit), "60");
    EXPECT_EQ(Shown(kShotsRange), "(max.300)");
    EXPECT_EQ(Shown(kCreatingFolderLabel), "文件夹:");
    EXPECT_EQ(Shown(kMaxSizeLabel), "Maximum Movie file size");
}

}  // namespace
}  // namespace orvane::test
