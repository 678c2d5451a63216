#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "dispatch/grabber_owner.h"
#include "dispatch/sample_grabber_cb.h"
#include "dispatch/viewer_stand_ins.h"
#include "dispatch/photo_saver.h"
#include "dispatch/scale_overlay.h"
#include "imaging/rotate_sample_imp.h"
#include "media/saving_loaction_manage.h"
#include "support/sandbox.h"

namespace orvane::test {


// A dispatcher instance with settings, saving locations and rotation of its own, saving below a
// sandbox folder at a fixed date.
class GrabberFixture : public ::testing::Test {
protected:
    static constexpr int32_t kWidth = 64;
    static constexpr int32_t kHeight = 48;

    GrabberFixture()
        : hive(box.ConfigHome() + "/zentrova/settings.conf", ""),
          settings(&hive),
          locations(&settings),
          saver(PhotoSaverServices{&settings, &locations, nullptr, &scale}),
          preview(0),
          still(1) {
        CRegistryHive::SetCurrentUser(&hive);
        SetLayout(0);
        for (CSampleGrabberCB* grabber : {&preview, &still}) {
            grabber->SetServices({&rotation, &settings, &locations, &saver, &scale});
            grabber->width = kWidth;
            grabber->height = kHeight;
            grabber->owner = &viewer;
        }
        locations.CreateResourceFolders();
        saver.Start(&viewer);
        // A picture whose top half is bright and bottom half dark, rows bottom-up.
        frame.resize(size_t{3} * kWidth * kHeight);
        for (int32_t row = 0; row < kHeight; ++row) {
            uint8_t value = row < kHeight / 2 ? 20 : 230;
            std::fill_n(frame.begin() + size_t{3} * kWidth * row, size_t{3} * kWidth, value);
        }
    }
    ~GrabberFixture() override {
        saver.Stop();
        CRegistryHive::SetCurrentUser(nullptr);
    }

    void SetLayout(int32_t autocreatingfolder, const std::string& userFolder = "") {
        CSettingParam p = settings.GetUsingParam();
        p.SetResourcesPath(userFolder.empty() ? box / "media" : userFolder);
        p.autocreatingfolder = autocreatingfolder;
        p.captureresolution = {kWidth, kHeight, 0, false};
        settings.SetUsingParam(p);
        test::MakeFolders(box / "media");
    }

    // What the saver wrote once everything handed to it is done.
    std::vector<std::string> SingleShots() const {
        saver.WaitIdle();
        return ListFolder(box / "media/zentrova/Single Shots");
    }
    std::vector<std::string> TimedShots() const {
        saver.WaitIdle();
        return ListFolder(box / "media/zentrova/Timed Shots");
    }

    HRESULT Deliver(CSampleGrabberCB& grabber) {
        return grabber.BufferCB(0.0, frame.data(), static_cast<int32_t>(frame.size()));
    }

    Sandbox box;
    AlertRecorder alerts;
    ManualClock clock;
    CRegistryHive hive;
    CSettingParamManage settings;
    CSavingLoactionManage locations;
    RotateSampleImp rotation;
    RecordingViewer viewer;
    CScaleOverlay scale;  // no calibration until a test sets one
    CPhotoSaver saver;
    CSampleGrabberCB preview;
    CSampleGrabberCB still;
    std::vector<uint8_t> frame;
};

}  // namespace orvane::test
