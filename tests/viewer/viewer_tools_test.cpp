#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "imaging/scale_calibration.h"
#include "support/photo_resolution.h"
#include "viewer/calibration_dlg.h"
#include "viewer/picture_overlay.h"

#include "viewer_fixture.h"
#include "widgets/bc_menu.h"
#include "widgets/cool_btn.h"

namespace orvane::test {
namespace {

class ViewerShortcutTest : public ViewerFixture {
protected:
    void SetUp() override {
        AddCamera();
        Open();
        viewer->activateWindow();
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : viewer.get();
        QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
    }
    bool PhotoWritten() {
        return State().shotPending.load() == 0 && Enabled(viewer_id::kTakePhoto) && !Folder("Single Shots").empty();
    }
};

TEST_F(ViewerShortcutTest, KeysActAsTheirButtonsAndTheTooltipsNameThem) {
    const std::pair<int, const char*> named[] = {
        {viewer_id::kTakePhoto, " (Space)"}, {viewer_id::kRecording, " (R)"},     {viewer_id::kTimedShot, " (T)"},
        {viewer_id::kFullScreen, " (F11)"},  {viewer_id::kSettings, " (Ctrl+,)"}, {viewer_id::kExit, " (Ctrl+Q)"},
    };
    for (const auto& [id, suffix] : named) {
        EXPECT_EQ(Button(id)->toolTip().toStdString(), Caption(id) + suffix) << id;
        EXPECT_EQ(Button(id)->accessibleName().toStdString(), Caption(id)) << id;
    }

    Key(Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] { return PhotoWritten(); }));
    EXPECT_EQ(Folder("Single Shots").size(), 1u);

    Key(Qt::Key_R);
    ASSERT_TRUE(WaitFor([&] { return State().recordingRunning.load() == 1; }));
    // As with the buttons, the other actions wait while a recording runs.
    Key(Qt::Key_Space);
    Key(Qt::Key_T);
    Pump(50);
    EXPECT_EQ(State().timedShotRunning.load(), 0);
    EXPECT_EQ(State().shotPending.load(), 0);
    Key(Qt::Key_R);
    ASSERT_TRUE(WaitFor([&] { return State().recordingRunning.load() == 0 && Enabled(viewer_id::kTimedShot); }));
    ASSERT_TRUE(WaitFor([&] { return !Folder("Movies").empty(); }));

    Key(Qt::Key_T);
    ASSERT_TRUE(WaitFor([&] { return State().timedShotRunning.load() == 1; }));
    Key(Qt::Key_T);
    ASSERT_TRUE(WaitFor([&] { return State().timedShotRunning.load() == 0; }));

    Key(Qt::Key_F11);
    ASSERT_TRUE(WaitFor([&] { return viewer->IsFullScreen(); }));
    Key(Qt::Key_F11);
    ASSERT_TRUE(WaitFor([&] { return !viewer->IsFullScreen(); }));
    Key(Qt::Key_F11);
    ASSERT_TRUE(WaitFor([&] { return viewer->IsFullScreen(); }));
    Key(Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return !viewer->IsFullScreen(); }));

    int settingsOpened = 0;
    dialogs.settings = [&](QWidget*, IPreviewControl&) -> std::unique_ptr<IViewerSettingsDialog> {
        ++settingsOpened;
        return nullptr;
    };
    Key(Qt::Key_Comma, Qt::ControlModifier);
    ASSERT_TRUE(WaitFor([&] { return settingsOpened == 1; }));

    confirmAnswer = false;
    Key(Qt::Key_Q, Qt::ControlModifier);
    ASSERT_TRUE(WaitFor([&] { return questions.size() == 1; }));
    EXPECT_EQ(questions[0], Text("ui_alert_exit_system", ""));
    EXPECT_TRUE(viewer->isVisible());
}

TEST_F(ViewerShortcutTest, SpaceOnAFocusedButtonPressesOnlyThatButton) {
    Button(viewer_id::kTakePhoto)->setFocus();
    Key(Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] { return PhotoWritten(); }));
    Pump(100);
    EXPECT_EQ(Folder("Single Shots").size(), 1u);

    // Space on the timed-shot button starts the series and takes no single photo.
    Button(viewer_id::kTimedShot)->setFocus();
    Key(Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] { return State().timedShotRunning.load() == 1; }));
    EXPECT_EQ(State().shotPending.load(), 0);
    viewer->OnTimedShot();
    ASSERT_TRUE(WaitFor([&] { return State().timedShotRunning.load() == 0; }));

    // Enter still presses nothing.
    Button(viewer_id::kTakePhoto)->setFocus();
    Key(Qt::Key_Return);
    Key(Qt::Key_Enter);
    Pump(50);
    EXPECT_EQ(State().shotPending.load(), 0);
    EXPECT_EQ(Folder("Single Shots").size(), 1u);
}

