#include "media/ui/resource_window.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_state.h"
#include "media/ui/resource_browser_view.h"
#include "media/ui/resources_browser_dlg.h"
#include "media_ui_fixture.h"

namespace orvane::test {
namespace {

using Strings = std::vector<std::string>;

Strings ChildTexts(const QTreeWidgetItem* item) {
    Strings texts;
    for (int i = 0; item != nullptr && i < item->childCount(); ++i)
        texts.push_back(item->child(i)->text(0).toStdString());
    return texts;
}

class ResourceWindowTest : public MediaUiTest {
protected:
    // The two panes as the main viewer puts them together.
    void Open() {
        view = std::make_unique<CResourceBrowserView>(settings);
        view->resize(220, 300);
        view->show();
        window = std::make_unique<CResourceWindow>(settings, strings);
        window->SetBrowserView(view.get());
        window->SetCaptureState(&capture);
        window->SetFolderOpener([this](const std::string& path) { explored.push_back(path); });
        window->resize(200, 300);
        window->show();
        Drain();
    }
    CResourcesBrowserDlg& Panel() { return *view->Panel(); }
    QTreeWidgetItem* Top() { return window->Tree()->topLevelItem(0); }
    QTreeWidgetItem* Kind(const std::string& name) { return CResourceWindow::FindChildItem(name, Top()); }
    std::string Selected() {
        QTreeWidgetItem* item = window->Tree()->currentItem();
        return item != nullptr ? item->text(0).toStdString() : std::string();
    }
    std::string Photo(const std::string& folder, const std::string& name) {
        MakeFolders(folder);
        EXPECT_TRUE(WriteJpeg(folder + "/" + name, MakeFlat(64, 48, QColor(200, 60, 60))));
        return folder + "/" + name;
    }
    // Announces the file from a saving thread, as the writers do, and waits until it is handled.
    void Announce(const std::string& path) {
        int announced = 0;
        const auto connection =
            QObject::connect(window.get(), &CResourceWindow::SavedFileAnnounced, window.get(),
                             [&](const QString& file) { announced += file.toStdString() == path; });
        std::thread saver([&] { window->AddSavedFile(path); });
        saver.join();
        EXPECT_TRUE(SpinUntil([&] { return announced == 1; }));
        QObject::disconnect(connection);
        Drain();
    }
    std::string LastShownPath() {
        Panel().grab();
        if (Panel().ItemRects().empty()) return {};
        return Panel().GetItemPath(Panel().ItemRects().rbegin()->first);
    }
    bool AtEnd() { return Panel().ScrollPosition() == Panel().MaxScrollPosition(); }

