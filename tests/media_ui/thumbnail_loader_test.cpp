#include "media/ui/thumbnail_loader.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "media_ui_fixture.h"
#include "support/hostile_media.h"
#include "widgets/event_loop_probe.h"

namespace orvane::test {
namespace {

const QColor kRed(210, 40, 40);
const QColor kBlue(40, 70, 210);

// Runs the interface thread's own event loop (so that it waits between events as the program does)
// until `done` holds or `timeoutMs` passes.
bool RunLoopUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    if (done()) return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > timeoutMs) loop.quit();
    });
    poll.start(5);
    loop.exec();
    return done();
}

class ThumbnailLoaderTest : public MediaUiTest {
protected:
    std::unique_ptr<CThumbnailLoader> MakeLoader(int workers) {
        return std::make_unique<CThumbnailLoader>(
            CThumbnailMaker(CDesktopThumbnails(box / "cache")),
            [this](ThumbnailResult result) { delivered.push_back(result.path); }, workers);
    }
    static ThumbnailRequest Request(const std::string& path) {
        ThumbnailRequest request;
        request.path = path;
        request.kind = ThumbnailKind::Photo;
        request.fitKey = 1;
        request.fit = [](const QSize&) { return QSize(133, 100); };
        return request;
    }
    std::string Photo(const std::string& name, int w, int h, QColor colour, int seed = 0) {
        const std::string path = Singles() + "/" + name;
        EXPECT_TRUE(WriteJpeg(path, MakeSpecimen(w, h, colour, seed)));
        return path;
    }

    std::vector<std::string> delivered;
};

TEST_F(ThumbnailLoaderTest, MostWantedFirstAndWhatIsNoLongerWantedIsDropped) {
    const std::string a = Photo("a.jpg", 640, 480, kRed), b = Photo("b.jpg", 640, 480, kBlue),
                      c = Photo("c.jpg", 640, 480, kRed, 1);
    auto loader = MakeLoader(1);
    loader->Want({Request(c), Request(b), Request(a)});
    ASSERT_TRUE(RunLoopUntil([&] { return loader->Idle() && delivered.size() == 3; }));
    EXPECT_EQ(delivered, (std::vector<std::string>{c, b, a}));

    // Forty rows scrolled past, then one: at most the one under way when the view moved is made
    // besides, and even that one is not delivered.
    std::vector<ThumbnailRequest> many;
    for (int i = 0; i < 40; ++i)
        many.push_back(Request(Photo("x" + std::to_string(i) + ".jpg", 1600, 1200, kBlue, i)));
    const std::string last = Photo("y.jpg", 640, 480, kRed);
    delivered.clear();
    const uint64_t madeBefore = loader->MadeCount();
    loader->Want(many);
    loader->Want({Request(last)});
    ASSERT_TRUE(RunLoopUntil([&] { return loader->Idle() && !delivered.empty(); }));
    EXPECT_LE(loader->MadeCount() - madeBefore + loader->CancelledCount(), 2u);
    EXPECT_EQ(delivered.back(), last);
    EXPECT_LE(delivered.size(), 2u);
}

TEST_F(ThumbnailLoaderTest, APictureAskedForWhileItsRowIsCheckedStillComes) {
    // The panel checks the rows it shows; a row whose picture it dropped meanwhile asks for the picture
    // while the check may still run. Whichever way the two meet, the picture comes.
    const std::string a = Photo("a.jpg", 640, 480, kRed);
    auto loader = MakeLoader(1);
    loader->Want({Request(a)});
    ASSERT_TRUE(RunLoopUntil([&] { return loader->Idle() && delivered.size() == 1; }));
    FileSignature shown;
    ASSERT_TRUE(FileSignature::Read(a, shown));
    for (size_t round = 2; round < 40; ++round) {
        ThumbnailRequest check = Request(a);
        check.check = true;
        check.known = shown;
        loader->Want({check});
        loader->Want({Request(a)});
        ASSERT_TRUE(RunLoopUntil([&] { return loader->Idle() && delivered.size() == round; }))
            << "round " << round;
    }
}

