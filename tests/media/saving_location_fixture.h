#pragma once

#include <gtest/gtest.h>

#include <string>

#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "media/saving_loaction_manage.h"
#include "support/sandbox.h"

namespace orvane::test {

// A manager over settings kept in sandbox files, with the user folder <sandbox>/Media, its storage
// tree made, and the date fixed at 31 January 2024.
class SavingLocationTest : public ::testing::Test {
protected:
    SavingLocationTest()
        : hive(box / "settings.conf", box / "factory.conf"), settings(&hive), saving(&settings) {
        MakeFolders(box / "Media");
        UseSettings(false, box / "Media");
        saving.CreateResourceFolders();
    }

    void UseSettings(bool nested, const std::string& userFolder) {
        CSettingParam param = settings.GetUsingParam();
        param.SetResourcesPath(userFolder);
        param.autocreatingfolder = nested ? 1 : 0;
        settings.SetUsingParam(param);
    }
    void UseNested(bool nested) { UseSettings(nested, settings.GetUsingParam().GetResourcesPath()); }

    std::string Root() const { return settings.GetUsingParam().GetRootPath(); }
    std::string Singles() const { return settings.GetUsingParam().GetSingleShotsFolder(); }
    std::string Timed() const { return settings.GetUsingParam().GetTimedShotsFolder(); }
    std::string Movies() const { return settings.GetUsingParam().GetMoviesFolder(); }

    std::string NextPhoto() {
        std::string path;
        EXPECT_TRUE(saving.GetSingleShotPath(Singles(), path));
        return path;
    }
    // Asks for the next photo and writes it, as the photo writer would.
    std::string SavePhoto() {
        std::string path = NextPhoto();
        EXPECT_FALSE(Exists(path));
        WriteFile(path, "jpeg");
        return path;
    }
    std::string SaveTimedShot() {
        std::string path;
        EXPECT_TRUE(saving.GetTimedShotPath(Timed(), path));
        EXPECT_FALSE(Exists(path));
        WriteFile(path, "jpeg");
        return path;
    }

    Sandbox box;
    AlertRecorder alerts;
    ManualClock clock;  // 2024-01-31
    CRegistryHive hive;
    CSettingParamManage settings;
    CSavingLoactionManage saving;
};

}  // namespace orvane::test
