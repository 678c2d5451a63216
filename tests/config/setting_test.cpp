#include <gtest/gtest.h>

#include "config/setting_param.h"
#include "config/settings_fixture.h"

namespace orvane {
namespace {

using SettingTest = test::SettingsFixture;

TEST_F(SettingTest, EmptyStoreKeepsEveryBuiltInValue) {
    OpenHive("");
    Setting setting;
    EXPECT_FALSE(setting.LoadDefault(hive.get()));
    EXPECT_FALSE(setting.HasUsing());
    EXPECT_FALSE(setting.LoadUsing());
    EXPECT_EQ(setting, Setting());
    EXPECT_EQ(setting.language, 0x1FFFFFFF);
    EXPECT_EQ(setting.resourcespath, "default");
    EXPECT_EQ(setting.moviesizemax, 16);
    EXPECT_EQ(setting.venderidlist, "0C45;1E4E");
    EXPECT_EQ(setting.wifideviceport, 8080);
    EXPECT_EQ(setting.timedshot.ranges[5], (ValueRange{1, 300, 60}));
    EXPECT_TRUE(setting.languages.empty());
    CSettingParam param;
    EXPECT_EQ(param.GetLanguage(param.GetLanguageIndex(0x0409)), (LanguageItem{"English", "English", 0x8304}));
}

TEST_F(SettingTest, FullFactoryFileOverlaysEveryGroupInOrder) {
    OpenHive(test::FullFactory());
    Setting setting;
    ASSERT_TRUE(setting.LoadDefault(hive.get()));
    EXPECT_EQ(setting.producename, "scope");
    EXPECT_EQ(setting.venderidlist, "AAAA;BBBB");
    EXPECT_EQ(setting.resourcespath, "/media/data");
    EXPECT_EQ(setting.autocreatingfolder, 1);
    EXPECT_EQ(setting.wifideviceip, 0x7F000001u);
    EXPECT_EQ(setting.wifidevicename, "lab scope");
    EXPECT_EQ(setting.haswifi, 1);
    EXPECT_EQ(setting.timedshot.shotstype, Hour);
    EXPECT_EQ(setting.timedshot.ranges[2], (ValueRange{3, 16, 8}));
    ASSERT_EQ(setting.languages.size(), 2u);
    EXPECT_EQ(setting.languages[1].showname, "简体中文");
    EXPECT_EQ(setting.languages[1].langid, 0x0804) << "only the low 16 bits of langid count";
}

TEST_F(SettingTest, LoadsStopAtTheFirstFailingValue) {
    // The about group lacks its last value: nothing after it is read, what came before is kept.
    std::string factory = test::FullFactory();
    factory.replace(factory.find("\"venderidlist\""), 1, "\"x");
    OpenHive(factory);
    Setting setting;
    EXPECT_FALSE(setting.LoadDefault(hive.get()));
    EXPECT_EQ(setting.version, "v9");
    EXPECT_EQ(setting.venderidlist, "0C45;1E4E");
    EXPECT_EQ(setting.resourcespath, "default") << "the groups are chained";
}

TEST_F(SettingTest, LanguageWithAMissingKeyEndsTheList) {
    std::string factory = test::FullFactory();
    factory.replace(factory.find("\"count\"=dword:00000002"), 22, "\"count\"=dword:00000003");
    factory += "[software\\zentrova\\default\\languages\\language2]\n"
               "\"indentifier\"=\"de\"\n\"showname\"=\"Deutsch\"\n\"langid\"=dword:00000407\n";
    factory.replace(factory.find("languages\\language1]"), 20, "languages\\languageX]");
    OpenHive(factory);
    Setting setting;
    EXPECT_FALSE(setting.LoadDefault(hive.get()));
    ASSERT_EQ(setting.languages.size(), 1u);
    EXPECT_EQ(setting.languages[0].indentifier, "English");
}

TEST_F(SettingTest, OptionalWirelessValuesNeverFailTheLoad) {
    OpenHive(test::FullFactory(""));
    Setting setting;
    setting.haswifi = 5;
    EXPECT_TRUE(setting.LoadDefault(hive.get()));
    EXPECT_EQ(setting.wifidevicename, "zentrova wireless");
    EXPECT_EQ(setting.haswifi, 0);
}

TEST_F(SettingTest, UsingBranchWithoutMovieFormatKeepsTheFactoryValuesFromThere) {
    OpenHive(test::FullFactory(),
             "[software\\zentrova\\using\\system]\n"
             "\"resourcespath\"=\"/home/u/pics\"\n\"autocreatingfolder\"=dword:00000000\n"
             "\"movieresolution\"=dword:00000005\n\"moviesizemax\"=dword:00000200\n"
             "\"language\"=dword:00000001\n\"wifideviceip\"=dword:7f000002\n");
    Setting setting;
    setting.LoadDefault(hive.get());
    ASSERT_TRUE(setting.HasUsing());
    EXPECT_FALSE(setting.LoadUsing());
    EXPECT_EQ(setting.resourcespath, "/home/u/pics");
    EXPECT_EQ(setting.autocreatingfolder, 0);
    EXPECT_EQ(setting.movieresolution, 5);
    EXPECT_EQ(setting.moviesizemax, 0x200);
    EXPECT_EQ(setting.language, 0x1FFFFFFF);
    EXPECT_EQ(setting.wifideviceip, 0x7F000001u);
}

TEST_F(SettingTest, OverlongResourcesPathInTheUsingBranchIgnoresTheGroupFromThere) {
    OpenHive(test::FullFactory(), "[software\\zentrova\\using\\system]\n\"resourcespath\"=\"/" +
                                      std::string(99, 'p') + "\"\n\"moviesizemax\"=dword:00000200\n");
    Setting setting;
    setting.LoadDefault(hive.get());
    EXPECT_FALSE(setting.LoadUsing());
    EXPECT_EQ(setting.resourcespath, "/media/data");
    EXPECT_EQ(setting.moviesizemax, 0x100);
}

TEST_F(SettingTest, SaveUsingWritesOnlyTheUserValuesAndReadsBack) {
    OpenHive(test::FullFactory());
    Setting setting;
    setting.LoadDefault(hive.get());
    setting.resourcespath = "/srv/scope";
    setting.movieformat = 1;
    setting.timedshot.shotsvalue = 9;
    setting.wifidevicename = "never saved";
    ASSERT_TRUE(setting.SaveUsing());

    CRegistryHive reread(UserFile(), FactoryFile());
    Setting loaded;
    loaded.LoadDefault(&reread);
    ASSERT_TRUE(loaded.LoadUsing(&reread));
    EXPECT_EQ(loaded.resourcespath, "/srv/scope");
    EXPECT_EQ(loaded.movieformat, 1);
    EXPECT_EQ(loaded.timedshot.shotsvalue, 9);
    EXPECT_EQ(loaded.wifidevicename, "lab scope");
    const std::string file = test::ReadFile(UserFile());
    EXPECT_EQ(file.find("wifidevicename"), std::string::npos);
    EXPECT_EQ(file.find("\\default"), std::string::npos);
}

TEST(SettingComputationTest, ShotsDurationAndValidity) {
    Setting s;
    s.timedshot.shotstype = Hour;
    s.timedshot.shotsvalue = 2;
    EXPECT_EQ(s.GetShotsPerDay(), 48);
    s.timedshot.shotsvalue = 0;
    EXPECT_EQ(s.GetShotsPerDay(), 1);
    s.timedshot.shotsvalue = 5;
    s.timedshot.shotstype = 3;
    EXPECT_EQ(s.GetShotsPerDay(), 1);
    s.timedshot.shotstype = Minute;
    s.timedshot.shotsvalue = 0x7FFFFFFF;
    EXPECT_EQ(s.GetShotsPerDay(), 0x7FFFFFFF) << "a hand-edited value saturates instead of wrapping";

    s.timedshot.timestype = Day;
    s.timedshot.timesvalue = 3;
    EXPECT_EQ(s.GetTimedShotMinutes(), 4320);
    s.timedshot.timestype = -1;
    EXPECT_EQ(s.GetTimedShotMinutes(), 1);

    Setting v;
    v.timedshot.ranges[Hour] = {5, 10, 7};
    v.timedshot.shotstype = Hour;
    v.timedshot.timestype = Minute;
    v.timedshot.timesvalue = 1;
    for (int n : {5, 10}) {
        v.timedshot.shotsvalue = n;
        EXPECT_TRUE(v.IsTimedShotValid()) << n;
    }
    for (int n : {4, 11}) {
        v.timedshot.shotsvalue = n;
        EXPECT_FALSE(v.IsTimedShotValid()) << n;
    }
    v.timedshot.shotsvalue = 6;
    v.timedshot.timesvalue = 301;
    EXPECT_FALSE(v.IsTimedShotValid());
    v.timedshot.timesvalue = 1;
    v.timedshot.timestype = 7;
    EXPECT_FALSE(v.IsTimedShotValid());
}

TEST(SettingParamTest, MovieResolutionFallsBackToTheCaptureResolution) {
    CSettingParam p;
    p.captureresolution = {1920, 1080, 0, true};
    EXPECT_EQ(p.GetMovieResolution(), p.captureresolution);
    p.moviesize = {640, 0, 0, false};
    EXPECT_EQ(p.GetMovieResolution(), p.moviesize);
}

TEST(SettingParamTest, StorageRootAndUserFolderNormalisation) {
    CSettingParam p;
    p.SetResourcesPath("/media/scope/");
    EXPECT_EQ(p.GetResourcesPath(), "/media/scope");
    EXPECT_EQ(p.GetRootPath(), "/media/scope/zentrova");
    EXPECT_EQ(p.GetSingleShotsFolder(), "/media/scope/zentrova/Single Shots");
    p.SetResourcesPath("\\data\\zentrova\\\\");
    EXPECT_EQ(p.GetResourcesPath(), "/data/zentrova");
    EXPECT_EQ(p.GetRootPath(), "/data/zentrova");
    p.SetResourcesPath("/");
    EXPECT_EQ(p.GetResourcesPath(), "/");
    EXPECT_EQ(p.GetRootPath(), "/zentrova");
}

TEST(SettingParamTest, LanguageChoice) {
    CSettingParam p;
    p.languages = {{"English", "English", 0x0409}, {"zh-Hans", "简体中文", 0x0804}};
    EXPECT_EQ(p.GetLanguageIndex(0x0804), 1);
    EXPECT_EQ(p.GetLanguageIndex(0x0407), 0);
    p.language = -1;
    EXPECT_EQ(p.GetLanguageIndex(0x0804), -1);
    EXPECT_EQ(p.GetLanguage(-1), LanguageItem{});
    EXPECT_EQ(p.GetLanguage(5), LanguageItem{});
    EXPECT_EQ(p.GetLanguage(1).indentifier, "zh-Hans");

    EXPECT_EQ(LangIdFromLocaleName("zh_CN.UTF-8"), 0x0804);
    EXPECT_EQ(LangIdFromLocaleName("zh_TW.UTF-8"), 0x0404);
    EXPECT_EQ(LangIdFromLocaleName("en_US.UTF-8"), 0x0409);
    EXPECT_EQ(LangIdFromLocaleName("de_DE@euro"), 0x0407);
    EXPECT_EQ(LangIdFromLocaleName("C"), 0x0409);
}

TEST(SettingParamTest, UserLanguageComesFromTheFirstLocaleVariableSet) {
    struct Env {
        const char* name;
        std::string old;
        bool had;
    } vars[] = {{"LC_ALL", "", false}, {"LC_MESSAGES", "", false}, {"LANG", "", false}, {"LANGUAGE", "", false}};
    for (auto& v : vars) {
        if (const char* value = std::getenv(v.name)) v.old = value, v.had = true;
        ::unsetenv(v.name);
    }
    ::setenv("LANGUAGE", "zh_CN:en", 1);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0804);
    ::setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0407);
    ::setenv("LC_ALL", "zh_CN.UTF-8", 1);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0804);
    for (auto& v : vars) {
        if (v.had) ::setenv(v.name, v.old.c_str(), 1);
        else ::unsetenv(v.name);
    }
}

TEST(SettingParamTest, VendorIdListSplitsAtSemicolons) {
    CSettingParam p;
    std::vector<std::string> ids;
    p.GetVendorIdList(ids);
    EXPECT_EQ(ids, (std::vector<std::string>{"0c45", "1e4e"}));
    ids.clear();
    p.venderidlist = ";0C45";
    p.GetVendorIdList(ids);
    EXPECT_EQ(ids, (std::vector<std::string>{";0c45"}));
    ids.clear();
    p.venderidlist = "";
    p.GetVendorIdList(ids);
    EXPECT_EQ(ids, (std::vector<std::string>{""}));
}

}  // namespace
}  // namespace orvane
