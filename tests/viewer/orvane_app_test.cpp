#include "viewer/orvane_app.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/module_folder.h"
#include "config/registry.h"
#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "localization/localizable_string.h"
#include "support/sandbox.h"

namespace orvane::test {
namespace {

class OrvaneAppTest : public ::testing::Test {
protected:
    OrvaneAppTest()
        : hive(box.ConfigHome() + "/zentrova/settings.conf", CRegistryHive::DefaultFactoryFile()),
          settings(&hive),
          strings(&settings, GetModuleFolder()) {
        CSettingParam param = settings.GetUsingParam();
        param.language = 0;
        settings.SetUsingParam(param);
        MakeFolders(box / "run");
    }

    COrvaneApp::Options Options() {
        COrvaneApp::Options options;
        options.lockFolder = box / "run";
        options.programName = "orvane-test";
        options.hive = &hive;
        options.viewer.strings = &strings;
        options.alert = [this](const std::string& text) { shown.push_back(text); };
        return options;
    }

    Sandbox box;
    CRegistryHive hive;
    CSettingParamManage settings;
    CLocalizableString strings;
    std::vector<std::string> shown;
};

TEST_F(OrvaneAppTest, OnlyOneInstanceRunsAndTheLockGoesWithIt) {
    auto first = std::make_unique<COrvaneApp>(Options());
    EXPECT_TRUE(first->IsSingleInstance());
    EXPECT_EQ(first->LockFilePath(), box / "run/orvane-test.lock");
    {
        COrvaneApp second(Options());
        EXPECT_FALSE(second.IsSingleInstance());
        EXPECT_FALSE(second.InitInstance());
    }
    EXPECT_EQ(shown, std::vector<std::string>(2, strings.GetString("ui_alert_have_running_application", "")));
    first.reset();
    COrvaneApp third(Options());
    EXPECT_TRUE(third.IsSingleInstance());
}

TEST_F(OrvaneAppTest, XvidValueIsZeroAtEveryStart) {
    {
        CRegistry key(&hive);
        ASSERT_TRUE(key.Create("Software\\GNU\\XviD"));
        ASSERT_TRUE(key.WriteDword("display_status", 7u));
    }
    COrvaneApp app(Options());
    EXPECT_TRUE(app.SuppressXvidStatus());
    // Read back from the file, as the next start would.
    CRegistryHive reread(box.ConfigHome() + "/zentrova/settings.conf", CRegistryHive::DefaultFactoryFile());
    CRegistry key(&reread);
    uint32_t value = 99;
    ASSERT_TRUE(key.Open("software\\gnu\\xvid"));
    ASSERT_TRUE(key.ReadDword("DISPLAY_STATUS", value));
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(shown.empty());
}

TEST_F(OrvaneAppTest, AnUnwritableHiveEndsTheStartWithTheStatusCode) {
    // The hive's folder is taken by a file, so the hive cannot be saved.
    WriteFile(box / "blocked", "x");
    CRegistryHive blocked(box / "blocked/zentrova/settings.conf", "");
    COrvaneApp::Options options = Options();
    options.hive = &blocked;
    COrvaneApp app(options);
    EXPECT_FALSE(app.SuppressXvidStatus());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("Fail to run application,because register xvid is error error code = ", 0), 0u)
        << shown[0];
    EXPECT_NE(shown[0].back(), ' ');
    EXPECT_TRUE(app.IsSingleInstance());
    EXPECT_FALSE(app.InitInstance());  // never reaches the viewer
}

}  // namespace
}  // namespace orvane::test
