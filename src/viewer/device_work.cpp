#include "viewer/device_work.h"

#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMetaObject>

#include "base/thread_name.h"

namespace orvane {

struct CDeviceWork::Call {
    const std::function<void()>& work;
    QEventLoop loop;
    bool finished = false;
};

CDeviceWork::CDeviceWork(QObject* parent)
    : QObject(parent), worker([this](std::stop_token stop) { Serve(stop); }) {}

CDeviceWork::~CDeviceWork() {
    worker.request_stop();
    wake.notify_all();
    worker.join();
}

void CDeviceWork::Run(const std::function<void()>& work) {
    Call call{work, {}, false};
    {
        std::lock_guard guard(lock);
        queue.push_back(&call);
    }
    wake.notify_one();
    if (++waiting == 1) QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
    // Painting, timers, posted events and the window manager's questions go on; input waits.
    while (!call.finished) call.loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (--waiting == 0) {
        QGuiApplication::restoreOverrideCursor();
        Q_EMIT Idle();
    }
}

void CDeviceWork::Serve(std::stop_token stop) {
    NameThisThread("orv-device");
    for (;;) {
        Call* call = nullptr;
        {
            std::unique_lock guard(lock);
            if (!wake.wait(guard, stop, [this] { return !queue.empty(); })) return;
            call = queue.front();
            queue.pop_front();
        }
        call->work();
        // The caller leaves Run only after this has run on its own thread, so `call` is still there.
        QMetaObject::invokeMethod(
            this,
            [call] {
                call->finished = true;
                call->loop.quit();
            },
            Qt::QueuedConnection);
    }
}

}  // namespace orvane
