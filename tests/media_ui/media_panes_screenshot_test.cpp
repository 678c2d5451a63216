#include <gtest/gtest.h>

#include <QHBoxLayout>
#include <QSplitter>
#include <QTreeWidget>
#include <cstdlib>
#include <string>

#include "media/ui/resource_browser_view.h"
#include "media/ui/resource_window.h"
#include "media/ui/resources_browser_dlg.h"
#include "media_ui_fixture.h"

namespace orvane::test {
namespace {

class MediaPanesPicture : public MediaUiTest {};

// The left column of the viewer twice, once with the day's photos and once with its movies, written
// to $ORVANE_SCREENSHOT_DIR/media.png for a person to look at. Skipped when the variable is unset.
TEST_F(MediaPanesPicture, WritesTheTwoPanesForReview) {
    const char* folder = std::getenv("ORVANE_SCREENSHOT_DIR");
    if (folder == nullptr || *folder == '\0') GTEST_SKIP() << "ORVANE_SCREENSHOT_DIR is not set";

    UseNested(true);
    const std::string photos = Singles() + "/20240131/000";
    const std::string movies = Movies() + "/20240131/000";
    MakeFolders(photos);
    MakeFolders(movies);
    MakeFolders(Singles() + "/20240130/000");
    MakeFolders(Timed() + "/20240131/001");
    const QColor tints[] = {QColor(190, 120, 200), QColor(90, 170, 210), QColor(210, 150, 90),
                            QColor(120, 190, 120), QColor(220, 110, 130)};
    for (int i = 0; i < 5; ++i) {
        const bool wide = i == 2;
        ASSERT_TRUE(WriteJpeg(photos + "/SingleShot000" + std::to_string(i) + ".jpg",
                              MakeSpecimen(wide ? 1920 : 1296, wide ? 1080 : 972, tints[i], i)));
    }
    ASSERT_TRUE(WriteFile(photos + "/SingleShot0005.jpg", "damaged"));
    ASSERT_TRUE(WriteMovie(movies + "/Movie0000.avi", MakeSpecimen(640, 480, tints[1], 7)));
    ASSERT_TRUE(WriteMovie(movies + "/Movie0001.mp4", MakeSpecimen(640, 360, tints[3], 8)));

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

    const QImage picture = frame.grab().toImage();
    MakeFolders(folder);
    ASSERT_TRUE(picture.save(QString::fromLatin1(folder) + QStringLiteral("/media.png")));
}

}  // namespace
}  // namespace orvane::test