// A user presses Space right after the start, or after using a button or a menu: a photo, never the
// button last used (a focused button would take Space for itself).
TEST_F(ViewerShortcutTest, TheLivePictureKeepsTheFocusWhateverButtonOrMenuWasClicked) {
    QWidget* picture = viewer->PreviewWindow()->VideoHost();
    // The window's focus widget: the one that has the keys whenever the window is active.
    EXPECT_EQ(viewer->focusWidget(), picture);

    CCoolBtn* tools = viewer->ViewerLayout().ToolsButton();
    QTest::mouseClick(tools, Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_TRUE(tools->IsMenuOpen());
    tools->Menu().FindCommand(viewer_id::kToolsCrosshair)->trigger();
    tools->Menu().hide();
    QTest::mouseClick(viewer->ViewerLayout().RotateButton(), Qt::LeftButton, {}, QPoint(10, 10));
    viewer->ViewerLayout().RotateButton()->Menu().hide();
    QTest::mouseClick(Button(viewer_id::kTakePhoto), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return PhotoWritten(); }));
    EXPECT_EQ(viewer->focusWidget(), picture);

    Key(Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] { return Folder("Single Shots").size() == 2 && PhotoWritten(); }));
    EXPECT_TRUE(viewer->PictureOverlay()->isVisible());  // the crosshair chosen above
}

TEST_F(ViewerShortcutTest, DisabledButtonsIgnoreTheirKeys) {
    viewer->EnableToolbar(false);
    Key(Qt::Key_Space);
    Key(Qt::Key_R);
    Key(Qt::Key_T);
    Pump(50);
    EXPECT_EQ(State().shotPending.load(), 0);
    EXPECT_EQ(State().recordingRunning.load(), 0);
    EXPECT_EQ(State().timedShotRunning.load(), 0);
    viewer->EnableToolbar(true);
}

}  // namespace
}  // namespace orvane::test

