#include <gtest/gtest.h>

#include <string>

#include "saving_location_fixture.h"
#include "support/sandbox.h"

namespace orvane::test {
namespace {

using FlatLayout = SavingLocationTest;

TEST_F(FlatLayout, WorkedExampleNumbersEachKindFromOne) {
    EXPECT_EQ(SavePhoto(), box / "Media/zentrova/Single Shots/S20240131_0001.jpg");
    EXPECT_EQ(SavePhoto(), box / "Media/zentrova/Single Shots/S20240131_0002.jpg");

    std::string movie;
    ASSERT_TRUE(saving.GetMoviePath(Movies(), movie));
    EXPECT_EQ(movie, box / "Media/zentrova/Movies/M20240131_0001");
    WriteFile(movie + ".avi", "riff");
    ASSERT_TRUE(saving.GetMoviePath(Movies(), movie));
    EXPECT_EQ(movie, box / "Media/zentrova/Movies/M20240131_0002");

    ASSERT_TRUE(saving.BeginTimedShots(Timed()));
    EXPECT_EQ(SaveTimedShot(), box / "Media/zentrova/Timed Shots/T20240131_001_0001.jpg");
    EXPECT_EQ(SaveTimedShot(), box / "Media/zentrova/Timed Shots/T20240131_001_0002.jpg");
    ASSERT_TRUE(saving.BeginTimedShots(Timed()));
    EXPECT_EQ(SaveTimedShot(), box / "Media/zentrova/Timed Shots/T20240131_002_0001.jpg");
}

TEST_F(FlatLayout, DateOfLatestNameDecidesTheNumber) {
    WriteFile(Singles() + "/S20240131_0002.jpg", "");
    clock.SetToday({2024, 2, 1});
    EXPECT_EQ(NextPhoto(), Singles() + "/S20240201_0001.jpg");
    clock.SetToday({2024, 1, 30});  // set back: never sort before the latest name
    EXPECT_EQ(NextPhoto(), Singles() + "/S20240131_0003.jpg");

    WriteFile(Timed() + "/T20240131_003_0040.jpg", "");
    ASSERT_TRUE(saving.BeginTimedShots(Timed()));
    EXPECT_EQ(SaveTimedShot(), Timed() + "/T20240131_004_0001.jpg");
}

TEST_F(FlatLayout, ForeignLetterAndExtensionCountButFoldersDoNot) {
    WriteFile(Singles() + "/X20240131_0007.png", "");
    MakeFolders(Singles() + "/S20240131_0009.jpg");
    WriteFile(Singles() + "/notes.txt", "");
    EXPECT_EQ(NextPhoto(), Singles() + "/S20240131_0008.jpg");
}

TEST_F(FlatLayout, MissingKindFolderIsNeitherMadeNorAFailure) {
    std::string path;
    ASSERT_TRUE(saving.GetSingleShotPath(box / "gone", path));
    EXPECT_EQ(path, box / "gone/S20240131_0001.jpg");
    EXPECT_FALSE(Exists(box / "gone"));
}

TEST_F(FlatLayout, PastTheLimitNoExistingFileIsHandedOut) {
    WriteFile(Singles() + "/S20240131_9999.jpg", "old 9999");
    WriteFile(Singles() + "/S20240131_10000.jpg", "old 10000");
    EXPECT_EQ(SavePhoto(), Singles() + "/S20240131_10001.jpg");
    MakeFolders(Singles() + "/S20240131_10002.jpg");
    EXPECT_EQ(SavePhoto(), Singles() + "/S20240131_10003.jpg");
    EXPECT_EQ(SavePhoto(), Singles() + "/S20240131_10004.jpg");
    EXPECT_EQ(ReadFile(Singles() + "/S20240131_10000.jpg"), "old 10000");

    // Movies are handed out bare; the recording output adds the extension.
    WriteFile(Movies() + "/M20240131_9999.avi", "");
    WriteFile(Movies() + "/M20240131_10000.mp4", "");
    std::string movie;
    ASSERT_TRUE(saving.GetMoviePath(Movies(), movie));
    EXPECT_EQ(movie, Movies() + "/M20240131_10001");

    WriteFile(Timed() + "/T20240131_999_0001.jpg", "");
    WriteFile(Timed() + "/T20240131_1000_0001.jpg", "");
    ASSERT_TRUE(saving.BeginTimedShots(Timed()));
    EXPECT_EQ(SaveTimedShot(), Timed() + "/T20240131_1001_0001.jpg");
    WriteFile(Timed() + "/T20240131_1001_0002.jpg", "someone else's");
    EXPECT_EQ(SaveTimedShot(), Timed() + "/T20240131_1001_0003.jpg");
    EXPECT_EQ(saving.timedShot, 4);
}

TEST_F(FlatLayout, EmptyKindFolderFailsAndTouchesNothing) {
    std::string path = "unchanged";
    EXPECT_FALSE(saving.GetSingleShotPath("", path));
    EXPECT_FALSE(saving.GetMoviePath("", path));
    EXPECT_FALSE(saving.BeginTimedShots(""));
    EXPECT_FALSE(saving.GetTimedShotPath("", path));
    EXPECT_EQ(path, "unchanged");
    EXPECT_EQ(saving.timedShot, 0);
}

}  // namespace
}  // namespace orvane::test
