#include <gtest/gtest.h>

#include <string>

#include "media/saving_loaction_manage.h"
#include "support/sandbox.h"

namespace orvane::test {
namespace {

using M = CSavingLoactionManage;

TEST(SavedNames, ParseChecksDigitsButNeitherLetterNorExtension) {
    std::string date;
    int32_t series = -1, shot = -1;
    ASSERT_TRUE(M::ParseSavedName(SavedKind::SingleShot, "X20240131_0007.png", date, series, shot));
    EXPECT_EQ(date, "20240131");
    EXPECT_EQ(shot, 7);
    EXPECT_EQ(series, -1);  // left as it was
    ASSERT_TRUE(M::ParseSavedName(SavedKind::TimedShot, "T20240131_012_0034.jpg", date, series, shot));
    EXPECT_EQ(series, 12);
    EXPECT_EQ(shot, 34);
    // A multi-byte first character is one character.
    ASSERT_TRUE(M::ParseSavedName(SavedKind::SingleShot,
                                  "\xC3\xA9"
                                  "20240131_0003.jpg",
                                  date, series, shot));
    EXPECT_EQ(date, "20240131");

    for (const char* bad : {"S20240131", "S2024-01-31_0001.jpg", "S20240131_00a1.jpg", "S20240131_.jpg"}) {
        EXPECT_FALSE(M::ParseSavedName(SavedKind::SingleShot, bad, date, series, shot)) << bad;
    }
    for (const char* bad : {"T20240131_0001.jpg", "T20240131_x1_0001.jpg", "T20240131_001_1.jp.g"}) {
        EXPECT_FALSE(M::ParseSavedName(SavedKind::TimedShot, bad, date, series, shot)) << bad;
    }
}

TEST(SavedNames, MaxNumberReadsLeadingNumbersOfFilesAndFolders) {
    Sandbox box;
    EXPECT_EQ(M::FindMaxNumber(box / "missing", "", false), -1);
    MakeFolders(box / "d");
    EXPECT_EQ(M::FindMaxNumber(box / "d", "", false), -1);
    WriteFile(box / "d/Thumbs.db", "");
    EXPECT_EQ(M::FindMaxNumber(box / "d", "", false), 0);
    WriteFile(box / "d/007", "");
    MakeFolders(box / "d/12abc");
    WriteFile(box / "d/-40", "");
    EXPECT_EQ(M::FindMaxNumber(box / "d", "", false), 12);
    WriteFile(box / "d/99999999999", "");
    EXPECT_EQ(M::FindMaxNumber(box / "d", "", false), INT32_MAX);

    MakeFolders(box / "b");
    WriteFile(box / "b/SingleShot0005.jpg", "");
    WriteFile(box / "b/SingleShot0900", "");  // no "." : counts as 0
    WriteFile(box / "b/Movie0950.avi", "");
    MakeFolders(box / "b/SingleShot0006.x");
    EXPECT_EQ(M::FindMaxNumber(box / "b", "SingleShot", true), 6);
    EXPECT_EQ(M::FindMaxNumber(box / "b", "TimeShot", true), -1);
}

}  // namespace
}  // namespace orvane::test
