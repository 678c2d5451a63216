#include "base/folder_entries.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>
#include <utility>

#include "support/sandbox.h"

namespace orvane {
namespace {

// name -> (isFolder, isLink)
std::map<std::string, std::pair<bool, bool>> Entries(const std::string& folder) {
    std::map<std::string, std::pair<bool, bool>> entries;
    for (const FolderEntry& entry : ReadFolder(folder)) {
        EXPECT_TRUE(entries.emplace(entry.name, std::make_pair(entry.isFolder, entry.isLink)).second)
            << entry.name << " listed twice";
    }
    return entries;
}

TEST(FolderEntriesTest, LinksCountAsWhatTheyPointToAndAreMarked) {
    test::Sandbox box;
    const std::string root = box / "Single Shots";
    ASSERT_TRUE(test::MakeFolders(root + "/20240131/000"));
    ASSERT_TRUE(test::MakeFolders(root + "/.thumbnails"));
    ASSERT_TRUE(test::MakeFolders(box / "elsewhere"));
    ASSERT_TRUE(test::WriteFile(root + "/S20240131_0001.jpg", "photo"));
    ASSERT_EQ(::symlink((root + "/20240131").c_str(), (root + "/today").c_str()), 0);
    ASSERT_EQ(::symlink((box / "elsewhere").c_str(), (root + "/outside").c_str()), 0);
    ASSERT_EQ(::symlink("S20240131_0001.jpg", (root + "/latest.jpg").c_str()), 0);
    ASSERT_EQ(::symlink("gone.jpg", (root + "/dangling.jpg").c_str()), 0);

    using Kind = std::pair<bool, bool>;
    const std::map<std::string, Kind> expected = {
        {"20240131", {true, false}},
        {".thumbnails", {true, false}},
        {"S20240131_0001.jpg", {false, false}},
        {"today", {true, true}},
        {"outside", {true, true}},
        {"latest.jpg", {false, true}},
        {"dangling.jpg", {false, true}},
    };
    EXPECT_EQ(Entries(root), expected);
    // Only the folder's own entries: nothing from below it.
    EXPECT_EQ(Entries(root + "/20240131"), (std::map<std::string, Kind>{{"000", {true, false}}}));
}

TEST(FolderEntriesTest, WhatIsNoReadableFolderGivesNoEntries) {
    test::Sandbox box;
    ASSERT_TRUE(test::MakeFolders(box / "empty"));
    ASSERT_TRUE(test::WriteFile(box / "file.jpg", "photo"));
    ASSERT_EQ(::symlink("missing", (box / "dangling").c_str()), 0);
    EXPECT_TRUE(ReadFolder(box / "empty").empty());
    EXPECT_TRUE(ReadFolder(box / "missing").empty());
    EXPECT_TRUE(ReadFolder(box / "file.jpg").empty());
    EXPECT_TRUE(ReadFolder(box / "dangling").empty());
    EXPECT_TRUE(ReadFolder("").empty());
}

}  // namespace
}  // namespace orvane
