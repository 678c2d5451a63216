#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "base/singleton.h"

namespace orvane {

class CSettingParamManage;
struct CaptureState;

// The peer serves its button events on this port whatever the settings say.
constexpr uint16_t kWifiDevicePort = 5000;
// The byte the device sends when its shutter button is pressed.
constexpr uint8_t kWifiShutterByte = 0x65;
// The most one read of the link takes.
constexpr size_t kWifiLinkReadBytes = 64 * 1024;

// How long the link waits for each step. Tests shorten them.
struct WifiLinkLimits {
    std::chrono::milliseconds receiveTimeout{200};  // longest wait for data before `running` is checked again
    std::chrono::milliseconds connectTimeout{3000};
    std::chrono::milliseconds stopWait{100000};  // longest wait of Stop for the link thread
    // The device sends a byte a button press; a peer that floods the link is read no faster than this.
    // Once a second's bytes are used up the link reads nothing until the next second, and TCP holds
    // the peer back meanwhile.
    size_t bytesPerSecond = 256 * 1024;
};

// The TCP link to the wireless camera that carries its shutter button. While the wireless camera is
// previewed a link thread ("orv-wifi") holds a connection to the device (the address "wifideviceip"
// of the current settings, port 5000); every receive of exactly the one byte 0x65 sets shotPending of
// the viewer's capture state. The link never sends, never reconnects and never shows a message.
//
// Start and Stop run on the interface thread; HasLinkThread and IsLinkActive may be called from any
// thread.
class CWifiDeviceProxy : public KORU::Singleton<CWifiDeviceProxy> {
    friend class KORU::Singleton<CWifiDeviceProxy>;

public:
    // settings: where the device address comes from when a link starts; must outlive the proxy.
    explicit CWifiDeviceProxy(const CSettingParamManage* settings, WifiLinkLimits limits = {});
    // Stops the link. Should a thread that Stop gave up on still be running, waits for it to end.
    ~CWifiDeviceProxy();

    CWifiDeviceProxy(const CWifiDeviceProxy&) = delete;
    CWifiDeviceProxy& operator=(const CWifiDeviceProxy&) = delete;

    // Where button events go: the main viewer's capture state, or nullptr to drop them. The state
    // must outlive every link started while it is set.
    void SetViewer(CaptureState* state) { viewer.store(state, std::memory_order_release); }

    // Starts a link thread (a link still set from an earlier start is stopped first). False only
    // when no thread could be created; the preview then goes on without button events.
    bool Start();
    // Clears `running`, wakes the link thread and waits for it to end, at most `stopWait`; then the
    // proxy forgets the thread. Does nothing when no link thread is set.
    void Stop();

    bool IsRunning() const { return running.load(std::memory_order_acquire); }
    // Whether a link thread is set: from Start until the next Stop, also after the link ended on
    // its own (a failed connection, the device closed it).
    bool HasLinkThread() const { return hasLinkThread.load(std::memory_order_acquire); }
    // Whether the link thread set by Start has not yet ended.
    bool IsLinkActive() const;
    // Bytes the link set by Start has received so far.
    uint64_t ReceivedBytes() const { return receivedBytes.load(std::memory_order_acquire); }

private:
    struct LinkControl;

    CWifiDeviceProxy();

    // The link thread's work: connect, then receive until `running` is cleared, the link is woken
    // or the device closes the connection. 0 when it ended normally, -1 when a socket could not be
    // set up.
    static int WifiLinkProc(CWifiDeviceProxy* proxy, const LinkControl* link);
    // The link thread's last touch of the proxy.
    void FinishLink(LinkControl& link);

    const CSettingParamManage* settings;
    const WifiLinkLimits limits;
    std::atomic<bool> running{false};
    std::atomic<CaptureState*> viewer{nullptr};
    std::atomic<bool> hasLinkThread{false};  // mirrors linkThread for readers on other threads
    std::atomic<uint64_t> receivedBytes{0};

    std::thread linkThread;                    // written by Start and Stop only
    std::shared_ptr<LinkControl> currentLink;  // the control of linkThread
    mutable std::mutex threadLock;        // guards currentLink, every LinkControl::finished and liveThreads
    std::condition_variable threadEnded;  // signalled when a link thread finishes
    int liveThreads = 0;                  // link threads started and not yet finished, abandoned ones too
};

}  // namespace orvane
