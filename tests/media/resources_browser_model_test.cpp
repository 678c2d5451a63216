#include "media/resources_browser_model.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/registry_hive.h"
#include "media/folder_watch.h"
#include "support/sandbox.h"

namespace orvane::test {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
using Records = std::vector<ChangeRecord>;
using SteadyTime = std::chrono::steady_clock::time_point;


// Whether any inotify descriptor of this process watches the folder, as /proc/self/fdinfo tells.
bool IsWatched(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    std::set<unsigned long> inodes;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(fd.path(), ec) != "anon_inode:inotify") continue;
        std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
        for (std::string line; std::getline(info, line);) {
            const size_t at = line.find(" ino:");
            if (line.starts_with("inotify wd:") && at != std::string::npos)
                inodes.insert(std::stoul(line.substr(at + 5), nullptr, 16));
        }
    }
    return inodes.contains(st.st_ino);
}

bool Rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}
bool Remove(const std::string& path) { return ::unlink(path.c_str()) == 0; }

// Raw records as read(2) gives them from an inotify descriptor.
std::vector<char> Encode(int wd, uint32_t mask, const std::string& name = "") {
    inotify_event event{};
    event.wd = wd;
    event.mask = mask;
    event.len = name.empty() ? 0 : static_cast<uint32_t>((name.size() + 16) / 16 * 16);
    std::vector<char> bytes(sizeof event + event.len, '\0');
    std::memcpy(bytes.data(), &event, sizeof event);
    std::memcpy(bytes.data() + sizeof event, name.data(), name.size());
    return bytes;
}

class HostRecorder final : public IResourcesBrowserHost {
public:
    void RequestResetScroll() override { ++resets; }
    void RequestUpdateScrollRange() override { ++ranges; }
    void RequestScrollToEnd() override { ++ends; }
    void RequestRepaint() override {
        std::lock_guard guard(lock);
        lastRepaint = std::chrono::steady_clock::now();
        ++repaints;
    }
    SteadyTime LastRepaint() const {
        std::lock_guard guard(lock);
        return lastRepaint;
    }

    std::atomic<int> resets{0}, ranges{0}, ends{0}, repaints{0};

private:
    mutable std::mutex lock;  // guards lastRepaint
    SteadyTime lastRepaint;
};

// Settings in sandbox files, the storage tree under <sandbox>/Media and a folder outside it.
class StorageTreeTest : public ::testing::Test {
protected:
    StorageTreeTest() : hive(box / "settings.conf", box / "factory.conf"), settings(&hive) {
        UseUserFolder(box / "Media");
        MakeFolders(Singles());
        MakeFolders(Timed());
        MakeFolders(box / "outside");
    }
    void UseUserFolder(const std::string& folder) {
        CSettingParam param = settings.GetUsingParam();
        param.SetResourcesPath(folder);
        settings.SetUsingParam(param);
    }
    std::string Root() const { return settings.GetUsingParam().GetRootPath(); }
    std::string Singles() const { return Root() + "/Single Shots"; }
    std::string Timed() const { return Root() + "/Timed Shots"; }
    void Files(const std::string& folder, const Strings& names) {
        for (const auto& name : names) WriteFile(folder + "/" + name, "x");
    }

    Sandbox box;
    AlertRecorder alerts;
    CRegistryHive hive;
    CSettingParamManage settings;
};

class ResourcesBrowserModelTest : public StorageTreeTest {
protected:
    void Start(const std::string& shown) {
        model = std::make_unique<CResourcesBrowserModel>(&host, &settings);
        model->SetFolder(shown, false);
        ASSERT_TRUE(WaitUntil([&] { return IsWatched(Root()) && IsWatched(Timed()) && IsWatched(shown); }));
    }
    Strings Items() const { return model->GetItems(); }
    bool ItemsBecome(const Strings& expected) {
        return WaitUntil([&] { return Items() == expected; });
    }
    // Deletes a shown photo and waits until it is gone from the list: the changes made before it have
    // been dealt with by then.
    void Settle(const std::string& sentinel) {
        ASSERT_TRUE(Remove(model->GetFolder() + "/" + sentinel));
        ASSERT_TRUE(WaitUntil([&] {
            const Strings now = Items();
            return std::find(now.begin(), now.end(), sentinel) == now.end();
        }));
    }

