#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "base/text.h"
#include "saving_location_fixture.h"
#include "support/sandbox.h"

namespace orvane::test {
namespace {

class NestedLayout : public SavingLocationTest {
protected:
    NestedLayout() { UseNested(true); }
    std::string Day() const { return Singles() + "/20240131"; }
};

TEST_F(NestedLayout, WorkedExampleNumbersFromZeroInBlocks) {
    EXPECT_EQ(SavePhoto(), box / "Media/zentrova/Single Shots/20240131/000/SingleShot0000.jpg");
    EXPECT_EQ(SavePhoto(), Day() + "/000/SingleShot0001.jpg");

    std::string movie;
    ASSERT_TRUE(saving.GetMoviePath(Movies(), movie));
    EXPECT_EQ(movie, box / "Media/zentrova/Movies/20240131/000/Movie0000");
    WriteFile(movie + ".mp4", "");
    ASSERT_TRUE(saving.GetMoviePath(Movies(), movie));
    EXPECT_EQ(movie, Movies() + "/20240131/000/Movie0001");

    ASSERT_TRUE(saving.BeginTimedShots(Timed()));
    EXPECT_EQ(SaveTimedShot(), box / "Media/zentrova/Timed Shots/20240131/000/TimeShot000-0000.jpg");
    EXPECT_EQ(SaveTimedShot(), Timed() + "/20240131/000/TimeShot000-0001.jpg");
    ASSERT_TRUE(saving.BeginTimedShots(Timed()));
    EXPECT_TRUE(Exists(Timed() + "/20240131/001"));
    EXPECT_EQ(SaveTimedShot(), Timed() + "/20240131/001/TimeShot001-0000.jpg");
}

TEST_F(NestedLayout, NumbersContinueAcrossBlocks) {
    MakeFolders(Day() + "/000");
    WriteFile(Day() + "/000/SingleShot0999.jpg", "");
    EXPECT_EQ(SavePhoto(), Day() + "/001/SingleShot1000.jpg");
    EXPECT_EQ(SavePhoto(), Day() + "/001/SingleShot1001.jpg");

    MakeFolders(Day() + "/009");
    WriteFile(Day() + "/009/SingleShot9999.jpg", "");
    EXPECT_EQ(SavePhoto(), Day() + "/010/SingleShot10000.jpg");

    clock.SetToday({2024, 2, 1});
    EXPECT_EQ(SavePhoto(), Singles() + "/20240201/000/SingleShot0000.jpg");
}

TEST_F(NestedLayout, LastBlockAndOddEntriesDecideTheBlock) {
    MakeFolders(Day() + "/000");
    WriteFile(Day() + "/000/SingleShot0999.jpg", "");
    MakeFolders(Day() + "/001");  // its photos were deleted
    EXPECT_EQ(SavePhoto(), Day() + "/001/SingleShot0000.jpg");

    WriteFile(Day() + "/5abc", "");
    EXPECT_EQ(SavePhoto(), Day() + "/005/SingleShot0000.jpg");
}

TEST_F(NestedLayout, SeriesPastMidnightGoesOnInTheNewDay) {
    ASSERT_TRUE(saving.BeginTimedShots(Timed()));
    SaveTimedShot();
    SaveTimedShot();
    clock.SetToday({2024, 2, 1});
    EXPECT_EQ(SaveTimedShot(), Timed() + "/20240201/000/TimeShot000-0002.jpg");
}

TEST_F(NestedLayout, LayoutIsReadAtEveryCall) {
    EXPECT_EQ(SavePhoto(), Day() + "/000/SingleShot0000.jpg");
    UseNested(false);
    EXPECT_EQ(SavePhoto(), Singles() + "/S20240131_0001.jpg");
}

TEST_F(NestedLayout, FolderThatCannotBeMadeWarnsAndAdvancesNothing) {
    ASSERT_TRUE(saving.BeginTimedShots(Timed()));
    SaveTimedShot();
    clock.SetToday({2024, 2, 1});
    WriteFile(Timed() + "/20240201", "a file where the date folder goes");
    std::string path = "unchanged";
    EXPECT_FALSE(saving.GetTimedShotPath(Timed(), path));
    EXPECT_EQ(path, "unchanged");
    EXPECT_EQ(saving.timedShot, 1);
    ASSERT_EQ(alerts.Alerts().size(), 1u);
    EXPECT_EQ(alerts.Alerts()[0], Timed() + "/20240201/000" + SystemErrorText(ENOTDIR));

    EXPECT_FALSE(saving.GetSingleShotPath(box / "no/such", path));
    EXPECT_EQ(alerts.Alerts().size(), 2u);
    EXPECT_FALSE(Exists(box / "no"));
}

TEST_F(SavingLocationTest, CreateResourceFoldersMakesRootAndKindFolders) {
    for (const char* kind : {"Single Shots", "Timed Shots", "Movies"}) {
        EXPECT_TRUE(Exists(box / "Media/zentrova/" + kind)) << kind;
    }
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(SavingLocationTest, MissingUserFolderGivesOneWarningAndNoFolders) {
    UseSettings(false, box / "Unplugged");
    saving.CreateResourceFolders();
    ASSERT_EQ(alerts.Alerts().size(), 1u);
    EXPECT_EQ(alerts.Alerts()[0], box / "Unplugged/zentrova" + SystemErrorText(ENOENT));
    EXPECT_FALSE(Exists(box / "Unplugged"));
}

TEST_F(SavingLocationTest, UserFolderIsNormalisedBeforeTheRootIsDerived) {
    CSettingParam param;
    param.SetResourcesPath("/media/x/");
    EXPECT_EQ(param.GetResourcesPath(), "/media/x");
    EXPECT_EQ(param.GetRootPath(), "/media/x/zentrova");
    EXPECT_EQ(param.GetMoviesFolder(), "/media/x/zentrova/Movies");
    param.SetResourcesPath("\\media\\x\\\\");
    EXPECT_EQ(param.GetResourcesPath(), "/media/x");
    param.SetResourcesPath("/media/zentrova");
    EXPECT_EQ(param.GetRootPath(), "/media/zentrova");
    param.SetResourcesPath("/");
    EXPECT_EQ(param.GetResourcesPath(), "/");
    EXPECT_EQ(param.GetRootPath(), "/zentrova");

    UseSettings(false, box / "Media" + "/");
    EXPECT_EQ(Singles(), box / "Media/zentrova/Single Shots");
}

}  // namespace
}  // namespace orvane::test
