#include "control/capture_controller.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/module_folder.h"
#include "base/text.h"
#include "capture/capture_video.h"
#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "dispatch/recording_control.h"
#include "dispatch/sample_grabber_cb.h"
#include "localization/localizable_string.h"
#include "media/saving_loaction_manage.h"
#include "recording/recording_slot.h"
#include "simulation/simulated_camera.h"
#include "support/sandbox.h"

namespace orvane {
namespace {

// The window's side, as the controller sees it: which buttons it may press, the captions, and
// what it was asked about the camera.
class ViewRecord final : public ICaptureView {
public:
    void EnableActions(bool enable, std::optional<CaptureAction> keep_) override {
        enabled = enable;
        keep = enable ? std::nullopt : keep_;
    }
    void SetActionCaption(CaptureAction action, const std::string& caption) override {
        captions[action] = caption;
    }
    void ShowLeftColumn() override { ++leftColumnShown; }
    void ShowNotice(const std::string& text) override { notices.push_back(text); }
    void WithdrawNotice(const std::string& text) override { withdrawn.push_back(text); }
    bool HasCurrentDevice() const override { return device; }
    void ShowPreviewError() override { ++previewErrors; }
    bool ApplyCaptureSize(int32_t width, int32_t height) override {
        sizes.emplace_back(width, height);
        return sizeApplies;
    }

    bool device = true;
    bool sizeApplies = true;
    bool enabled = true;
    std::optional<CaptureAction> keep;
    std::map<CaptureAction, std::string> captions;
    int leftColumnShown = 0;
    int previewErrors = 0;
    std::vector<std::pair<int32_t, int32_t>> sizes;
    std::vector<std::string> notices;
    std::vector<std::string> withdrawn;
};

class CaptureControllerTest : public ::testing::Test {
protected:
    CaptureControllerTest()
        : hive(box.ConfigHome() + "/zentrova/settings.conf", GetModuleFolder() + "Resource/factory.conf"),
          settings(&hive),
          locations(&settings),
          strings(&settings, GetModuleFolder()),
          session(CaptureVideoServices{&cameras, nullptr, &strings, &hive, nullptr, nullptr, &recorder}),
          controller(CaptureControllerServices{&settings, &locations, &strings, &session, &grabber}, view) {
        CRegistryHive::SetCurrentUser(&hive);
        test::MakeFolders(box / "media");
        CSettingParam param = settings.GetUsingParam();
        param.SetResourcesPath(box / "media");
        param.captureresolution = {1280, 720, 0, false};
        param.movieformat = 0;
        param.timedshot.shotstype = Minute;
        param.timedshot.shotsvalue = 6;
        param.timedshot.timestype = Hour;
        param.timedshot.timesvalue = 2;
        settings.SetUsingParam(param);
        controller.UpdateCaptions();
    }
    ~CaptureControllerTest() override {
        StopRecording();
        CRegistryHive::SetCurrentUser(nullptr);
    }

    std::string Text(const StringKey& key) { return strings.GetString(key); }
    void SetParam(void (*change)(CSettingParam&)) {
        CSettingParam param = settings.GetUsingParam();
        change(param);
        settings.SetUsingParam(param);
    }
    static bool OutputRunning() {
        std::lock_guard<std::mutex> guard(g_recordingLock);
        return g_recordingOutput != nullptr;
    }

