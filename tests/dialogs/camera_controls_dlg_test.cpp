#include "dialogs/camera_controls_dlg.h"

#include <linux/videodev2.h>

#include <QCheckBox>
#include <QComboBox>
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
    EXPECT_EQ(dlg.Controls().size(), 9u);

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
    EXPECT_TRUE(dlg.Editor(V4L2_CID_EXPOSURE_ABSOLUTE)->isEnabled());

    auto* reset = qobject_cast<QPushButton*>(dlg.Editor(V4L2_CID_PAN_RESET));
    ASSERT_NE(reset, nullptr);
    EXPECT_EQ(reset->text().toStdString(), "Pan, Reset");
    reset->click();

    dlg.RestoreDefaults();
    EXPECT_EQ(Value(V4L2_CID_BRIGHTNESS), 0);
    EXPECT_EQ(Value(V4L2_CID_AUTO_WHITE_BALANCE), 1);
    EXPECT_EQ(brightness->value(), 0);
    EXPECT_TRUE(automatic->isChecked());
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
    EXPECT_EQ(editors, 9u);
}

}  // namespace
}  // namespace orvane::test
