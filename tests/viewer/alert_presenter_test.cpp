#include "viewer/alert_presenter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <chrono>
#include <mutex>
#include <thread>

#include "viewer_fixture.h"

namespace orvane::test {
namespace {

std::vector<QMessageBox*> Boxes() {
    std::vector<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible())
            boxes.push_back(box);
    }
    return boxes;
}

TEST(AlertPresenterTest, OneBoxPerTextWhileItIsOnScreen) {
    CAlertPresenter presenter;
    presenter.ShowAlert("disk full");
    presenter.ShowAlert("disk full");
    presenter.ShowAlert("camera gone");
    EXPECT_TRUE(Boxes().empty());  // handed to the event loop
    QCoreApplication::processEvents();
    ASSERT_EQ(Boxes().size(), 2u);
    QMessageBox* box = presenter.OpenBoxes().at(QStringLiteral("disk full"));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Orvane"));
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->text(), QStringLiteral("disk full"));

    box->button(QMessageBox::Ok)->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(presenter.OpenBoxes().size(), 1u);
    presenter.ShowAlert("disk full");
    QCoreApplication::processEvents();
    EXPECT_EQ(Boxes().size(), 2u);
}

TEST(AlertPresenterTest, BoxesStandOverTheOwnerWithoutBlockingItAndCloseWhenTheirStatePassed) {
    QWidget owner;
    owner.show();
    CAlertPresenter presenter;
    presenter.SetOwner(&owner);
    presenter.ShowAlert("no camera");
    presenter.ShowAlert("disk full");
    QCoreApplication::processEvents();
    ASSERT_EQ(Boxes().size(), 2u);
    QMessageBox* box = presenter.OpenBoxes().at(QStringLiteral("no camera"));
    EXPECT_EQ(box->parentWidget(), &owner);
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    presenter.CloseAlert("no camera");
    presenter.CloseAlert("not shown");
    QCoreApplication::processEvents();
    EXPECT_EQ(presenter.OpenBoxes().count(QStringLiteral("no camera")), 0u);
    // Shown again at once, before the closed box is gone.
    presenter.ShowAlert("no camera");
    QCoreApplication::processEvents();
    EXPECT_EQ(presenter.OpenBoxes().count(QStringLiteral("no camera")), 1u);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(presenter.OpenBoxes().size(), 2u);
    EXPECT_EQ(Boxes().size(), 2u);
}

TEST(AlertPresenterTest, AWorkerHoldingALockIsNotHeldUp) {
    CAlertPresenter presenter;
    std::mutex lock;
    std::thread worker([&] {
        std::lock_guard<std::mutex> guard(lock);
        presenter.ShowAlert("from the capture thread");
    });
    worker.join();  // returned without the interface thread's help
    // The interface thread may take the lock the worker held.
    { std::lock_guard<std::mutex> guard(lock); }
    ASSERT_TRUE(WaitFor([&] { return presenter.OpenBoxes().size() == 1; }, 2000));
}

}  // namespace
}  // namespace orvane::test