    test::Sandbox box;
    test::AlertRecorder alerts;
    test::ManualClock clock;
    CRegistryHive hive;
    CSettingParamManage settings;
    CSavingLoactionManage locations;
    CLocalizableString strings;
    SimulatedDeviceFile cameras;
    CRecordingControl recorder{&settings};
    CCaptureVideo session;
    CSampleGrabberCB grabber{0};
    ViewRecord view;
    CCaptureController controller;
};

TEST_F(CaptureControllerTest, APhotoHoldsEveryButtonUntilTheSaverReportsIt) {
    controller.TakePhoto();
    EXPECT_TRUE(controller.IsPhotoPending());
    EXPECT_FALSE(view.enabled);
    EXPECT_EQ(view.keep, std::nullopt) << "a photo cannot be stopped";
    EXPECT_EQ(view.leftColumnShown, 1);

    controller.OnShotDone();
    EXPECT_FALSE(controller.IsPhotoPending());
    EXPECT_TRUE(view.enabled);
}

// Every action first checks the storage folder, then its settings, then the camera; a failed check
// warns and leaves every state and button as it was.
TEST_F(CaptureControllerTest, ChecksThatFailStartNothing) {
    struct Case {
        const char* what;
        void (*arrange)(CSettingParam&);
        bool device;
    };
    const Case cases[] = {
        {"no storage folder", [](CSettingParam& p) { p.SetResourcesPath("/nonexistent/orvane"); }, true},
        {"no camera", [](CSettingParam&) {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CSettingParam before = settings.GetUsingParam();
        SetParam(c.arrange);
        view.device = c.device;
        for (void (CCaptureController::*action)() :
             {&CCaptureController::TakePhoto, &CCaptureController::ToggleTimedShots,
              &CCaptureController::ToggleRecording}) {
            alerts.Clear();
            view.previewErrors = 0;
            (controller.*action)();
            EXPECT_FALSE(controller.IsPhotoPending() || controller.IsTimedShotRunning() ||
                         controller.IsRecording());
            EXPECT_TRUE(view.enabled);
            EXPECT_EQ(alerts.Alerts().size() + size_t(view.previewErrors), 1u) << "told once";
            if (!c.device) {
                EXPECT_EQ(view.previewErrors, 1);
            } else {
                EXPECT_EQ(alerts.Alerts(),
                          std::vector<std::string>{Format(Text(keys::kAlertNotExistResourceLocation),
                                                          settings.GetUsingParam().GetMoviesFolder())});
            }
        }
        EXPECT_FALSE(OutputRunning());
        settings.SetUsingParam(before);
        view.device = true;
    }

    SetParam([](CSettingParam& p) { p.timedshot.shotsvalue = 61; });  // above the factory range
    controller.ToggleTimedShots();
    EXPECT_FALSE(controller.IsTimedShotRunning());
    EXPECT_EQ(alerts.Alerts().back(), Text(keys::kAlertTimedShotSetting));
}

TEST_F(CaptureControllerTest, ATimedSeriesKeepsOnlyItsOwnButtonAndEndsOnce) {
    controller.ToggleTimedShots();
    ASSERT_TRUE(controller.IsTimedShotRunning());
    EXPECT_EQ(controller.State().timedShotIntervalMs.load(), 10'000);
    EXPECT_FLOAT_EQ(controller.State().timedShotHours.load(), 2.0f);
    EXPECT_EQ(grabber.timedStartMs.load(), clock.NowMs());
    EXPECT_FALSE(view.enabled);
    EXPECT_EQ(view.keep, CaptureAction::TimedShot);
    EXPECT_EQ(view.captions[CaptureAction::TimedShot], Text(keys::kViewBtnStopTimedShot));
    EXPECT_EQ(controller.ExitQuestion(), Text(keys::kAlertExitSystemDoingTimedshot));

    controller.OnTimedShotEnd();
    EXPECT_FALSE(controller.IsTimedShotRunning());
    EXPECT_TRUE(view.enabled);
    EXPECT_EQ(view.captions[CaptureAction::TimedShot], Text(keys::kViewBtnTakeTimedShot));

    // The dispatcher repeats its end message until it sees the flag clear: one arriving after a
    // recording has started leaves the recording's buttons alone.
    controller.ToggleRecording();
    ASSERT_TRUE(controller.IsRecording());
    controller.OnTimedShotEnd();
    EXPECT_FALSE(view.enabled);
    EXPECT_EQ(view.keep, CaptureAction::Recording);
}

TEST_F(CaptureControllerTest, ARecordingRunsAtTheMovieSizeAndGoesBackWhenItEnds) {
    SetParam([](CSettingParam& p) { p.movieresolution = 0; });
    const CaptureResolution movie = settings.GetUsingParam().GetMovieResolution();
    controller.ToggleRecording();
    ASSERT_TRUE(controller.IsRecording());
    EXPECT_TRUE(OutputRunning());
    ASSERT_EQ(view.sizes.size(), 1u);
    EXPECT_EQ(view.sizes[0], std::make_pair(movie.width, movie.height));
    EXPECT_EQ(view.keep, CaptureAction::Recording);
    EXPECT_EQ(view.captions[CaptureAction::Recording], Text(keys::kViewBtnStopRecording));
    EXPECT_EQ(controller.ExitQuestion(), Text(keys::kAlertExitSystemDoingRecording));

    controller.OnRecordingEnd();
    EXPECT_FALSE(controller.IsRecording());
    EXPECT_FALSE(OutputRunning());
    ASSERT_EQ(view.sizes.size(), 2u);
    EXPECT_EQ(view.sizes[1], std::make_pair(1280, 720));
    EXPECT_TRUE(view.enabled);
    EXPECT_EQ(view.captions[CaptureAction::Recording], Text(keys::kViewBtnTakeRecording));
    controller.OnRecordingEnd();
    EXPECT_EQ(view.sizes.size(), 2u) << "a late end message changes nothing";
    EXPECT_EQ(controller.ExitQuestion(), Text(keys::kAlertExitSystem));
}

TEST_F(CaptureControllerTest, ARecordingThatCannotStartSaysNothingAndRestoresTheSize) {
    view.sizeApplies = false;
    controller.ToggleRecording();
    EXPECT_FALSE(controller.IsRecording());
    EXPECT_FALSE(OutputRunning());
    EXPECT_TRUE(view.enabled);

    // A movie format no output knows: the preview goes back to its size and nothing claims to record.
    view.sizeApplies = true;
    view.sizes.clear();
    SetParam([](CSettingParam& p) { p.movieformat = 7; });
    controller.ToggleRecording();
    EXPECT_FALSE(controller.IsRecording());
    EXPECT_EQ(view.sizes.size(), 2u);
    EXPECT_EQ(view.captions[CaptureAction::Recording], Text(keys::kViewBtnTakeRecording));
}

TEST_F(CaptureControllerTest, StopActionsLeavesEveryState) {
    controller.TakePhoto();
    controller.StopActions();
    EXPECT_FALSE(controller.IsPhotoPending());
    EXPECT_TRUE(view.enabled);

    controller.ToggleRecording();
    ASSERT_TRUE(controller.IsRecording());
    controller.State().timedShotRunning = 1;  // as if a series had been started before
    controller.StopActions();
    EXPECT_FALSE(controller.IsRecording() || controller.IsTimedShotRunning());
    EXPECT_FALSE(OutputRunning());
    EXPECT_TRUE(view.enabled);
    EXPECT_EQ(view.captions[CaptureAction::TimedShot], Text(keys::kViewBtnTakeTimedShot));
}

// Ends the user did not ask for are told, without a box that stops the program: the recording that
// reached its maximum size, and a series or recording whose camera was pulled out.
TEST_F(CaptureControllerTest, EndsTheUserDidNotAskForAreTold) {
    controller.ToggleRecording();
    ASSERT_TRUE(controller.IsRecording());
    controller.State().recordingLimitReached = 1;  // as the dispatcher marks it
    controller.OnRecordingEnd();
    EXPECT_FALSE(controller.IsRecording());
    EXPECT_EQ(view.notices, std::vector<std::string>{Text(keys::kAlertRecordingReachedMaximumSize)});

    view.notices.clear();
    controller.ToggleRecording();
    ASSERT_TRUE(controller.IsRecording());
    EXPECT_EQ(controller.State().recordingLimitReached.load(), 0) << "a new recording starts unmarked";
    controller.ToggleRecording();
    EXPECT_TRUE(view.notices.empty()) << "a recording the user stopped needs no notice";

    for (void (CCaptureController::*action)() :
         {&CCaptureController::ToggleTimedShots, &CCaptureController::ToggleRecording}) {
        view.notices.clear();
        (controller.*action)();
        controller.EndActionsForRemovedCamera();
        EXPECT_FALSE(controller.IsTimedShotRunning() || controller.IsRecording());
        EXPECT_TRUE(view.enabled);
        EXPECT_EQ(view.notices, std::vector<std::string>{Text(keys::kAlertCaptureEndedCameraRemoved)});
    }
    view.notices.clear();
    controller.EndActionsForRemovedCamera();
    EXPECT_TRUE(view.notices.empty()) << "nothing ran, nothing to tell";
}

TEST_F(CaptureControllerTest, UnreadableFramesAreToldOncePerRunAndTakenBackWhenFramesCome) {
    const std::string text = Text(keys::kNoticeFramesUnreadable);
    ASSERT_FALSE(text.empty());
    controller.OnFramesUnreadable(false);
    EXPECT_TRUE(view.withdrawn.empty()) << "nothing was told";
    controller.OnFramesUnreadable(true);
    controller.OnFramesUnreadable(true);  // a late second word of the same run
    EXPECT_EQ(view.notices, std::vector<std::string>{text});
    controller.OnFramesUnreadable(false);
    EXPECT_EQ(view.withdrawn, std::vector<std::string>{text});
    controller.OnFramesUnreadable(true);
    EXPECT_EQ(view.notices, (std::vector<std::string>{text, text})) << "a new run is told again";
}

}  // namespace
}  // namespace orvane
