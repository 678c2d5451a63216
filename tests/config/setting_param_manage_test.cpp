#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "config/setting_param_manage.h"
#include "config/settings_fixture.h"

namespace orvane {
namespace {

using SettingParamManageTest = test::SettingsFixture;

TEST_F(SettingParamManageTest, NoBranchesGiveBuiltInValuesWithTheDocumentsFolder) {
    OpenHive("");
    CSettingParamManage manager(hive.get());
    CSettingParam current = manager.GetUsingParam();
    EXPECT_EQ(current.resourcespath, box.Documents());
    EXPECT_EQ(current.GetRootPath(), box.Documents() + "/zentrova");
    EXPECT_EQ(current.moviesizemax, 16);
    EXPECT_EQ(manager.GetLastParam(), current);
    EXPECT_EQ(manager.GetDefaultParam(), current);
}

TEST_F(SettingParamManageTest, DocumentsFolderComesFromUserDirsThenHome) {
    ::unsetenv("XDG_DOCUMENTS_DIR");
    test::WriteFile(box.ConfigHome() + "/user-dirs.dirs", "# written by xdg-user-dirs\n"
                                                        "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(GetDocumentsFolder(), box.Home() + "/Dokumente");
    ::unlink((box.ConfigHome() + "/user-dirs.dirs").c_str());
    EXPECT_EQ(GetDocumentsFolder(), box.Documents());
    ::rmdir(box.Documents().c_str());
    EXPECT_EQ(GetDocumentsFolder(), box.Home());
}

TEST_F(SettingParamManageTest, LayersBuiltInThenDefaultThenUsingValueByValue) {
    OpenHive(test::FullFactory(),
             "[software\\zentrova\\using\\timedshot]\n\"shotstype\"=dword:00000002\n"
             "[software\\zentrova\\using\\system]\n"
             "\"resourcespath\"=\"/data/zentrova\"\n\"autocreatingfolder\"=dword:00000000\n");
    CSettingParamManage manager(hive.get());
    CSettingParam factory = manager.GetDefaultParam();
    EXPECT_EQ(factory.GetRootPath(), "/media/data/zentrova");
    EXPECT_EQ(factory.autocreatingfolder, 1);

    CSettingParam current = manager.GetUsingParam();
    EXPECT_EQ(current.resourcespath, "/data/zentrova");
    EXPECT_EQ(current.GetRootPath(), "/data/zentrova") << "nothing appended to a path ending in the word";
    EXPECT_EQ(current.autocreatingfolder, 0) << "from the using branch";
    EXPECT_EQ(current.moviesizemax, 0x100) << "the using branch stopped before it: factory value";
    EXPECT_EQ(current.timedshot.shotstype, Day) << "read although the timed-shot group is incomplete";
    EXPECT_EQ(current.timedshot.timestype, Day) << "factory value after the first missing one";
    EXPECT_EQ(current.version, "v9");
    EXPECT_EQ(current.producename, "scope");
}

TEST_F(SettingParamManageTest, DefaultInTheUsingBranchStandsForTheDocumentsFolderToo) {
    OpenHive(test::FullFactory(), "[software\\zentrova\\using\\system]\n\"resourcespath\"=\"default\"\n");
    CSettingParamManage manager(hive.get());
    EXPECT_EQ(manager.GetUsingParam().GetRootPath(), box.Documents() + "/zentrova");
}

TEST_F(SettingParamManageTest, DamagedUserFileStillStartsWithTheFactoryValues) {
    OpenHive(test::FullFactory(), std::string("\x7f" "ELF\x02\x01\x01\0\0\0 binary junk\n[software\\zentr", 28));
    CSettingParamManage manager(hive.get());
    EXPECT_EQ(manager.GetUsingParam(), manager.GetDefaultParam());
    EXPECT_EQ(manager.GetUsingParam().moviesizemax, 0x100);

    CSettingParam changed = manager.GetUsingParam();
    changed.moviesizemax = 99;
    manager.SetUsingParam(changed);
    EXPECT_TRUE(test::Exists(UserFile() + ".damaged"));
    EXPECT_EQ(alerts.Alerts().size(), 1u);

    CRegistryHive reread(UserFile(), FactoryFile());
    CSettingParamManage again(&reread);
    EXPECT_EQ(again.GetUsingParam().moviesizemax, 99);
}

TEST_F(SettingParamManageTest, SetUsingParamSavesAndKeepsThePreviousRecord) {
    OpenHive(test::FullFactory());
    CSettingParamManage manager(hive.get());
    const CSettingParam before = manager.GetUsingParam();
    CSettingParam next = before;
    next.SetResourcesPath("/srv/photos");
    next.language = 1;
    next.moviesize = {1280, 720, 0, false};
    manager.SetUsingParam(next);
    EXPECT_EQ(manager.GetLastParam(), before);
    EXPECT_EQ(manager.GetUsingParam(), next);

    CaptureResolution capture{2592, 1944, 0x47504A4D, false};
    manager.SetCaptureResolution(capture);
    EXPECT_EQ(manager.GetUsingParam().captureresolution, capture);
    EXPECT_EQ(manager.GetLastParam(), before) << "a capture resolution change leaves the last record";

    CRegistryHive reread(UserFile(), FactoryFile());
    CSettingParamManage restarted(&reread);
    CSettingParam loaded = restarted.GetUsingParam();
    EXPECT_EQ(loaded.GetRootPath(), "/srv/photos/zentrova");
    EXPECT_EQ(loaded.language, 1);
    EXPECT_TRUE(loaded.moviesize.IsUnset()) << "the movie size is not part of the stored tree";
}

TEST_F(SettingParamManageTest, SetUsingParamTellsWhyASaveFailedAndTheNextSaveCatchesUp) {
    OpenHive(test::FullFactory());
    CSettingParamManage manager(hive.get());
    EXPECT_EQ(manager.GetSettingsFile(), UserFile());
    // Where the settings folder should be, a file: nothing can be written below it.
    const std::string folder = box.ConfigHome() + "/zentrova";
    test::WriteFile(folder, "in the way");
    CSettingParam next = manager.GetUsingParam();
    next.moviesizemax = 512;
    EXPECT_EQ(manager.SetUsingParam(next), ENOTDIR);
    EXPECT_EQ(manager.GetUsingParam().moviesizemax, 512) << "the record holds for this run";

    ::unlink(folder.c_str());
    next.language = 1;
    EXPECT_EQ(manager.SetUsingParam(next), 0);
    CRegistryHive reread(UserFile(), FactoryFile());
    CSettingParamManage restarted(&reread);
    EXPECT_EQ(restarted.GetUsingParam().moviesizemax, 512);
    EXPECT_EQ(restarted.GetUsingParam().language, 1);
}

TEST_F(SettingParamManageTest, ReadersOnOtherThreadsAlwaysSeeAWholeRecord) {
    OpenHive(test::FullFactory());
    CSettingParamManage manager(hive.get());
    CSettingParam a = manager.GetUsingParam();
    CSettingParam b = a;
    a.SetResourcesPath("/a");
    a.moviesizemax = 100;
    b.SetResourcesPath("/bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb");
    b.moviesizemax = 200;
    manager.SetUsingParam(a);

    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop.load()) {
            CSettingParam p = manager.GetUsingParam();
            bool isA = p.resourcespath == "/a" && p.moviesizemax == 100;
            bool isB = p.resourcespath == b.resourcespath && p.moviesizemax == 200;
            if (!isA && !isB) ++torn;
        }
    });
    for (int i = 0; i < 50; ++i) manager.SetUsingParam(i % 2 ? a : b);
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace orvane

namespace orvane {
namespace {

TEST_F(SettingParamManageTest, ShippedFactoryFileGivesEveryGroupAndBothLanguages) {
    hive = std::make_unique<CRegistryHive>(UserFile(), CRegistryHive::DefaultFactoryFile());
    CRegistryHive::SetCurrentUser(hive.get());
    CSettingParam factory;
    ASSERT_TRUE(factory.LoadDefault(hive.get())) << CRegistryHive::DefaultFactoryFile();
    ASSERT_EQ(factory.languages.size(), 2u);
    EXPECT_EQ(factory.languages[0], (LanguageItem{"English", "English", 0x0409}));
    EXPECT_EQ(factory.languages[1].indentifier, "zh-Hans");
    EXPECT_EQ(factory.languages[1].langid, 0x0804);
    EXPECT_EQ(factory.GetRootPath(), box.Documents() + "/zentrova");
    for (int i = 0; i < TimedShotSetting::kRangeCount; ++i) {
        const ValueRange& r = factory.timedshot.ranges[i];
        EXPECT_TRUE(r.minvalue >= 1 && r.minvalue <= r.defaultvalue && r.defaultvalue <= r.maxvalue) << i;
    }
    EXPECT_TRUE(factory.IsTimedShotValid());
    EXPECT_TRUE(factory.moviesizemax >= 16 && factory.moviesizemax <= 4096);
}

}  // namespace
}  // namespace orvane
