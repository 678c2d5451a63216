#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace orvane {

// Device calls that can take seconds on a real camera (opening and questioning every node of the
// list, setting the format, starting the stream, connecting to the wireless camera) run here, on
// the thread "orv-device", while the interface thread goes on painting, showing the live picture and
// answering the window manager. The caller gets its result as if the call had been made in place, so
// results keep their order. Keys and pointer clicks made meanwhile are held back and delivered once
// the call is over: none is lost, and none can start a second device call under the first.
//
// Calls are served one at a time in the order they were made. Interface thread only.
class CDeviceWork final : public QObject {
    Q_OBJECT

public:
    explicit CDeviceWork(QObject* parent = nullptr);
    // Waits for the call under way, if any, and ends the thread.
    ~CDeviceWork() override;

    CDeviceWork(const CDeviceWork&) = delete;
    CDeviceWork& operator=(const CDeviceWork&) = delete;

    // Runs `work` on the device thread and returns when it has finished.
    void Run(const std::function<void()>& work);
    // True while a call is under way; what could reach the device meanwhile waits for Idle.
    bool Busy() const { return waiting > 0; }

Q_SIGNALS:
    // The last call under way has finished: held-back work may go on.
    void Idle();

private:
    struct Call;
    void Serve(std::stop_token stop);

    std::mutex lock;
    std::condition_variable_any wake;
    std::deque<Call*> queue;
    int waiting = 0;
    std::jthread worker;
};

}  // namespace orvane