    HostRecorder host;
    std::unique_ptr<CResourcesBrowserModel> model;
};

TEST_F(ResourcesBrowserModelTest, ListingShowsMediaNamesCaseSensitivelyInAscendingOrder) {
    Files(Singles(), {"movie.mp4", "Photo.JPG", "notes.jpg.txt", "clip.avi", "a.jpg", "x.MP4", "B.jpg"});
    MakeFolders(Singles() + "/folder.jpg");
    ::symlink((Singles() + "/folder.jpg").c_str(), (Singles() + "/link.jpg").c_str());
    Start(Singles());
    EXPECT_EQ(Items(), (Strings{"B.jpg", "a.jpg", "clip.avi", "movie.mp4", "notes.jpg.txt"}));
    EXPECT_EQ(model->GetItemPath(1), Singles() + "/a.jpg");
    EXPECT_EQ(model->GetItemPath(5), "");
    EXPECT_EQ(model->GetItemPath(-1), "");

    model->SetFolder(Singles(), true);  // already shown: nothing at all
    EXPECT_EQ(host.resets, 1);
    EXPECT_EQ(host.repaints, 1);
    EXPECT_EQ(host.ends, 0);
    model->SetFolder(Timed(), true);
    EXPECT_TRUE(Items().empty());
    EXPECT_EQ(host.resets, 2);
    EXPECT_EQ(host.repaints, 2);
    EXPECT_EQ(host.ends, 1);
    model->SetFolder("", false);
    EXPECT_EQ(model->GetFolder(), "");
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(ResourcesBrowserModelTest, SortedListOperations) {
    Start(Singles());
    for (const char* name : {"m.jpg", "c.jpg", "z.jpg", "d.jpg"}) EXPECT_TRUE(model->InsertItemSorted(name));
    EXPECT_FALSE(model->InsertItemSorted("m.jpg"));
    EXPECT_EQ(Items(), (Strings{"c.jpg", "d.jpg", "m.jpg", "z.jpg"}));
    EXPECT_TRUE(model->HasItem("c.jpg"));
    EXPECT_FALSE(model->HasItem("e.jpg"));
    model->AddItem("b.jpg");
    EXPECT_TRUE(model->HasItem("b.jpg"));
    EXPECT_FALSE(model->HasItem("m.jpg"));  // the search from the back stops at the smaller b.jpg
    model->AddItem("c.jpg");
    EXPECT_TRUE(model->RemoveItem("c.jpg"));
    EXPECT_FALSE(model->RemoveItem("q.jpg"));
    EXPECT_EQ(Items(), (Strings{"d.jpg", "m.jpg", "z.jpg", "b.jpg", "c.jpg"}));
}

TEST_F(ResourcesBrowserModelTest, DeletedPhotoIsRemovedAndRepaintedAfterTheQuietTime) {
    Files(Singles(), {"a.jpg", "b.jpg", "c.jpg"});
    Start(Singles());
    const int repaints = host.repaints;
    const SteadyTime deleted = std::chrono::steady_clock::now();
    ASSERT_TRUE(Remove(Singles() + "/b.jpg"));
    EXPECT_TRUE(ItemsBecome({"a.jpg", "c.jpg"}));
    ASSERT_TRUE(WaitUntil([&] { return host.repaints > repaints; }));
    EXPECT_GE(host.LastRepaint() - deleted, 50ms);
    EXPECT_EQ(host.ranges, 1);
}

TEST_F(ResourcesBrowserModelTest, ChangesElsewhereAndAdditionsLeaveTheListAlone) {
    Files(Singles(), {"x.jpg", "notes.txt", "sentinel.jpg"});
    Files(Timed(), {"x.jpg"});
    Files(Root(), {"x.jpg"});
    Files(box / "outside", {"o.jpg"});
    Start(Singles());
    ASSERT_TRUE(Remove(Timed() + "/x.jpg"));
    ASSERT_TRUE(Remove(Root() + "/x.jpg"));
    ASSERT_TRUE(Remove(Singles() + "/notes.txt"));
    Files(Singles(), {"copied.jpg"});
    ASSERT_TRUE(Rename(box / "outside/o.jpg", Singles() + "/o.jpg"));
    ASSERT_NO_FATAL_FAILURE(Settle("sentinel.jpg"));
    EXPECT_EQ(Items(), (Strings{"x.jpg"}));

    // Added files show at the next listing.
    model->SetFolder(Timed(), false);
    model->SetFolder(Singles(), false);
    EXPECT_EQ(Items(), (Strings{"copied.jpg", "o.jpg", "x.jpg"}));
}

TEST_F(ResourcesBrowserModelTest, RenamesMoveAddAndDropShownNames) {
    Files(Singles(), {"a.jpg", "c.jpg", "e.txt"});
    Start(Singles());
    ASSERT_TRUE(Rename(Singles() + "/a.jpg", Singles() + "/d.jpg"));
    EXPECT_TRUE(ItemsBecome({"c.jpg", "d.jpg"}));
    // Every change of the count has the scroll range follow, or the last row could not be reached.
    int ranges = host.ranges;
    ASSERT_TRUE(Rename(Singles() + "/d.jpg", Singles() + "/d.txt"));
    EXPECT_TRUE(ItemsBecome({"c.jpg"}));
    EXPECT_TRUE(WaitUntil([&] { return host.ranges > ranges; }));
    ranges = host.ranges;
    ASSERT_TRUE(Rename(Singles() + "/e.txt", Singles() + "/b.jpg"));
    EXPECT_TRUE(ItemsBecome({"b.jpg", "c.jpg"}));
    EXPECT_TRUE(WaitUntil([&] { return host.ranges > ranges; }));
    ranges = host.ranges;
    ASSERT_TRUE(Rename(Singles() + "/c.jpg", Timed() + "/c.jpg"));  // to another folder of the tree
    EXPECT_TRUE(ItemsBecome({"b.jpg"}));
    EXPECT_TRUE(WaitUntil([&] { return host.ranges > ranges; }));
}

TEST_F(ResourcesBrowserModelTest, RenameStormIsMergedIntoTheListInOnePass) {
    constexpr int kFiles = 50000;
    Strings before;
    Strings after;
    for (int i = 0; i < kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "S20240131_%05d.jpg", i);
        before.emplace_back(name);
        std::snprintf(name, sizeof name, "R20240131_%05d.jpg", i);
        after.emplace_back(name);
    }
    for (const std::string& name : before) {
        const int fd = ::open((Singles() + "/" + name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    Start(Singles());
    ASSERT_EQ(model->GetItemCount(), static_cast<size_t>(kFiles));

    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < kFiles; ++i) ASSERT_TRUE(Rename(Singles() + "/" + before[i], Singles() + "/" + after[i]));
    const auto renamed = std::chrono::steady_clock::now();
    // Cheap looks while the storm is folded in, the whole list once they agree.
    const bool settled = WaitUntil(
        [&] {
            return model->GetItemCount() == static_cast<size_t>(kFiles) &&
                   model->GetItemPath(0) == Singles() + "/" + after.front() &&
                   model->GetItemPath(kFiles - 1) == Singles() + "/" + after.back() && Items() == after;
        },
        300s);
    const auto done = std::chrono::steady_clock::now();
    ASSERT_TRUE(settled) << model->GetItemCount() << " names shown";
    auto ms = [](auto duration) { return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count(); };
    std::printf("rename storm: %d renames took %lld ms; the list was right %lld ms after the last one\n", kFiles,
                static_cast<long long>(ms(renamed - begin)), static_cast<long long>(ms(done - renamed)));
    RecordProperty("storm_settled_ms", std::to_string(ms(done - renamed)));
}

TEST_F(ResourcesBrowserModelTest, ABlockOfChangesEndsAsTheSameChangesOneByOne) {
    // Two models on the same folder: one takes the records one at a time, the other as one block.
    constexpr int kFiles = 400;
    Strings names;
    for (int i = 0; i < kFiles; ++i) names.push_back("p" + std::to_string(1000 + i * 3) + ".jpg");
    Files(Singles(), names);
    Start(Singles());
    CResourcesBrowserModel blockwise(nullptr, &settings);
    blockwise.SetFolder(Singles(), false);
    // Names out of order, as a saved file appended at the end leaves them.
    model->AddItem("a-late.jpg");
    blockwise.AddItem("a-late.jpg");

    std::mt19937 random(13);
    const char* const kinds[] = {"Single Shots/", "Timed Shots/", ""};
    Records records;
    for (int i = 0; i < 3000; ++i) {
        const uint32_t action = 1 + random() % 5;
        const std::string folder = kinds[random() % 8 == 0 ? 1 + random() % 2 : 0];
        std::string name = "p" + std::to_string(1000 + random() % (kFiles * 4)) + (random() % 6 == 0 ? ".txt" : ".jpg");
        // The out-of-order name only goes away: one by one, a name coming back would be inserted in
        // sorted place even while it is still listed further down.
        if (random() % 50 == 0) {
            records.push_back({random() % 2 == 0 ? kActionRemoved : kActionRenamedOldName, folder + "a-late.jpg"});
            continue;
        }
        records.push_back({action, folder + name});
    }
    bool repaint = false;
    for (const ChangeRecord& record : records) repaint = model->ProcessChange(record.action, record.name) || repaint;
    EXPECT_EQ(blockwise.ApplyChanges(records), repaint);
    EXPECT_EQ(blockwise.GetItems(), Items());
    EXPECT_NE(Items().size(), static_cast<size_t>(kFiles + 1)) << "the records changed nothing";

    // The removal of the shown folder in the block empties the panel, whatever follows it.
    EXPECT_TRUE(blockwise.ApplyChanges({{kActionRemoved, "Single Shots/p1000.jpg"},
                                        {kActionRemoved, "Single Shots"},
                                        {kActionRenamedNewName, "Single Shots/p1000.jpg"}}));
    EXPECT_EQ(blockwise.GetFolder(), "");
    EXPECT_TRUE(blockwise.GetItems().empty());
}

TEST_F(ResourcesBrowserModelTest, LostChangesLeadToOneRelisting) {
    Files(Singles(), {"a.jpg", "sentinel.jpg"});
    Start(Singles());
    Files(Singles(), {"b.jpg"});
    ASSERT_NO_FATAL_FAILURE(Settle("sentinel.jpg"));
    ASSERT_TRUE(WaitUntil([&] { return host.repaints == 2; }));  // the listing's and the removal's
    ASSERT_EQ(host.ranges, 1);

    std::vector<char> burst;
    for (int i = 0; i < 3; ++i) {
        const std::vector<char> overflow = Encode(-1, IN_Q_OVERFLOW);
        burst.insert(burst.end(), overflow.begin(), overflow.end());
    }
    model->InjectWatchEvents(burst);
    // Records that name no watch, and a cut-off one, are passed over.
    model->InjectWatchEvents(Encode(9999, IN_DELETE, "a.jpg"));
    std::vector<char> cut = Encode(1, IN_DELETE, "a.jpg");
    cut.resize(cut.size() - 4);
    model->InjectWatchEvents(cut);
    EXPECT_TRUE(ItemsBecome({"a.jpg", "b.jpg"}));
    ASSERT_TRUE(WaitUntil([&] { return host.ranges == 2; }));

    // A relisting still to come would be done before the repaint that follows this removal.
    const SteadyTime removed = std::chrono::steady_clock::now();
    ASSERT_TRUE(Remove(Singles() + "/a.jpg"));
    EXPECT_TRUE(ItemsBecome({"b.jpg"}));
    ASSERT_TRUE(WaitUntil([&] { return host.LastRepaint() >= removed + 50ms; }));
    EXPECT_EQ(host.ranges, 3);  // one relisting, two removals
}

TEST_F(ResourcesBrowserModelTest, RemovingTheShownBlockFolderEmptiesThePanel) {
    const std::string date = Singles() + "/20240131";
    Start(Timed());
    const std::function<bool()> removals[] = {
        [&] { return std::filesystem::remove_all(date + "/000") > 0; },
        [&] { return Rename(date + "/000", box / "outside/000"); },  // to a trash folder
        [&] { return Rename(date, box / "outside/20240131"); },      // with the folder above it
    };
    for (const auto& remove : removals) {
        std::filesystem::remove_all(box / "outside");
        MakeFolders(box / "outside");
        MakeFolders(date + "/000");
        Files(date + "/000", {"SingleShot0000.jpg", "SingleShot0001.jpg"});
        model->SetFolder(date + "/000", false);
        ASSERT_TRUE(WaitUntil([&] { return IsWatched(date + "/000"); }));
        ASSERT_EQ(model->GetItemCount(), 2u);
        const int repaints = host.repaints;

        ASSERT_TRUE(remove());
        EXPECT_TRUE(WaitUntil([&] { return model->GetFolder().empty() && model->GetItemCount() == 0; }));
        EXPECT_TRUE(WaitUntil([&] { return host.repaints > repaints; }));
    }
}

TEST_F(ResourcesBrowserModelTest, NewStorageRootMovesTheWatch) {
    Files(Singles(), {"a.jpg"});
    Start(Singles());
    const std::string oldRoot = Root();
    const std::string oldSingles = Singles();
    EXPECT_EQ(model->GetWatchedRoot(), oldRoot);

    UseUserFolder(box / "Other");
    MakeFolders(Singles());
    Files(Singles(), {"n1.jpg", "n2.jpg"});
    model->RestartWatching();
    EXPECT_EQ(model->GetFolder(), "");
    EXPECT_EQ(host.resets, 2);
    EXPECT_EQ(model->GetWatchedRoot(), Root());
    EXPECT_FALSE(IsWatched(oldRoot) || IsWatched(oldSingles));
    ASSERT_TRUE(WaitUntil([&] { return IsWatched(Root()) && IsWatched(Singles()); }));
    EXPECT_FALSE(IsWatched(oldRoot) || IsWatched(oldSingles));
    EXPECT_EQ(ListFolder(oldRoot), (Strings{"Single Shots", "Timed Shots"}));

    model->SetFolder(Singles(), false);
    ASSERT_TRUE(Remove(Singles() + "/n1.jpg"));
    EXPECT_TRUE(ItemsBecome({"n2.jpg"}));
}

TEST_F(ResourcesBrowserModelTest, StoppingWorksWithAReadOnlyRoot) {
    for (const std::string& folder : {Singles(), Timed(), Root()})
        ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    Start(Singles());
    const auto started = std::chrono::steady_clock::now();
    model->StopWatching();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    EXPECT_FALSE(IsWatched(Root()) || IsWatched(Singles()));
    EXPECT_EQ(ListFolder(Root()), (Strings{"Single Shots", "Timed Shots"}));  // nothing written there

    model->RestartWatching();
    ASSERT_TRUE(WaitUntil([&] { return IsWatched(Root()); }));
    model.reset();
    EXPECT_FALSE(IsWatched(Root()));

    UseUserFolder(box / "nowhere");  // a root that cannot be watched ends the watch silently
    model = std::make_unique<CResourcesBrowserModel>(&host, &settings);
    model.reset();
    EXPECT_TRUE(alerts.Alerts().empty());
}

class FolderWatchTest : public StorageTreeTest {
protected:
    Records Received() {
        std::lock_guard guard(lock);
        Records all;
        for (const auto& block : blocks)
            if (block) all.insert(all.end(), block->begin(), block->end());
        return all;
    }
    int LostBlocks() {
        std::lock_guard guard(lock);
        return static_cast<int>(std::count(blocks.begin(), blocks.end(), std::nullopt));
    }
    bool Arrives(const ChangeRecord& wanted) {
        return WaitUntil([&] {
            const Records all = Received();
            return std::find(all.begin(), all.end(), wanted) != all.end();
        });
    }

    std::mutex lock;  // guards blocks
    std::vector<ChangeBlock> blocks;
    CFolderWatch watch{[this](ChangeBlock block) {
        std::lock_guard guard(lock);
        blocks.push_back(std::move(block));
    }};
};

TEST_F(FolderWatchTest, KernelRecordsBecomeRelativeChangeRecords) {
    Files(Singles(), {"a.jpg"});
    ASSERT_TRUE(watch.Start(Root()));
    EXPECT_FALSE(watch.Start(Root()));
    ASSERT_TRUE(WaitUntil([&] { return IsWatched(Singles()) && IsWatched(Timed()); }));

    Files(Singles(), {"new.jpg"});
    ASSERT_TRUE(Rename(Singles() + "/a.jpg", Singles() + "/b.jpg"));
    ASSERT_TRUE(Rename(Singles() + "/b.jpg", Timed() + "/b.jpg"));
    ASSERT_TRUE(Remove(Singles() + "/new.jpg"));
    ASSERT_TRUE(Rename(Timed() + "/b.jpg", box / "outside/b.jpg"));
    ASSERT_TRUE(Rename(box / "outside/b.jpg", Root() + "/b.jpg"));
    ASSERT_TRUE(Arrives({kActionAdded, "b.jpg"}));
    EXPECT_EQ(Received(), (Records{
                              {kActionAdded, "Single Shots/new.jpg"},
                              {kActionRenamedOldName, "Single Shots/a.jpg"},
                              {kActionRenamedNewName, "Single Shots/b.jpg"},
                              {kActionRenamedOldName, "Single Shots/b.jpg"},
                              {kActionRenamedNewName, "Timed Shots/b.jpg"},
                              {kActionRemoved, "Single Shots/new.jpg"},
                              {kActionRemoved, "Timed Shots/b.jpg"},
                              {kActionAdded, "b.jpg"},
                          }));

    watch.InjectEvents(Encode(-1, IN_Q_OVERFLOW));
    EXPECT_TRUE(WaitUntil([&] { return LostBlocks() == 1; }));
    ASSERT_TRUE(Remove(Root() + "/b.jpg"));  // watching goes on after lost changes
    EXPECT_TRUE(Arrives({kActionRemoved, "b.jpg"}));
}

TEST_F(FolderWatchTest, FolderWatchesFollowTheTree) {
    MakeFolders(box / "outside/elsewhere");
    ASSERT_EQ(::symlink((box / "outside/elsewhere").c_str(), (Singles() + "/link").c_str()), 0);
    ASSERT_TRUE(watch.Start(Root()));
    ASSERT_TRUE(WaitUntil([&] { return IsWatched(Singles()); }));
    EXPECT_FALSE(IsWatched(box / "outside/elsewhere"));

    // Made as the program makes a new day's folders, right before the first photo.
    const std::string block = Singles() + "/20240131/000";
    MakeFolders(block);
    Files(block, {"p.jpg"});
    ASSERT_TRUE(WaitUntil([&] { return IsWatched(block); }));
    ASSERT_TRUE(Remove(block + "/p.jpg"));
    EXPECT_TRUE(Arrives({kActionRemoved, "Single Shots/20240131/000/p.jpg"}));

    ASSERT_TRUE(Rename(Singles() + "/20240131", Timed() + "/20240131"));
    Files(Timed() + "/20240131/000", {"q.jpg"});
    EXPECT_TRUE(Arrives({kActionAdded, "Timed Shots/20240131/000/q.jpg"}));

    ASSERT_TRUE(Rename(Timed() + "/20240131", box / "outside/20240131"));
    EXPECT_TRUE(Arrives({kActionRemoved, "Timed Shots/20240131"}));
    EXPECT_TRUE(WaitUntil([&] { return !IsWatched(box / "outside/20240131/000"); }));
    ASSERT_TRUE(Remove(box / "outside/20240131/000/q.jpg"));
    Files(Singles(), {"mark.jpg"});
    ASSERT_TRUE(Arrives({kActionAdded, "Single Shots/mark.jpg"}));
    for (const auto& record : Received())
        EXPECT_FALSE(record.action == kActionRemoved && record.name.ends_with("q.jpg")) << record.name;

    // The root moved away: a lost-changes block, and the moved tree is watched no more. The watch
    // thread gives its watches back one by one, so the test waits for the last of them too.
    ASSERT_TRUE(Rename(Root(), box / "outside/zentrova"));
    EXPECT_TRUE(WaitUntil([&] {
        return LostBlocks() == 1 && !IsWatched(box / "outside/zentrova") &&
               !IsWatched(box / "outside/zentrova/Single Shots");
    }));
    watch.Stop();
}

TEST_F(FolderWatchTest, RootRemovedAndMadeAgainIsWatchedAgain) {
    ASSERT_TRUE(watch.Start(Root()));
    ASSERT_TRUE(WaitUntil([&] { return IsWatched(Singles()); }));

    // Deleted with everything in it, then made again as the program makes its folders.
    std::filesystem::remove_all(Root());
    ASSERT_TRUE(WaitUntil([&] { return LostBlocks() == 1; }));
    MakeFolders(Singles());
    ASSERT_TRUE(WaitUntil([&] { return LostBlocks() == 2 && IsWatched(Root()) && IsWatched(Singles()); }))
        << "the root's return is not seen";
    Files(Singles(), {"back.jpg"});
    ASSERT_TRUE(Remove(Singles() + "/back.jpg"));
    EXPECT_TRUE(Arrives({kActionRemoved, "Single Shots/back.jpg"}));

    // The folder above it too, and both made again in one go: the way down is followed.
    const std::string above = box / "Media";
    std::filesystem::remove_all(above);
    ASSERT_TRUE(WaitUntil([&] { return LostBlocks() == 3; }));
    MakeFolders(Timed() + "/20240131");
    ASSERT_TRUE(WaitUntil([&] {
        return LostBlocks() == 4 && IsWatched(Root()) && IsWatched(Timed()) && IsWatched(Timed() + "/20240131");
    }));
    ASSERT_TRUE(Rename(Timed() + "/20240131", Timed() + "/20240201"));
    EXPECT_TRUE(Arrives({kActionRenamedNewName, "Timed Shots/20240201"}));

    // Moved away and another made in its place.
    ASSERT_TRUE(Rename(Root(), box / "outside/old"));
    MakeFolders(Root());
    ASSERT_TRUE(WaitUntil([&] { return LostBlocks() == 6 && IsWatched(Root()); }));
    EXPECT_FALSE(IsWatched(box / "outside/old"));
    watch.Stop();
    EXPECT_FALSE(IsWatched(Root()) || IsWatched(box.Path()));
}

TEST_F(FolderWatchTest, MissingRootIsWaitedForWithoutPolling) {
    std::filesystem::remove_all(box / "Media");
    ASSERT_TRUE(watch.Start(Root()));
    ASSERT_TRUE(WaitUntil([&] { return IsWatched(box.Path()); })) << "the way to the root is not watched";
    MakeFolders(Singles());
    ASSERT_TRUE(WaitUntil([&] { return IsWatched(Root()) && IsWatched(Singles()); }));
    EXPECT_FALSE(IsWatched(box.Path()));
    // The watches stand a moment before the block that says so is handed on.
    EXPECT_TRUE(WaitUntil([&] { return LostBlocks() == 1; }));
    EXPECT_EQ(LostBlocks(), 1);
    watch.Stop();
}

}  // namespace
}  // namespace orvane::test