namespace orvane::test {
namespace {

class ViewerToolsTest : public ViewerFixture {
protected:
    void SetUp() override {
        AddCamera();
        Open();
    }
    CPictureOverlay& Overlay() { return *viewer->PictureOverlay(); }
    CCoolBtn& Tools() { return *viewer->ViewerLayout().ToolsButton(); }
    bool Checked(int id) { return Tools().Menu().IsChecked(id); }
    // A drag on the live picture between two points given in capture pixels.
    void Drag(QPointF from, QPointF to) {
        const QPoint a = Overlay().ToScreen(from).toPoint();
        const QPoint b = Overlay().ToScreen(to).toPoint();
        QTest::mousePress(&Overlay(), Qt::LeftButton, Qt::NoModifier, a);
        QTest::mouseMove(&Overlay(), (a + b) / 2);
        QTest::mouseMove(&Overlay(), b);
        QTest::mouseRelease(&Overlay(), Qt::LeftButton, Qt::NoModifier, b);
    }
    std::string LabelName(size_t index) {
        QLabel* label = Overlay().LineLabel(index);
        return label != nullptr ? label->accessibleName().toStdString() : std::string();
    }
};

TEST_F(ViewerToolsTest, TheToolsButtonSitsLeftOfFlipWithItsMenuAndNothingIsDrawnUntilAsked) {
    const QRect tools = Tools().geometry();
    const QRect flip = viewer->ViewerLayout().RotateButton()->geometry();
    EXPECT_EQ(Tools().accessibleName().toStdString(), "Tools");
    EXPECT_EQ(Tools().text().toStdString(), "Tools");
    EXPECT_TRUE(Tools().HasImage());
    EXPECT_LT(tools.right(), flip.left());
    EXPECT_EQ(tools.bottom(), flip.bottom());
    EXPECT_EQ(tools.width(), flip.width());
    // In the room the hidden placeholders leave: the prompt line keeps its place.
    EXPECT_GT(tools.left(), viewer->ViewerLayout().PromptLine()->geometry().right());
    // So also in the narrowest window.
    viewer->resize(viewer->minimumSize());
    ASSERT_TRUE(WaitFor([&] { return viewer->size() == viewer->minimumSize(); }));
    EXPECT_GT(Tools().x(), viewer->ViewerLayout().PromptLine()->geometry().right());
    EXPECT_LT(Tools().geometry().right(), viewer->ViewerLayout().RotateButton()->x());
    EXPECT_EQ(Tools().geometry().bottom() + 1, viewer->height());
    EXPECT_GE(viewer->ViewerLayout().PromptLine()->width(), 100);
    BCMenu& menu = Tools().Menu();
    const std::pair<int, const char*> items[] = {
        {viewer_id::kToolsScaleBar, "Scale Bar"},
        {viewer_id::kToolsCrosshair, "Crosshair"},
        {viewer_id::kToolsGrid, "Grid"},
        {viewer_id::kToolsMeasure, "Measure"},
        {viewer_id::kToolsBurnIn, "Draw the scale bar into photos and movies"},
        {viewer_id::kToolsCalibrate, "Calibrate..."},
    };
    for (const auto& [id, text] : items) {
        ASSERT_NE(menu.FindCommand(id), nullptr) << id;
        EXPECT_EQ(menu.FindCommand(id)->text().toStdString(), text);
        EXPECT_FALSE(menu.IsChecked(id)) << id;
    }
    EXPECT_FALSE(Overlay().isVisible());

    viewer->OnToolsCommand(viewer_id::kToolsCrosshair);
    EXPECT_TRUE(Checked(viewer_id::kToolsCrosshair));
    EXPECT_TRUE(Overlay().isVisible());
    EXPECT_EQ(Overlay().geometry(), viewer->PreviewWindow()->VideoHost()->rect());
    viewer->OnToolsCommand(viewer_id::kToolsGrid);
    viewer->OnToolsCommand(viewer_id::kToolsCrosshair);
    EXPECT_TRUE(Overlay().isVisible());
    viewer->OnToolsCommand(viewer_id::kToolsGrid);
    EXPECT_FALSE(Checked(viewer_id::kToolsGrid));
    EXPECT_FALSE(Overlay().isVisible());
    // Without a calibration the scale bar has nothing to draw.
    viewer->OnToolsCommand(viewer_id::kToolsScaleBar);
    EXPECT_TRUE(Checked(viewer_id::kToolsScaleBar));
    EXPECT_FALSE(Overlay().isVisible());
    EXPECT_TRUE(Overlay().ScaleBarRect().isEmpty());

    // The crosshair is never saved: the photo is the camera's picture.
    viewer->OnToolsCommand(viewer_id::kToolsCrosshair);
    viewer->OnTakePhoto();
    ASSERT_TRUE(WaitFor([&] { return State().shotPending.load() == 0 && !Folder("Single Shots").empty(); }));
    EXPECT_EQ(viewer->ScaleOverlay().MetresPerPixel(), 0.0);
}

TEST_F(ViewerToolsTest, MeasuredLinesShowPixelsWithoutACalibrationAndFollowTheResize) {
    Drag({40, 60}, {340, 460});
    EXPECT_TRUE(Overlay().Lines().empty()) << "no line while Measure is off";

    viewer->OnToolsCommand(viewer_id::kToolsMeasure);
    ASSERT_TRUE(Overlay().isVisible());
    Drag({40, 60}, {340, 460});
    Drag({600, 20}, {600, 220});
    ASSERT_EQ(Overlay().Lines().size(), 2u);
    EXPECT_NEAR(Overlay().Lines()[0].length(), 500, 3);
    EXPECT_NEAR(Overlay().Lines()[1].length(), 200, 3);
    const std::string first = LabelName(0);
    EXPECT_EQ(first, Overlay().LengthText(Overlay().Lines()[0]).toStdString());
    EXPECT_EQ(first.substr(first.size() - 3), " px");
    EXPECT_NEAR(std::stoi(first), 500, 3);
    EXPECT_TRUE(Overlay().LineLabel(0)->isVisible());

    // A larger window shows the picture larger: the lines stay on the same pixels of the capture.
    const QLineF before = Overlay().Lines()[0];
    const QSize small = Overlay().size();
    viewer->resize(viewer->width() + 300, viewer->height() + 200);
    ASSERT_TRUE(WaitFor([&] { return Overlay().size() != small; }));
    EXPECT_EQ(Overlay().size(), viewer->PreviewWindow()->VideoHost()->size());
    EXPECT_EQ(Overlay().Lines()[0], before);
    EXPECT_EQ(LabelName(0), first);
    const QPointF end = Overlay().ToScreen(before.p2());
    EXPECT_NEAR(end.x(), before.p2().x() * Overlay().width() / 640, 0.01);
    EXPECT_NEAR(end.y(), before.p2().y() * Overlay().height() / 480, 0.01);
    const QRect label = Overlay().LineLabel(0)->geometry();
    const QPointF middle = Overlay().ToScreen(before.center());
    EXPECT_LT(QLineF(label.center(), middle).length(), 40);

    // Escape removes the lines; so does unchecking Measure.
    viewer->activateWindow();
    QTest::keyClick(viewer.get(), Qt::Key_Escape);
    EXPECT_TRUE(Overlay().Lines().empty());
    EXPECT_EQ(Overlay().LineLabel(0), nullptr);
    Drag({10, 10}, {110, 10});
    ASSERT_EQ(Overlay().Lines().size(), 1u);
    EXPECT_EQ(LabelName(0), "100 px");
    viewer->OnToolsCommand(viewer_id::kToolsMeasure);
    EXPECT_TRUE(Overlay().Lines().empty());
    EXPECT_FALSE(Overlay().isVisible());
}

TEST_F(ViewerToolsTest, EscapeInFullScreenLeavesItAndKeepsTheLines) {
    viewer->OnToolsCommand(viewer_id::kToolsMeasure);
    Drag({10, 10}, {110, 10});
    viewer->EnterFullScreen();
    EXPECT_FALSE(viewer->ViewerLayout().ToolsButton()->isVisible());
    viewer->activateWindow();
    QTest::keyClick(viewer.get(), Qt::Key_Escape);
    EXPECT_FALSE(viewer->IsFullScreen());
    EXPECT_TRUE(viewer->ViewerLayout().ToolsButton()->isVisible());
    EXPECT_EQ(Overlay().Lines().size(), 1u);
    QTest::keyClick(viewer.get(), Qt::Key_Escape);
    EXPECT_TRUE(Overlay().Lines().empty());
}

}  // namespace
}  // namespace orvane::test