TEST_F(ThumbnailLoaderTest, WorkersAreNamedAndRunBelowTheInterfaceThread) {
    auto loader = MakeLoader(2);
    ASSERT_EQ(loader->WorkerCount(), 2);
    const auto workers = [] {
        std::vector<int> nices;
        DIR* tasks = ::opendir("/proc/self/task");
        while (dirent* entry = tasks != nullptr ? ::readdir(tasks) : nullptr) {
            if (entry->d_name[0] == '.') continue;
            const std::string task = std::string("/proc/self/task/") + entry->d_name;
            std::string name;
            std::getline(std::ifstream(task + "/comm"), name);
            if (name != "orv-thumb") continue;
            // Field 19 of stat is the nice value; the name in brackets comes before.
            std::string stat;
            std::getline(std::ifstream(task + "/stat"), stat);
            std::istringstream fields(stat.substr(stat.rfind(')') + 2));
            std::string field;
            for (int i = 3; i <= 19 && fields >> field; ++i) {
            }
            nices.push_back(std::stoi(field));
        }
        if (tasks != nullptr) ::closedir(tasks);
        return nices;
    };
    ASSERT_TRUE(RunLoopUntil([&] { return workers().size() == 2 && workers()[0] > 0 && workers()[1] > 0; }));
    for (const int nice : workers()) EXPECT_EQ(nice, 10);
}

class HostileFolderTest : public MediaUiTest {};

TEST_F(HostileFolderTest, HostileFilesGiveNoPictureInTimeWhileTheWindowAnswers) {
    // Between two good photos: the 65500 x 65500 bomb, a 1000 MB file, a huge MJPEG AVI and an MP4 with
    // a hundred million samples.
    ASSERT_TRUE(WriteJpeg(Singles() + "/S20240131_0001.jpg", MakeSpecimen(1296, 972, kRed)));
    ASSERT_TRUE(WriteFile(Singles() + "/S20240131_0002.jpg", ProgressiveJpegClaiming(65500, 65500)));
    ASSERT_TRUE(MakeSparseFile(Singles() + "/S20240131_0003.jpg", int64_t{1000} << 20));
    ASSERT_TRUE(WriteFile(Singles() + "/S20240131_0004.avi", MjpegAvi(16000, 16000, 16000, 16000)));
    ASSERT_TRUE(WriteFile(Singles() + "/S20240131_0005.mp4", Mp4ClaimingSamples(80'000'000)));
    ASSERT_TRUE(WriteJpeg(Singles() + "/S20240131_0006.jpg", MakeSpecimen(1296, 972, kBlue)));

    CResourcesBrowserDlg panel(&settings);
    panel.resize(200 + panel.ScrollBar()->width(), 700);
    panel.show();
    ASSERT_TRUE(RunLoopUntil([&] { return panel.isVisible(); }));
    CEventLoopProbe probe;
    QElapsedTimer clock;
    clock.start();
    panel.SetFolder(Singles(), false);
    std::vector<std::string> names;
    for (int i = 1; i <= 6; ++i)
        names.push_back(Singles() + "/S20240131_000" + std::to_string(i) +
                        (i == 4   ? ".avi"
                         : i == 5 ? ".mp4"
                                  : ".jpg"));
    ASSERT_TRUE(RunLoopUntil([&] {
        return std::all_of(names.begin(), names.end(),
                           [&](const std::string& name) { return panel.Thumbnails().Find(name) != nullptr; });
    }));
    const double seconds = clock.elapsed() / 1000.0;
    std::printf(
        "[ figures  ] hostile folder settled in %.0f ms; interface thread late at most %.1f ms (own %.1f ms, CPU %.1f "
        "ms)\n",
        seconds * 1000, probe.MaxLatenessMs(), probe.MaxOwnLatenessMs(), probe.MaxCpuMs());
    EXPECT_LT(seconds, 2.0);
    for (int i : {1, 2, 3, 4}) EXPECT_FALSE(panel.Thumbnails().Find(names[i])->picture) << names[i];
    EXPECT_TRUE(panel.Thumbnails().Find(names[0])->picture);
    EXPECT_TRUE(panel.Thumbnails().Find(names[5])->picture);
    // The damaged photos keep empty rows; the movies take none.
    ASSERT_TRUE(SettlePanel(panel));
    panel.grab();
    EXPECT_EQ(panel.ItemRects().size(), 2u);
    EXPECT_TRUE(panel.ItemRects().contains(0));
    ASSERT_TRUE(panel.ItemRects().contains(5));
    EXPECT_EQ(panel.ItemRects().at(5).top(), 3 * 110 + 10);  // after two empty rows
}

}  // namespace
}  // namespace orvane::test
