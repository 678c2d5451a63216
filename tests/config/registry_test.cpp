#include "config/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "config/registry_hive.h"
#include "support/sandbox.h"

namespace orvane {
namespace {

using test::ReadFile;
using test::WriteFile;

class RegistryTest : public ::testing::Test {
protected:
    std::string UserFile() const { return box.ConfigHome() + "/zentrova/settings.conf"; }
    std::string FactoryFile() const { return box / "factory.conf"; }

    test::Sandbox box;
    test::AlertRecorder alerts;
};

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
    {
        CRegistryHive hive(UserFile(), "");
        CRegistry key(&hive);
        ASSERT_TRUE(key.Create("software\\zentrova\\using\\timedShot"));
        EXPECT_TRUE(key.WriteDword("ShotsValue", 5));
        EXPECT_TRUE(key.WriteDword("shotsvalue", 6));  // the same value, rewritten

        CRegistry again(&hive);
        ASSERT_TRUE(again.Open("SOFTWARE\\Zentrova\\USING\\timedshot"));
        uint32_t value = 0;
        EXPECT_TRUE(again.ReadDword("SHOTSVALUE", value));
        EXPECT_EQ(value, 6u);
    }
    std::string saved = ReadFile(UserFile());
    EXPECT_NE(saved.find("[software\\zentrova\\using\\timedShot]"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\"ShotsValue\"=dword:00000006"), std::string::npos) << saved;