namespace orvane::test {
namespace {

class ViewerCalibrationTest : public ViewerFixture {
protected:
    void SetUp() override {
        AddCamera();
        Open();
    }
    CPictureOverlay& Overlay() { return *viewer->PictureOverlay(); }
    // Calibrates through the dialog: a line across the whole 640-pixel width of the still is 640 µm.
    void CalibrateOneMicrometrePerPixel(const std::string& name) {
        viewer->OnToolsCommand(viewer_id::kToolsCalibrate);
        CCalibrationDlg* dialog = viewer->CalibrationDialog();
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(WaitFor([&] { return dialog->isVisible(); }));
        EXPECT_EQ(dialog->PictureView()->Picture().size(), QSize(640, 480));
        EXPECT_FALSE(dialog->SaveButton()->isEnabled());
        // A drag from beyond the left edge to beyond the right edge of the still.
        CCalibrationPicture* picture = dialog->PictureView();
        const QRect area = picture->PictureRect();
        const int y = area.center().y();
        QTest::mousePress(picture, Qt::LeftButton, Qt::NoModifier, QPoint(area.left() - 5, y));
        QTest::mouseMove(picture, QPoint(area.center().x(), y));
        QTest::mouseRelease(picture, Qt::LeftButton, Qt::NoModifier, QPoint(area.right() + 5, y));
        EXPECT_DOUBLE_EQ(picture->Line().length(), 640.0);
        EXPECT_EQ(dialog->LineLabel()->text().toStdString(), "Line: 640.0 pixels");
        dialog->LengthBox()->setValue(640);
        dialog->UnitBox()->setCurrentIndex(dialog->UnitBox()->findText(QStringLiteral("µm")));
        dialog->NameEdit()->setText(QString::fromStdString(name));
        ASSERT_TRUE(dialog->SaveButton()->isEnabled());
        dialog->SaveButton()->click();
        EXPECT_EQ(dialog->ActiveBox()->currentText().toStdString(), name);
    }
    std::string NewestPhoto() {
        const std::vector<std::string> photos = Folder("Single Shots");
        return photos.empty() ? std::string() : box / ("media/zentrova/Single Shots/" + photos.back());
    }
    PhotoResolution NewestPhotoResolution() {
        QFile file(QString::fromStdString(NewestPhoto()));
        if (!file.open(QIODevice::ReadOnly)) return {};
        return ReadPhotoResolution(file.readAll().toStdString());
    }
    void TakePhoto(size_t count) {
        viewer->OnTakePhoto();
        ASSERT_TRUE(WaitFor([&] {
            return State().shotPending.load() == 0 && Enabled(viewer_id::kTakePhoto) &&
                   Folder("Single Shots").size() == count;
        }));
    }
    // Pixels of the photo's lower right fifth that are nearly white (the bar and its text).
    static int WhiteInLowerRight(const QImage& photo) {
        int white = 0;
        for (int y = photo.height() * 4 / 5; y < photo.height(); ++y) {
            for (int x = photo.width() * 3 / 5; x < photo.width(); ++x) {
                const QColor c = photo.pixelColor(x, y);
                white += c.red() > 220 && c.green() > 220 && c.blue() > 220;
            }
        }
        return white;
    }
};

TEST_F(ViewerCalibrationTest, ACalibrationMadeInTheDialogDrivesTheBarTheLinesAndThePhotos) {
    viewer->OnToolsCommand(viewer_id::kToolsMeasure);
    viewer->OnToolsCommand(viewer_id::kToolsScaleBar);
    CalibrateOneMicrometrePerPixel("10x objective");
    EXPECT_DOUBLE_EQ(viewer->ScaleOverlay().MetresPerPixel(), 1e-6);
    EXPECT_FALSE(viewer->ScaleOverlay().BurnIn());
    viewer->CalibrationDialog()->accept();
    ASSERT_TRUE(WaitFor([&] { return viewer->CalibrationDialog() == nullptr; }));

    // The bar: a fifth of 640 pixels is 128 µm, so 100 µm over 100 capture pixels, in the lower right.
    EXPECT_EQ(Overlay().ScaleBarText().toStdString(), "100 µm");
    const QRect bar = Overlay().ScaleBarRect();
    EXPECT_NEAR(bar.width(), 100.0 * Overlay().width() / 640, 1.0);
    EXPECT_GT(bar.left(), Overlay().width() / 2);
    EXPECT_GT(bar.top(), Overlay().height() * 3 / 4);
    EXPECT_LT(bar.right(), Overlay().width());

    // A measured line reads in micrometres.
    const QPoint a = Overlay().ToScreen({100, 100}).toPoint();
    const QPoint b = Overlay().ToScreen({400, 100}).toPoint();
    QTest::mousePress(&Overlay(), Qt::LeftButton, Qt::NoModifier, a);
    QTest::mouseRelease(&Overlay(), Qt::LeftButton, Qt::NoModifier, b);
    ASSERT_EQ(Overlay().Lines().size(), 1u);
    const QString expected = QString::fromStdString(FormatLength(Overlay().Lines()[0].length() * 1e-6,
                                                                 LengthUnit::Micrometre));
    EXPECT_EQ(Overlay().LineLabel(0)->accessibleName(), expected);
    EXPECT_TRUE(expected.endsWith(QStringLiteral(" µm"))) << expected.toStdString();
    EXPECT_NEAR(expected.section(' ', 0, 0).toDouble(), 300, 3);

    // Photos carry the pixel size (10000 pixels per centimetre); the bar only with the burn-in.
    TakePhoto(1);
    PhotoResolution plain = NewestPhotoResolution();
    EXPECT_TRUE(plain.jfif);
    EXPECT_EQ(plain.jfifUnit, 2);
    EXPECT_EQ(plain.jfifX, 10000);
    QImage photo(QString::fromStdString(NewestPhoto()));
    EXPECT_LT(WhiteInLowerRight(photo), 20);
    viewer->OnToolsCommand(viewer_id::kToolsBurnIn);
    EXPECT_TRUE(viewer->ScaleOverlay().BurnIn());
    TakePhoto(2);
    photo.load(QString::fromStdString(NewestPhoto()));
    EXPECT_GT(WhiteInLowerRight(photo), 200);
    EXPECT_EQ(NewestPhotoResolution().jfifX, 10000);
}

TEST_F(ViewerCalibrationTest, TheScaleFollowsTheCaptureWidthAndTheDialogRenamesAndDeletes) {
    CalibrateOneMicrometrePerPixel("10x objective");
    CCalibrationDlg* dialog = viewer->CalibrationDialog();
    dialog->PictureView()->SetLine(QLineF(0, 0, 320, 0));
    dialog->LengthBox()->setValue(1.6);
    dialog->UnitBox()->setCurrentIndex(dialog->UnitBox()->findText(QStringLiteral("mm")));
    dialog->NameEdit()->setText(QStringLiteral("2x objective"));
    ASSERT_TRUE(dialog->SaveCalibration());
    EXPECT_DOUBLE_EQ(viewer->ScaleOverlay().MetresPerPixel(), 5e-6);
    EXPECT_EQ(dialog->ActiveBox()->count(), 3);  // none and the two

    // Choosing another in the combo box applies it at once.
    dialog->ActiveBox()->setCurrentIndex(dialog->ActiveBox()->findText(QStringLiteral("10x objective")));
    EXPECT_DOUBLE_EQ(viewer->ScaleOverlay().MetresPerPixel(), 1e-6);
    dialog->NameEdit()->setText(QStringLiteral("10x Plan"));
    ASSERT_TRUE(dialog->RenameChosen());
    EXPECT_EQ(dialog->ActiveBox()->currentText().toStdString(), "10x Plan");
    ASSERT_TRUE(viewer->Calibrations().Active(viewer->CurrentIdentity()).has_value());
    EXPECT_EQ(viewer->Calibrations().Active(viewer->CurrentIdentity())->name, "10x Plan");
    dialog->accept();
    ASSERT_TRUE(WaitFor([&] { return viewer->CalibrationDialog() == nullptr; }));

    // At half the width each pixel is twice as long.
    ASSERT_TRUE(viewer->ApplyCaptureSize(320, 240));
    ASSERT_TRUE(WaitFor([&] { return viewer->PreviewWindow()->VideoHost()->CurrentPicture().width() == 320; }));
    EXPECT_DOUBLE_EQ(viewer->ScaleOverlay().MetresPerPixel(), 2e-6);
    EXPECT_EQ(Overlay().PictureSize(), QSize(320, 240));

    viewer->OnToolsCommand(viewer_id::kToolsCalibrate);
    dialog = viewer->CalibrationDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->ActiveBox()->currentText().toStdString(), "10x Plan");
    ASSERT_TRUE(dialog->DeleteChosen());
    EXPECT_EQ(dialog->ActiveBox()->currentIndex(), 0);
    EXPECT_EQ(viewer->ScaleOverlay().MetresPerPixel(), 0.0);
    EXPECT_EQ(viewer->Calibrations().List(viewer->CurrentIdentity()).size(), 1u);
    dialog->reject();
}

TEST_F(ViewerCalibrationTest, TheScaleBarAndItsBurnInAreKeptForTheNextRun) {
    CalibrateOneMicrometrePerPixel("10x objective");
    viewer->CalibrationDialog()->accept();
    viewer->OnToolsCommand(viewer_id::kToolsScaleBar);
    viewer->OnToolsCommand(viewer_id::kToolsBurnIn);
    viewer->OnToolsCommand(viewer_id::kToolsCrosshair);
    viewer.reset();
    Open();
    BCMenu& menu = viewer->ViewerLayout().ToolsButton()->Menu();
    EXPECT_TRUE(menu.IsChecked(viewer_id::kToolsScaleBar));
    EXPECT_TRUE(menu.IsChecked(viewer_id::kToolsBurnIn));
    EXPECT_FALSE(menu.IsChecked(viewer_id::kToolsCrosshair));
    EXPECT_DOUBLE_EQ(viewer->ScaleOverlay().MetresPerPixel(), 1e-6);
    EXPECT_TRUE(viewer->ScaleOverlay().BurnIn());
    EXPECT_EQ(Overlay().ScaleBarText().toStdString(), "100 µm");
    EXPECT_TRUE(Overlay().isVisible());
}

TEST_F(ViewerCalibrationTest, WithoutAPictureCalibratingSaysSo) {
    viewer->ForgetCurrentDevice();
    viewer->OnToolsCommand(viewer_id::kToolsCalibrate);
    EXPECT_EQ(viewer->CalibrationDialog(), nullptr);
    EXPECT_EQ(alerts.Alerts().back(), Text("ui_calibrate_no_picture", ""));
}

}  // namespace
}  // namespace orvane::test
