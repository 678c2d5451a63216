#include <gtest/gtest.h>

#include <QHBoxLayout>
#include <QSplitter>
#include <QTreeWidget>
#include <cstdlib>
#include <map>
#include <string>

#include "media/ui/resource_browser_view.h"
#include "media/ui/resource_window.h"
#include "media/ui/resources_browser_dlg.h"
#include "media_ui_fixture.h"

namespace orvane::test {
namespace {

class MediaPanesPicture : public MediaUiTest {};

// The left column of the viewer twice, once with the day's photos and once with its movies, as the
// screen shows them: every thumbnail drawn shows its own picture where the panel says it drew it, and
// the damaged photo keeps an empty row. The picture is also written to
// $ORVANE_SCREENSHOT_DIR/media.png for a person to look at when that variable is set.
TEST_F(MediaPanesPicture, TheTwoPanesShowEachFilesPictureInItsRow) {
    UseNested(true);
    const std::string photos = Singles() + "/20240131/000";
    const std::string movies = Movies() + "/20240131/000";
    MakeFolders(photos);
    MakeFolders(movies);
    MakeFolders(Singles() + "/20240130/000");
    MakeFolders(Timed() + "/20240131/001");
    const QColor tints[] = {QColor(190, 120, 200), QColor(90, 170, 210), QColor(210, 150, 90),
                            QColor(120, 190, 120), QColor(220, 110, 130)};
    std::map<std::string, QImage> expected;  // each file's picture
    for (int i = 0; i < 5; ++i) {
        const bool wide = i == 2;
        const std::string path = photos + "/SingleShot000" + std::to_string(i) + ".jpg";
        const QImage specimen = MakeSpecimen(wide ? 1920 : 1296, wide ? 1080 : 972, tints[i], i);
        ASSERT_TRUE(WriteJpeg(path, specimen));
        expected[path] = specimen;
    }
    const std::string damaged = photos + "/SingleShot0005.jpg";
    ASSERT_TRUE(WriteFile(damaged, "damaged"));
    const QImage avi = MakeSpecimen(640, 480, tints[1], 7), mp4 = MakeSpecimen(640, 360, tints[3], 8);
    ASSERT_TRUE(WriteMovie(movies + "/Movie0000.avi", avi));
    ASSERT_TRUE(WriteMovie(movies + "/Movie0001.mp4", mp4));
    expected[movies + "/Movie0000.avi"] = avi;
    expected[movies + "/Movie0001.mp4"] = mp4;

    QWidget frame;
    frame.setWindowTitle(QStringLiteral("zentrova media panes"));
    auto* row = new QHBoxLayout(&frame);
    row->setContentsMargins(4, 4, 4, 4);
    const auto addColumn = [&] {
        auto* column = new QSplitter(Qt::Vertical, &frame);
        auto* window = new CResourceWindow(settings, strings, column);
        auto* view = new CResourceBrowserView(settings, column);
        window->SetBrowserView(view);
        column->addWidget(window);
        column->addWidget(view);
        column->setSizes({200, 400});
        row->addWidget(column);
        return std::make_pair(window, view);
    };
    auto [photoWindow, photoView] = addColumn();
    auto [movieWindow, movieView] = addColumn();
    frame.resize(520, 620);
    frame.show();
    Drain();
    photoWindow->AddSavedFile(photos + "/SingleShot0004.jpg");
    movieWindow->AddSavedFile(movies + "/Movie0001.mp4");
    ASSERT_TRUE(SpinUntil([&] {
        return photoView->Panel()->GetFolder() == photos && movieView->Panel()->GetFolder() == movies;
    }));
    Drain();
    photoView->Panel()->SetScrollPosition(150);
    ASSERT_TRUE(SettlePanel(*photoView->Panel()));
    ASSERT_TRUE(SettlePanel(*movieView->Panel()));

    const QImage picture = frame.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const qreal ratio = picture.devicePixelRatio();
    int shown = 0;
    for (CResourcesBrowserDlg* panel : {photoView->Panel(), movieView->Panel()}) {
        bool damagedRowSeen = false;
        for (int row = 0; !panel->GetItemPath(row).empty(); ++row) {
            const std::string path = panel->GetItemPath(row);
            SCOPED_TRACE(path);
            const auto drawn = panel->ItemRects().find(row);
            if (path == damaged) {
                damagedRowSeen = true;
                EXPECT_EQ(drawn, panel->ItemRects().end()) << "the damaged photo got a picture";
                continue;
            }
            if (drawn == panel->ItemRects().end()) continue;  // below the panel's bottom
            // The movie marker covers the top-left corner; the rest is the file's own picture.
            const QRect box = drawn->second;
            const QRect area = box.adjusted(CResourcesBrowserDlg::kMarkerSize, CResourcesBrowserDlg::kMarkerSize, -1, -1)
                                   .intersected(panel->GetItemsRect());
            if (area.height() < 20) continue;  // cut by the panel's edge
            const QImage& source = expected.at(path);
            const double sx = double(source.width()) / box.width(), sy = double(source.height()) / box.height();
            const QRect inSource(int((area.left() - box.left()) * sx), int((area.top() - box.top()) * sy),
                                 int(area.width() * sx), int(area.height() * sy));
            const QRect onScreen(panel->mapTo(&frame, area.topLeft()) * ratio, area.size() * ratio);
            const QColor shows = MeanColour(picture, onScreen), wanted = MeanColour(source, inSource);
            EXPECT_TRUE(Near(shows, wanted, 24))
                << "row " << row << " shows " << shows.name().toStdString() << " instead of "
                << wanted.name().toStdString();
            ++shown;
        }
        if (panel == photoView->Panel()) {
            EXPECT_TRUE(damagedRowSeen);
        }
    }
    EXPECT_GE(shown, 5);  // the photos at the scrolled position and both movies

    if (const char* folder = std::getenv("ORVANE_SCREENSHOT_DIR"); folder != nullptr && *folder != '\0') {
        MakeFolders(folder);
        ASSERT_TRUE(picture.save(QString::fromLatin1(folder) + QStringLiteral("/media.png")));
    }
}

}  // namespace
}  // namespace orvane::test
