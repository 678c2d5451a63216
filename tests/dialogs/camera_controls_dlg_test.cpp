#include "dialogs/camera_controls_dlg.h"

#include <linux/videodev2.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

#include "dialogs/device_fixture.h"

namespace orvane::test {
namespace {

class CameraControlsDlgTest : public DeviceDialogFixture {
protected:
    int32_t Value(uint32_t id) {
        int32_t value = -999;
        EXPECT_TRUE(viewer->CaptureSession().GetControl(id, value));
        return value;
    }
};

TEST_F(CameraControlsDlgTest, TheCameraListGivesOneEditorPerControlAndChangesApplyAtOnce) {
    AddCamera("Scope", "0c45", "S1", "1");
    Open();
    CCameraControlsDlg dlg(viewer->CaptureSession(), nullptr, &strings);
    EXPECT_EQ(dlg.windowTitle().toStdString(), "zentrova");
    EXPECT_EQ(dlg.Controls().size(), 12u);
    EXPECT_TRUE(viewer->CaptureSession().HasSnapshotButton());
    EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("noSnapshotButton")), nullptr);

    auto* brightness = dlg.Editor(V4L2_CID_BRIGHTNESS)->findChild<QSlider*>();
    ASSERT_NE(brightness, nullptr);
    EXPECT_EQ(brightness->minimum(), -64);
    EXPECT_EQ(brightness->maximum(), 64);
    brightness->setValue(12);
    EXPECT_EQ(Value(V4L2_CID_BRIGHTNESS), 12);
    EXPECT_EQ(dlg.Editor(V4L2_CID_BRIGHTNESS)->findChild<QSpinBox*>()->value(), 12);

    // The camera rounds to its step of 10; the editor shows what the camera took.
    auto* temperature = dlg.Editor(V4L2_CID_WHITE_BALANCE_TEMPERATURE)->findChild<QSpinBox*>();
    ASSERT_NE(temperature, nullptr);
    EXPECT_FALSE(temperature->isEnabled());  // automatic white balance is on
    auto* automatic = qobject_cast<QCheckBox*>(dlg.Editor(V4L2_CID_AUTO_WHITE_BALANCE));
    ASSERT_NE(automatic, nullptr);
    EXPECT_TRUE(automatic->isChecked());
    automatic->click();
    EXPECT_EQ(Value(V4L2_CID_AUTO_WHITE_BALANCE), 0);
    EXPECT_TRUE(temperature->isEnabled());
    temperature->setValue(5004);
    EXPECT_EQ(Value(V4L2_CID_WHITE_BALANCE_TEMPERATURE), 5000);
    EXPECT_EQ(temperature->value(), 5000);

    // A menu with gaps lists only what the camera offers.
    auto* exposure = qobject_cast<QComboBox*>(dlg.Editor(V4L2_CID_EXPOSURE_AUTO));
    ASSERT_NE(exposure, nullptr);
    ASSERT_EQ(exposure->count(), 2);
    EXPECT_EQ(exposure->currentText().toStdString(), "Aperture Priority Mode");
    EXPECT_FALSE(dlg.Editor(V4L2_CID_EXPOSURE_ABSOLUTE)->isEnabled());
    exposure->setCurrentIndex(0);
    Q_EMIT exposure->activated(0);
    EXPECT_EQ(Value(V4L2_CID_EXPOSURE_AUTO), 1);
    // Like uvcvideo, the camera does not flag its automatic modes with V4L2_CTRL_FLAG_UPDATE: the
    // manual value unlocks because every write reads all controls again.
    for (const CameraControl& control : dlg.Controls()) EXPECT_EQ(control.flags & V4L2_CTRL_FLAG_UPDATE, 0u);
    EXPECT_TRUE(dlg.Editor(V4L2_CID_EXPOSURE_ABSOLUTE)->isEnabled());
    auto* focus = dlg.Editor(V4L2_CID_FOCUS_ABSOLUTE)->findChild<QSpinBox*>();
    ASSERT_NE(focus, nullptr);
    EXPECT_FALSE(focus->isEnabled());
    qobject_cast<QCheckBox*>(dlg.Editor(V4L2_CID_FOCUS_AUTO))->click();
    EXPECT_TRUE(focus->isEnabled());
    focus->setValue(120);
    EXPECT_EQ(Value(V4L2_CID_FOCUS_ABSOLUTE), 120);

    auto* reset = qobject_cast<QPushButton*>(dlg.Editor(V4L2_CID_PAN_RESET));
    ASSERT_NE(reset, nullptr);
    EXPECT_EQ(reset->text().toStdString(), "Pan, Reset");
    reset->click();

    // The manual values go back before their automatic modes lock them.
    dlg.RestoreDefaults();
    EXPECT_EQ(Value(V4L2_CID_BRIGHTNESS), 0);
    EXPECT_EQ(Value(V4L2_CID_AUTO_WHITE_BALANCE), 1);
    EXPECT_EQ(Value(V4L2_CID_WHITE_BALANCE_TEMPERATURE), 4600);
    EXPECT_EQ(Value(V4L2_CID_FOCUS_ABSOLUTE), 0);
    EXPECT_EQ(Value(V4L2_CID_FOCUS_AUTO), 1);
    EXPECT_FALSE(focus->isEnabled());
    EXPECT_EQ(brightness->value(), 0);
    EXPECT_TRUE(automatic->isChecked());
}

TEST_F(CameraControlsDlgTest, ACameraWithoutASnapshotButtonIsSaidToHaveNone) {
    SimulatedCameraDefinition plain = SmallCamera("Plain", "0c45", "P1", "2");
    plain.snapshotButton = false;
    cameras.AddCamera(plain);
    Open();
    ASSERT_FALSE(viewer->CaptureSession().HasSnapshotButton());
    CCameraControlsDlg dlg(viewer->CaptureSession(), nullptr, &strings);
    auto* line = dlg.findChild<QLabel*>(QStringLiteral("noSnapshotButton"));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text().toStdString(), strings.GetString(keys::kCameraControlsNoButton));
    EXPECT_EQ(dlg.Controls().size(), 12u) << "the controls are there all the same";
    EXPECT_TRUE(alerts.Alerts().empty()) << "not an error";
}

TEST_F(CameraControlsDlgTest, MoreOpensTheControlsOfThePreviewedCameraOrSaysThereIsNone) {
    Open(false);
    ASSERT_FALSE(viewer->HasCurrentDevice());
    alerts.Clear();
    OpenDialog().OnMore();
    ASSERT_EQ(alerts.Alerts().size(), 1u);
    dialog.reset();

    AddCamera("Scope", "0c45", "S1", "1");
    ASSERT_TRUE(WaitFor([&] { return viewer->HasCurrentDevice(); }));
    std::string seen;
    size_t editors = 0;
    OnNextModal([&](QWidget* modal) {
        seen = modal->objectName().toStdString();
        if (auto* controls = qobject_cast<CCameraControlsDlg*>(modal)) editors = controls->Controls().size();
        modal->close();
    });
    OpenDialog().OnMore();
    EXPECT_EQ(seen, "cameraControlsDialog");
    EXPECT_EQ(editors, 12u);
}

}  // namespace
}  // namespace orvane::test
