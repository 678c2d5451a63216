#include <QLineEdit>
#include <QTest>

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
        viewer->setFocus();
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
