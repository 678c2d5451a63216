#include "base/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "support/sandbox.h"

namespace orvane {
namespace {

using test::ListFolder;
using test::ReadFile;
using test::Sandbox;
using test::WriteFile;

TEST(AtomicFileTest, CommitNewNeverReplacesAndCanMoveOnToTheNextName) {
    Sandbox box;
    const std::string folder = box / "photos";
    ASSERT_TRUE(test::MakeFolders(folder));
    const std::string taken = folder + "/S20240131_0001.jpg";
    ASSERT_TRUE(WriteFile(taken, "first photo"));

    CAtomicFile file;
    ASSERT_EQ(file.Create(folder), 0);
    ASSERT_EQ(file.Write("second photo", 12), 0);
    EXPECT_EQ(file.CommitNew(taken), EEXIST);
    EXPECT_EQ(ReadFile(taken), "first photo");
    EXPECT_EQ(file.CommitNew(folder + "/S20240131_0002.jpg"), 0);
    EXPECT_EQ(ReadFile(folder + "/S20240131_0002.jpg"), "second photo");
    EXPECT_EQ(ListFolder(folder), (std::vector<std::string>{"S20240131_0001.jpg", "S20240131_0002.jpg"}));
}

TEST(AtomicFileTest, AnAbandonedFileLeavesNothingBehind) {
    Sandbox box;
    ASSERT_TRUE(test::MakeFolders(box / "photos"));
    {
        CAtomicFile file;
        ASSERT_EQ(file.Create(box / "photos"), 0);
        ASSERT_EQ(file.Write("half", 4), 0);
    }
    EXPECT_TRUE(ListFolder(box / "photos").empty());
    CAtomicFile file;
    EXPECT_EQ(file.Create(box / "missing-folder"), ENOENT);
}

// A full disk (here: the file size limit) fails the write; the old file is untouched and no temporary
// file stays behind. Runs in a child so that the limit stays there.
TEST(AtomicFileTest, AFullDiskFailsTheWriteAndKeepsTheOldFile) {
    Sandbox box;
    ASSERT_TRUE(test::MakeFolders(box / "config"));
    const std::string path = box / "config/settings.conf";
    ASSERT_TRUE(WriteFile(path, "old settings"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        const std::string big(64 * 1024, 'x');
        _exit(WriteFileReplacing(path, big) == EFBIG ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(path), "old settings");
    EXPECT_EQ(ListFolder(box / "config"), std::vector<std::string>{"settings.conf"});
}

TEST(AtomicFileTest, ASymbolicLinkIsWrittenThroughAndStaysALink) {
    Sandbox box;
    ASSERT_TRUE(test::MakeFolders(box / "dotfiles"));
    ASSERT_TRUE(test::MakeFolders(box / "config"));
    ASSERT_TRUE(WriteFile(box / "dotfiles/settings.conf", "old"));
    ASSERT_EQ(chmod((box / "dotfiles/settings.conf").c_str(), 0600), 0);
    // A relative link, as dotfile managers make them.
    ASSERT_EQ(symlink("../dotfiles/settings.conf", (box / "config/settings.conf").c_str()), 0);

    EXPECT_EQ(WriteFileReplacing(box / "config/settings.conf", "new"), 0);
    struct stat st {};
    ASSERT_EQ(lstat((box / "config/settings.conf").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(box / "dotfiles/settings.conf"), "new");
    ASSERT_EQ(stat((box / "dotfiles/settings.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ListFolder(box / "dotfiles"), std::vector<std::string>{"settings.conf"});

    // A dangling link gets its target made; a loop is refused without writing anything.
    ASSERT_EQ(symlink((box / "dotfiles/later.conf").c_str(), (box / "config/later.conf").c_str()), 0);
    EXPECT_EQ(WriteFileReplacing(box / "config/later.conf", "made"), 0);
    EXPECT_EQ(ReadFile(box / "dotfiles/later.conf"), "made");
    ASSERT_EQ(symlink("loop.conf", (box / "config/loop.conf").c_str()), 0);
    EXPECT_EQ(WriteFileReplacing(box / "config/loop.conf", "x"), ELOOP);
}

}  // namespace
}  // namespace orvane
