#include "dialogs/viewer_dialogs.h"

#include <QDialog>
#include <functional>

#include "viewer/viewer_events.h"
#include "viewer_fixture.h"

namespace orvane::test {
namespace {

// A settings dialog that runs a script instead of waiting for the user, and records what the viewer
// tells it.
class ScriptedDialog final : public QDialog, public IViewerSettingsDialog {
public:
    ScriptedDialog(QWidget* parent, std::function<int(ScriptedDialog&)> script)
        : QDialog(parent), script(std::move(script)) {}
    QDialog& Dialog() override { return *this; }
    void FillDeviceList() override { ++deviceListFills; }
    int exec() override { return script(*this); }

    int previewsStarted = 0;
    int deviceListFills = 0;

protected:
    bool event(QEvent* e) override {
        if (IsViewerMessage(e, WM_PREVIEW_STARTED)) {
            ++previewsStarted;
            return true;
        }
        return QDialog::event(e);
    }

private:
    std::function<int(ScriptedDialog&)> script;
};

class ViewerDialogsTest : public ViewerFixture {
protected:
    // Installs a settings dialog that runs `script`; the last one made stays readable.
    void InstallSettings(std::function<int(ScriptedDialog&)> script) {
        ViewerDialogFactories factories;
        factories.settings = [this, script](QWidget* parent, IPreviewControl&) {
            auto dialog = std::make_unique<ScriptedDialog>(parent, script);
            return std::unique_ptr<IViewerSettingsDialog>(std::move(dialog));
        };
        factories.about = [this](QWidget*, IPreviewControl&) { ++aboutShown; };
        dialogs = factories;
    }

    int aboutShown = 0;
};

TEST_F(ViewerDialogsTest, WithoutDialogsSettingsAndAboutDoNothing) {
    AddCamera();
    Open();
    Button(viewer_id::kSettings)->click();
    Button(viewer_id::kAbout)->click();
    EXPECT_TRUE(alerts.Alerts().empty());
    EXPECT_EQ(viewer->SettingsDialog(), nullptr);
    EXPECT_TRUE(viewer->isVisible());
}

TEST_F(ViewerDialogsTest, ConfirmedSettingsApplyLanguageResolutionAndRememberTheCamera) {
    AddCamera();
    Open();
    int previews = -1;
    InstallSettings([&](ScriptedDialog& dialog) {
        EXPECT_EQ(viewer->SettingsDialog(), &dialog);
        // What the device section does when the user picks the camera again.
        viewer->PreviewDevice(0, {});
        QCoreApplication::processEvents();
        previews = dialog.previewsStarted;
        CSettingParam param = settings.GetUsingParam();
        param.language = 1;
        param.captureresolution = CaptureResolution{320, 240, 0, false};
        settings.SetUsingParam(param);
        return static_cast<int>(QDialog::Accepted);
    });
    const QString english = Button(viewer_id::kTakePhoto)->text();
    Button(viewer_id::kSettings)->click();

    EXPECT_EQ(previews, 1);
    EXPECT_EQ(viewer->SettingsDialog(), nullptr);
    EXPECT_NE(Button(viewer_id::kTakePhoto)->text(), english);
    // The preview was restarted at the new size, and the camera is remembered with it.
    EXPECT_EQ(settings.GetUsingParam().GetCaptureResolution().width, 320);
    EXPECT_EQ(viewer->LoadPreviewedIdentity(), 0);
    EXPECT_EQ(viewer->LoadPreviewedResolution(), (CaptureResolution{320, 240, 0, false}));
    ASSERT_TRUE(
        WaitFor([&] { return viewer->PreviewWindow()->VideoHost()->CurrentPicture().width() == 320; }));
}

TEST_F(ViewerDialogsTest, CancelledSettingsChangeNothingAndAboutHasItsSeam) {
    AddCamera();
    Open();
    InstallSettings([](ScriptedDialog&) { return static_cast<int>(QDialog::Rejected); });
    viewer->OnSettings();
    EXPECT_EQ(viewer->LoadPreviewedIdentity(), -1);
    Button(viewer_id::kAbout)->click();
    EXPECT_EQ(aboutShown, 1);
}

TEST_F(ViewerDialogsTest, TheOpenDialogHearsOfNewCameras) {
    AddCamera();
    Open();
    int fills = -1;
    InstallSettings([&](ScriptedDialog& dialog) {
        AddCamera("Other", "046d", "B2", "2");
        WaitFor([&] { return viewer->GetDeviceList().size() == 2; });
        fills = dialog.deviceListFills;
        return static_cast<int>(QDialog::Rejected);
    });
    viewer->OnSettings();
    EXPECT_EQ(fills, 1);
}

TEST_F(ViewerDialogsTest, ANewSizeForTheWirelessCameraIsLeftToTheDialog) {
    cameras.AddCamera(SmallWifiCamera());
    AddCamera();
    Open();
    ASSERT_TRUE(viewer->PreviewDevice(kWifiDeviceIndex, {}));
    InstallSettings([&](ScriptedDialog&) {
        CSettingParam param = settings.GetUsingParam();
        param.captureresolution = CaptureResolution{640, 480, 0, false};
        settings.SetUsingParam(param);
        return static_cast<int>(QDialog::Accepted);
    });
    ASSERT_TRUE(WaitFor([&] { return viewer->CaptureSession().GetCaptureStats().frames >= 5; }));
    const int64_t before = viewer->CaptureSession().GetCaptureStats().frames;
    viewer->OnSettings();
    EXPECT_EQ(viewer->CurrentIdentity(), "wifi device");
    EXPECT_GE(viewer->CaptureSession().GetCaptureStats().frames, before);  // not restarted
}

}  // namespace
}  // namespace orvane::test