    CRegistryHive reread(UserFile(), "");
    CRegistry key(&reread);
    ASSERT_TRUE(key.Open("software\\zentrova\\using\\TIMEDSHOT"));
    int32_t value = 0;
    EXPECT_TRUE(key.ReadDword("shotsValue", value));
    EXPECT_EQ(value, 6);
}

TEST_F(RegistryTest, ReadLimitsAre99CharactersAndFourBytes) {
    CRegistryHive hive(UserFile(), "");
    CRegistry key(&hive);
    ASSERT_TRUE(key.Create("software\\zentrova\\using\\system"));
    const std::string fits(99, 'a');
    const std::string tooLong(100, 'b');
    const std::string wide99 = std::string(97, 'c') + "\xF0\x9F\x93\xB7";  // 97 + a surrogate pair
    ASSERT_TRUE(key.WriteText("fits", fits));
    ASSERT_TRUE(key.WriteText("toolong", tooLong));
    ASSERT_TRUE(key.WriteText("wide", wide99));
    ASSERT_TRUE(key.WriteText("onechar", "A"));
    ASSERT_TRUE(key.WriteText("twochars", "AB"));

    std::string out = "unchanged";
    EXPECT_TRUE(key.ReadText("fits", out));
    EXPECT_EQ(out, fits);
    out = "unchanged";
    EXPECT_FALSE(key.ReadText("toolong", out));
    EXPECT_EQ(out, "unchanged");
    EXPECT_TRUE(key.ReadText("wide", out));
    EXPECT_EQ(out, wide99);
    EXPECT_FALSE(key.ReadText("missing", out));
    EXPECT_EQ(out, wide99);

    // The stored type is not checked, only the size: a one-character text is four bytes.
    uint32_t number = 77;
    EXPECT_TRUE(key.ReadDword("onechar", number));
    EXPECT_EQ(number, 0x41u);
    number = 77;
    EXPECT_FALSE(key.ReadDword("twochars", number));
    EXPECT_EQ(number, 77u);
}

TEST_F(RegistryTest, FactoryBranchIsReadOnlyAndCannotBeOverriddenByTheUserFile) {
    WriteFile(FactoryFile(), "[software\\zentrova\\default\\system]\n\"moviesizemax\"=dword:00000400\n");
    test::MakeFolders(box.ConfigHome() + "/zentrova");
    WriteFile(UserFile(),
              "[software\\zentrova\\default\\system]\n\"moviesizemax\"=dword:00000001\n"
              "[software\\zentrova\\using\\system]\n\"moviesizemax\"=dword:00000020\n");
    CRegistryHive hive(UserFile(), FactoryFile());

    CRegistry factory(&hive);
    ASSERT_TRUE(factory.Open("Software\\Zentrova\\Default\\System"));
    uint32_t value = 0;
    EXPECT_TRUE(factory.ReadDword("MovieSizeMax", value));
    EXPECT_EQ(value, 0x400u);
    EXPECT_FALSE(factory.WriteDword("moviesizemax", 1));

    CRegistry writable(&hive);
    EXPECT_FALSE(writable.Open("software\\zentrova\\default\\system", true));
    EXPECT_FALSE(writable.Create("software\\zentrova\\default\\newgroup"));
    EXPECT_FALSE(hive.KeyExists("software\\zentrova\\default\\newgroup"));

    CRegistry user(&hive);
    ASSERT_TRUE(user.Open("software\\zentrova\\using\\system"));
    EXPECT_TRUE(user.ReadDword("moviesizemax", value));
    EXPECT_EQ(value, 0x20u);
}

TEST_F(RegistryTest, TextsWithQuotesBackslashesAndLineBreaksSurviveTheFile) {
    const std::string tricky = "C:\\Photos \"new\"\nline\tand 设置";
    {
        CRegistryHive hive(UserFile(), "");
        CRegistry key(&hive);
        ASSERT_TRUE(key.Create("Software\\zentrova"));
        ASSERT_TRUE(key.WriteText("indentityofpreviewed", tricky));
        ASSERT_TRUE(key.Create("software\\zentrova\\using\\empty"));  // an empty key is kept too
    }
    CRegistryHive hive(UserFile(), "");
    EXPECT_FALSE(hive.HadDamagedFile());
    EXPECT_TRUE(hive.KeyExists("software\\zentrova\\using\\empty"));
    CRegistry key(&hive);
    ASSERT_TRUE(key.Open("software\\zentrova"));
    std::string out;
    EXPECT_TRUE(key.ReadText("indentityofpreviewed", out));
    EXPECT_EQ(out, tricky);
}

TEST_F(RegistryTest, DamagedFileIsReadAsFarAsPossibleAndKeptBeforeItIsReplaced) {
    test::MakeFolders(box.ConfigHome() + "/zentrova");
    std::string damaged =
        "[software\\zentrova\\using\\system]\n"
        "\"moviesizemax\"=dword:00000020\n"
        "garbage line without meaning\n"
        "\"language\"=dword:zz\n"
        "[broken header\n"
        "\"lost\"=dword:00000001\n"  // belongs to no readable key
        "[software\\zentrova\\using\\timedshot]\n"
        "\"shotsvalue\"=dword:00000003\n"
        "\x01\x02\x00\xff binary junk\n"
        "\"resourcespath\"=\"/media/x";  // truncated: no closing quote, no newline
    damaged[damaged.find('\x01') + 2] = '\0';
    WriteFile(UserFile(), damaged);

    CRegistryHive hive(UserFile(), "");
    EXPECT_TRUE(hive.HadDamagedFile());
    CRegistry key(&hive);
    ASSERT_TRUE(key.Open("software\\zentrova\\using\\system"));
    uint32_t value = 0;
    EXPECT_TRUE(key.ReadDword("moviesizemax", value));
    EXPECT_EQ(value, 0x20u);
    EXPECT_FALSE(key.ReadDword("language", value));
    CRegistry shots(&hive);
    ASSERT_TRUE(shots.Open("software\\zentrova\\using\\timedshot"));
    EXPECT_TRUE(shots.ReadDword("shotsvalue", value));
    EXPECT_EQ(value, 3u);
    EXPECT_TRUE(alerts.Alerts().empty()) << "reading alone says nothing";

    {
        CRegistry writer(&hive);
        ASSERT_TRUE(writer.Open("software\\zentrova\\using\\system", true));
        ASSERT_TRUE(writer.WriteDword("language", 1));
    }
    EXPECT_EQ(ReadFile(UserFile() + ".damaged"), damaged) << "the damaged file is kept beside the new one";
    ASSERT_EQ(alerts.Alerts().size(), 1u);
    EXPECT_NE(alerts.Alerts()[0].find(UserFile() + ".damaged"), std::string::npos);
    EXPECT_FALSE(hive.HadDamagedFile());

    {
        CRegistry writer(&hive);
        ASSERT_TRUE(writer.Open("software\\zentrova\\using\\system", true));
        ASSERT_TRUE(writer.WriteDword("language", 0));
    }
    EXPECT_EQ(alerts.Alerts().size(), 1u) << "said once";

    CRegistryHive reread(UserFile(), "");
    EXPECT_FALSE(reread.HadDamagedFile());
    CRegistry check(&reread);
    ASSERT_TRUE(check.Open("software\\zentrova\\using\\system"));
    EXPECT_TRUE(check.ReadDword("moviesizemax", value));
    EXPECT_EQ(value, 0x20u);
}

TEST_F(RegistryTest, SaveIsAtomicAndAFailedSaveLeavesTheOldFile) {
    {
        CRegistryHive hive(UserFile(), "");
        CRegistry key(&hive);
        ASSERT_TRUE(key.Create("software\\zentrova\\using\\system"));
        ASSERT_TRUE(key.WriteDword("moviesizemax", 32));
    }
    const std::string before = ReadFile(UserFile());
    ASSERT_FALSE(before.empty());

    // A disk that takes no more bytes (the file size limit, in a child so that it stays there) makes the
    // save fail: the old file stays as it was.
    CRegistryHive hive(UserFile(), "");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{16, 16};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        {
            CRegistry key(&hive);
            if (!key.Open("software\\zentrova\\using\\system", true) || !key.WriteDword("moviesizemax", 64))
                ::_exit(2);
        }
        ::_exit(hive.Flush() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the failed save reports failure";
    EXPECT_EQ(ReadFile(UserFile()), before);
    {
        CRegistry key(&hive);
        ASSERT_TRUE(key.Open("software\\zentrova\\using\\system", true));
        ASSERT_TRUE(key.WriteDword("moviesizemax", 64));
    }
    EXPECT_TRUE(hive.Flush());
    EXPECT_NE(ReadFile(UserFile()).find("dword:00000040"), std::string::npos);
    for (const auto& name : test::ListFolder(box.ConfigHome() + "/zentrova")) {
        EXPECT_EQ(name, "settings.conf") << "no temporary file is left behind";
    }
}

std::string LinkTarget(const std::string& path) {
    char target[4096] = {};
    const ssize_t size = ::readlink(path.c_str(), target, sizeof target - 1);
    return size > 0 ? std::string(target, static_cast<size_t>(size)) : "";
}

TEST_F(RegistryTest, ByteOrderMarkInFrontIsSkipped) {
    test::MakeFolders(box.ConfigHome() + "/zentrova");
    const std::string sample = ReadFile(std::string(ORVANE_TEST_DATA) + "/settings_with_byte_order_mark.conf");
    ASSERT_EQ(sample.rfind("\xEF\xBB\xBF[software", 0), 0u);
    WriteFile(UserFile(), sample);

    CRegistryHive hive(UserFile(), "");
    EXPECT_FALSE(hive.HadDamagedFile());
    CRegistry system(&hive);
    ASSERT_TRUE(system.Open("software\\zentrova\\using\\system"));
    std::string folder;
    uint32_t value = 0;
    EXPECT_TRUE(system.ReadText("resourcespath", folder));
    EXPECT_EQ(folder, "/srv/microscope");
    EXPECT_TRUE(system.ReadDword("moviesizemax", value));
    EXPECT_EQ(value, 0x80u);
    CRegistry shots(&hive);
    ASSERT_TRUE(shots.Open("software\\zentrova\\using\\timedshot"));
    EXPECT_TRUE(shots.ReadDword("shotsvalue", value));
    EXPECT_EQ(value, 7u);
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(RegistryTest, SymlinkedFileIsWrittenThroughItsLink) {
    // A dotfile manager keeps the real file elsewhere and links it into place.
    const std::string real = box / "home/dotfiles/zentrova/settings.conf";
    test::MakeFolders(box / "home/dotfiles/zentrova");
    test::MakeFolders(box.ConfigHome() + "/zentrova");
    WriteFile(real, "[software\\zentrova\\using\\system]\n\"moviesizemax\"=dword:00000020\n");
    ASSERT_EQ(::symlink("../../dotfiles/zentrova/settings.conf", UserFile().c_str()), 0);
    {
        CRegistryHive hive(UserFile(), "");
        CRegistry key(&hive);
        ASSERT_TRUE(key.Open("software\\zentrova\\using\\system", true));
        ASSERT_TRUE(key.WriteDword("moviesizemax", 0x40));
        EXPECT_TRUE(hive.Flush());
    }
    EXPECT_EQ(LinkTarget(UserFile()), "../../dotfiles/zentrova/settings.conf") << "the link was replaced";
    EXPECT_NE(ReadFile(real).find("\"moviesizemax\"=dword:00000040"), std::string::npos);
    EXPECT_EQ(test::ListFolder(box.ConfigHome() + "/zentrova"), std::vector<std::string>{"settings.conf"});
    EXPECT_EQ(test::ListFolder(box / "home/dotfiles/zentrova"), std::vector<std::string>{"settings.conf"});
}

TEST_F(RegistryTest, DamagedSymlinkedFileIsKeptAsItWasNotAsALink) {
    const std::string real = box / "dotfiles/settings.conf";
    test::MakeFolders(box / "dotfiles");
    test::MakeFolders(box.ConfigHome() + "/zentrova");
    const std::string damaged = "[software\\zentrova\\using\\system]\n\"moviesizemax\"=dword:00000020\nnonsense\n";
    WriteFile(real, damaged);
    ASSERT_EQ(::symlink(real.c_str(), UserFile().c_str()), 0);

    CRegistryHive hive(UserFile(), "");
    ASSERT_TRUE(hive.HadDamagedFile());
    {
        CRegistry key(&hive);
        ASSERT_TRUE(key.Open("software\\zentrova\\using\\system", true));
        ASSERT_TRUE(key.WriteDword("language", 1));
    }
    // The copy holds the damaged text although the save replaced the file the link points to.
    struct stat kept {};
    ASSERT_EQ(::lstat((UserFile() + ".damaged").c_str(), &kept), 0);
    EXPECT_TRUE(S_ISREG(kept.st_mode)) << "the copy is a link, whose target the save replaced";
    EXPECT_EQ(ReadFile(UserFile() + ".damaged"), damaged);
    EXPECT_EQ(LinkTarget(UserFile()), real);
    EXPECT_NE(ReadFile(real).find("\"language\"=dword:00000001"), std::string::npos);
    ASSERT_EQ(alerts.Alerts().size(), 1u);
    EXPECT_NE(alerts.Alerts()[0].find(UserFile() + ".damaged"), std::string::npos);
}

TEST_F(RegistryTest, FullDiskSaveTellsTheReasonAndTheKeptCopyOnlyOnceASaveWorked) {
    test::MakeFolders(box.ConfigHome() + "/zentrova");
    const std::string damaged = "[software\\zentrova\\using\\system]\nnonsense\n";
    WriteFile(UserFile(), damaged);
    CRegistryHive hive(UserFile(), "");
    ASSERT_TRUE(hive.HadDamagedFile());

    // In a child, whose files may not grow beyond 16 bytes until it lifts the limit again.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{16, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        test::AlertRecorder childAlerts;
        {
            CRegistry key(&hive);
            if (!key.Open("software\\zentrova\\using\\system", true) || !key.WriteDword("language", 1))
                ::_exit(10);
        }
        if (hive.Save() != EFBIG) ::_exit(11);
        if (!childAlerts.Alerts().empty()) ::_exit(12);  // nothing was saved, so nothing is claimed
        if (ReadFile(UserFile()) != damaged) ::_exit(13);
        errno = 0;
        if (hive.Flush() || errno != EFBIG) ::_exit(14);

        limit.rlim_cur = RLIM_INFINITY;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        if (hive.Save() != 0) ::_exit(15);
        if (childAlerts.Alerts().size() != 1) ::_exit(16);
        if (childAlerts.Alerts()[0].find(UserFile() + ".damaged,") == std::string::npos) ::_exit(17);
        if (ReadFile(UserFile() + ".damaged") != damaged) ::_exit(18);
        // One copy, though the first attempt made it already.
        if (test::ListFolder(box.ConfigHome() + "/zentrova").size() != 2) ::_exit(19);
        ::_exit(0);
    }
    EXPECT_EQ(test::WaitForChild(child), 0);
}

TEST_F(RegistryTest, SubKeysAreListedAndKeysCanBeRemoved) {
    {
        CRegistryHive hive(UserFile(), FactoryFile());
        ASSERT_TRUE(hive.CreateKey("software\\zentrova\\list\\b\\deep"));
        ASSERT_TRUE(hive.CreateKey("software\\zentrova\\list\\a"));
        ASSERT_TRUE(hive.SetValue("software\\zentrova\\list\\a", "kept", RegType::Dword, {1, 0, 0, 0}));
        EXPECT_EQ(hive.SubKeys("SOFTWARE\\zentrova\\list"), (std::vector<std::string>{"b", "a"}));
        EXPECT_TRUE(hive.SubKeys("software\\zentrova\\missing").empty());

        EXPECT_TRUE(hive.DeleteKey("software\\zentrova\\list\\B"));
        EXPECT_FALSE(hive.KeyExists("software\\zentrova\\list\\b\\deep"));
        EXPECT_FALSE(hive.DeleteKey("software\\zentrova\\list\\b"));
        EXPECT_FALSE(hive.DeleteKey("software\\zentrova\\default"));
    }
    CRegistryHive again(UserFile(), FactoryFile());
    EXPECT_EQ(again.SubKeys("software\\zentrova\\list"), std::vector<std::string>{"a"});
    RegType type{};
    std::vector<uint8_t> data;
    EXPECT_TRUE(again.QueryValue("software\\zentrova\\list\\a", "kept", type, data));
}

}  // namespace
}  // namespace orvane