    CaptureState capture;
    std::unique_ptr<CResourceBrowserView> view;
    std::unique_ptr<CResourceWindow> window;
    Strings explored;
};

TEST_F(ResourceWindowTest, TreeShowsTheStorageRootAsTheLayoutHasIt) {
    Photo(Singles() + "/20240130/000", "SingleShot0000.jpg");
    MakeFolders(Singles() + "/.cache");
    Open();
    ASSERT_EQ(window->Tree()->topLevelItemCount(), 1);
    EXPECT_EQ(Top()->text(0), QStringLiteral("zentrova"));
    EXPECT_TRUE(Top()->isExpanded());
    EXPECT_FALSE(Top()->icon(0).isNull());
    EXPECT_EQ(ChildTexts(Top()), (Strings{"Movies", "Single Shots", "Timed Shots"}));
    EXPECT_EQ(Kind("Single Shots")->childCount(), 0);  // flat: one level only

    // Nested: every deeper folder, hidden ones left out, numbers in order.
    MakeFolders(Singles() + "/20240129/001");
    MakeFolders(Singles() + "/20240129/000");
    UseNested(true);
    window->RebuildTree();
    EXPECT_EQ(ChildTexts(Kind("Single Shots")), (Strings{"20240129", "20240130"}));
    EXPECT_EQ(ChildTexts(Kind("Single Shots")->child(0)), (Strings{"000", "001"}));
    EXPECT_FALSE(Kind("Single Shots")->child(0)->child(1)->icon(0).isNull());
}

TEST_F(ResourceWindowTest, ButtonSitsBelowTheTreeWithItsCaption) {
    Open();
    EXPECT_EQ(window->Tree()->geometry(), QRect(0, 0, 200, 280));
    EXPECT_EQ(window->MoreButton()->geometry(), QRect(0, 280, 200, 20));
    auto* button = qobject_cast<QPushButton*>(window->MoreButton());
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QStringLiteral("More..."));
    EXPECT_EQ(button->accessibleName(), button->text());
}

TEST_F(ResourceWindowTest, TreeIsRebuiltOnlyWhenTheRootOrTheLayoutChanged) {
    Open();
    Panel().SetFolder(Singles(), false);
    // A mark on the tree's items: a rebuilt tree has new items, which carry none. (Comparing addresses
    // would not do: a new item may well take the memory of a deleted one.)
    constexpr int kMarkRole = Qt::UserRole + 1000;
    Top()->setData(0, kMarkRole, true);
    Kind("Single Shots")->setData(0, kMarkRole, true);

    CSettingParam param = settings.GetUsingParam();
    param.language = 0;
    param.moviesizemax = 32;
    settings.SetUsingParam(param);
    window->RebuildTree();
    EXPECT_TRUE(Top()->data(0, kMarkRole).toBool()) << "the tree was rebuilt for settings it does not show";
    EXPECT_TRUE(Kind("Single Shots")->data(0, kMarkRole).toBool());
    EXPECT_EQ(Panel().GetFolder(), Singles());

    UseNested(true);
    window->RebuildTree();
    EXPECT_FALSE(Top()->data(0, kMarkRole).toBool()) << "the tree was not rebuilt for the dated layout";
    EXPECT_FALSE(Kind("Single Shots")->data(0, kMarkRole).toBool());
    EXPECT_EQ(Panel().GetFolder(), "");  // emptied until a folder is chosen
    Panel().SetFolder(Singles(), false);
    window->RebuildTree();  // asked again with nothing changed since
    EXPECT_EQ(Panel().GetFolder(), Singles());

    MakeFolders(box / "Other");
    UseSettings(true, box / "Other");
    window->RebuildTree();
    EXPECT_EQ(Panel().Model().GetWatchedRoot(), box / "Other/zentrova");
    EXPECT_EQ(Panel().GetFolder(), "");
    EXPECT_EQ(Top()->childCount(), 0);  // the new root has no folders yet
}

TEST_F(ResourceWindowTest, ChoosingALeafFolderShowsIt) {
    Photo(Timed() + "/20240131/001", "TimeShot001-0001.jpg");
    Open();
    window->Tree()->setCurrentItem(Kind("Single Shots"));
    EXPECT_EQ(Panel().GetFolder(), Singles());

    // While the program saves, the panel follows the saved files only.
    capture.shotPending = 1;
    window->Tree()->setCurrentItem(Kind("Movies"));
    EXPECT_EQ(Panel().GetFolder(), Singles());
    capture.shotPending = 0;
    capture.recordingRunning = 1;
    window->Tree()->setCurrentItem(Kind("Timed Shots"));
    EXPECT_EQ(Panel().GetFolder(), Singles());
    capture.recordingRunning = 0;

    // Nested: a kind folder never changes the panel; a block folder does.
    UseNested(true);
    window->RebuildTree();
    Panel().SetFolder(Singles(), false);
    window->Tree()->setCurrentItem(Kind("Movies"));
    window->Tree()->setCurrentItem(Kind("Timed Shots"));
    EXPECT_EQ(Panel().GetFolder(), Singles());
    window->Tree()->setCurrentItem(Kind("Timed Shots")->child(0)->child(0));
    EXPECT_EQ(Panel().GetFolder(), Timed() + "/20240131/001");
    EXPECT_EQ(Panel().Model().GetItems(), Strings{"TimeShot001-0001.jpg"});
}

TEST_F(ResourceWindowTest, MoreOpensTheChosenFolderInTheFileManager) {
    Photo(Singles() + "/20240131/000", "SingleShot0000.jpg");
    UseNested(true);
    Open();
    window->Tree()->setCurrentItem(nullptr);
    qobject_cast<QPushButton*>(window->MoreButton())->click();
    window->Tree()->setCurrentItem(Top());
    qobject_cast<QPushButton*>(window->MoreButton())->click();
    window->Tree()->setCurrentItem(Kind("Single Shots")->child(0)->child(0));
    qobject_cast<QPushButton*>(window->MoreButton())->click();
    EXPECT_EQ(explored, (Strings{Root(), Root(), Singles() + "/20240131/000"}));
}

TEST(SavedPathTest, SplitsByTheLayout) {
    std::string kind, date, block, name;
    ASSERT_TRUE(CResourceWindow::SplitSavedPath("/m/zentrova/Single Shots/S20240131_0003.jpg", false, kind,
                                                date, block, name));
    EXPECT_EQ(kind, "Single Shots");
    EXPECT_EQ(date, "");
    EXPECT_EQ(block, "");
    EXPECT_EQ(name, "S20240131_0003.jpg");
    ASSERT_TRUE(CResourceWindow::SplitSavedPath("/m/zentrova/Movies/20240131/002/Movie2001.avi", true, kind,
                                                date, block, name));
    EXPECT_EQ(kind, "Movies");
    EXPECT_EQ(date, "20240131");
    EXPECT_EQ(block, "002");
    EXPECT_EQ(name, "Movie2001.avi");
    EXPECT_TRUE(CResourceWindow::SplitSavedPath("/a/b/c/d", true, kind, date, block, name));
    EXPECT_EQ(kind, "a");
    EXPECT_FALSE(CResourceWindow::SplitSavedPath("a/b/c/d", true, kind, date, block, name));
    EXPECT_FALSE(CResourceWindow::SplitSavedPath("name.jpg", false, kind, date, block, name));
    EXPECT_FALSE(CResourceWindow::SplitSavedPath("", false, kind, date, block, name));
}

TEST_F(ResourceWindowTest, SavedPhotoInAnotherFolderSwitchesThePanelToItsEnd) {
    for (int i = 1; i <= 2; ++i) Photo(Timed(), "T20240131001-000" + std::to_string(i) + ".jpg");
    for (int i = 1; i <= 2; ++i) Photo(Singles(), "S20240131_000" + std::to_string(i) + ".jpg");
    Open();
    window->Tree()->setCurrentItem(Kind("Timed Shots"));
    ASSERT_EQ(Panel().GetFolder(), Timed());

    const std::string saved = Photo(Singles(), "S20240131_0003.jpg");
    Announce(saved);
    EXPECT_EQ(Selected(), "Single Shots");
    EXPECT_EQ(Panel().GetFolder(), Singles());
    EXPECT_EQ(Panel().Model().GetItemCount(), 3u);
    EXPECT_TRUE(Panel().ScrollBar()->isVisibleTo(&Panel()));
    EXPECT_TRUE(AtEnd());
    EXPECT_EQ(LastShownPath(), saved);
}

TEST_F(ResourceWindowTest, SavedPhotoInTheShownFolderIsAppendedOnce) {
    for (int i = 1; i <= 3; ++i) Photo(Singles(), "S20240131_000" + std::to_string(i) + ".jpg");
    Open();
    window->Tree()->setCurrentItem(Kind("Single Shots"));
    Drain();
    ASSERT_EQ(Panel().ScrollPosition(), 0);

    const std::string saved = Photo(Singles(), "S20240131_0004.jpg");  // after the listing
    Announce(saved);
    EXPECT_EQ(Panel().Model().GetItemCount(), 4u);
    EXPECT_TRUE(AtEnd());
    EXPECT_EQ(LastShownPath(), saved);

    Panel().SetScrollPosition(0);
    Announce(saved);
    EXPECT_EQ(Panel().Model().GetItemCount(), 4u);
    EXPECT_EQ(Panel().ScrollPosition(), 0);
}

TEST_F(ResourceWindowTest, FirstPhotoOfANewDayGrowsTheNestedTree) {
    Photo(Singles() + "/20240130/000", "SingleShot0000.jpg");
    UseNested(true);
    Open();
    window->Tree()->setCurrentItem(Kind("Single Shots")->child(0)->child(0));
    ASSERT_EQ(Panel().GetFolder(), Singles() + "/20240130/000");

    capture.shotPending = 1;  // the announcement may come before or after the flag is down
    std::string saved;
    ASSERT_TRUE(saving.GetSingleShotPath(Singles(), saved));
    ASSERT_EQ(saved, Singles() + "/20240131/000/SingleShot0000.jpg");
    ASSERT_TRUE(WriteJpeg(saved, MakeFlat(64, 48, QColor(60, 200, 60))));
    Announce(saved);
    EXPECT_EQ(ChildTexts(Kind("Single Shots")), (Strings{"20240130", "20240131"}));
    QTreeWidgetItem* block = Kind("Single Shots")->child(1)->child(0);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->text(0), QStringLiteral("000"));
    EXPECT_EQ(window->Tree()->currentItem(), block);
    EXPECT_EQ(Panel().GetFolder(), Singles() + "/20240131/000");
    EXPECT_EQ(LastShownPath(), saved);

    // The next photo, announced after the flag went down, still ends at the bottom of the panel.
    capture.shotPending = 0;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(saving.GetSingleShotPath(Singles(), saved));
        ASSERT_TRUE(WriteJpeg(saved, MakeFlat(64, 48, QColor(60, 60, 200))));
        Announce(saved);
    }
    EXPECT_EQ(Panel().Model().GetItemCount(), 5u);
    EXPECT_TRUE(AtEnd());
    EXPECT_EQ(LastShownPath(), saved);

    // A path the tree has no kind for changes nothing.
    Announce(box / "elsewhere/x/y/z/a.jpg");
    EXPECT_EQ(Panel().GetFolder(), Singles() + "/20240131/000");
}

}  // namespace
}  // namespace orvane::test
