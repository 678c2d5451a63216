#include "capture/wifi_device_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

#include "base/thread_name.h"
#include "base/unique_fd.h"
#include "capture/capture_state.h"
#include "config/setting_param_manage.h"

namespace orvane {

namespace {

int PollTimeout(std::chrono::milliseconds limit) {
    auto ms = limit.count();
    if (ms < 0) return 0;
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

// Waits for `events` on `fd` or for the wake descriptor, at most `limit`. Returns the events seen on
// `fd`, 0 on time-out, -1 when woken or when poll failed for good.
int WaitFor(int fd, short events, int wake, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        int n = ::poll(fds, 2, PollTimeout(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (fds[1].revents != 0) return -1;
        if (n == 0) return 0;
        return fds[0].revents;
    }
}

// Whether `limit` passed without the wake descriptor becoming readable.
bool RestUnlessWoken(int wake, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        pollfd fd{wake, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int n = ::poll(&fd, 1, PollTimeout(left));
        if (n == 0) return true;
        if (n > 0 || errno != EINTR) return false;
    }
}

// One read takes whatever a flood has queued, up to a full buffer; the socket's receive buffer is
// asked to be no larger, so that a flood held back at the per-second cap leaves little to drain.
constexpr size_t kReceiveBufferBytes = kWifiLinkReadBytes;

}  // namespace

struct CWifiDeviceProxy::LinkControl {
    // Readable once Stop wants the thread to end; never read, so it stays readable.
    UniqueFd wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    bool finished = false;
};

CWifiDeviceProxy::CWifiDeviceProxy() : CWifiDeviceProxy(CSettingParamManage::GetInstance()) {}

CWifiDeviceProxy::CWifiDeviceProxy(const CSettingParamManage* settings_, WifiLinkLimits limits_)
    : settings(settings_), limits(limits_) {}

CWifiDeviceProxy::~CWifiDeviceProxy() {
    Stop();
    std::unique_lock lock(threadLock);
    threadEnded.wait(lock, [this] { return liveThreads == 0; });
}

bool CWifiDeviceProxy::Start() {
    if (HasLinkThread()) Stop();

    auto link = std::make_shared<LinkControl>();
    running.store(true, std::memory_order_release);
    receivedBytes.store(0, std::memory_order_release);
    {
        std::lock_guard lock(threadLock);
        ++liveThreads;
    }
    try {
        linkThread = std::thread([this, link] {
            NameThisThread("orv-wifi");
            WifiLinkProc(this, link.get());
            FinishLink(*link);
        });
    } catch (const std::system_error&) {
        running.store(false, std::memory_order_release);
        std::lock_guard lock(threadLock);
        --liveThreads;
        return false;
    }
    {
        std::lock_guard lock(threadLock);
        currentLink = std::move(link);
    }
    hasLinkThread.store(true, std::memory_order_release);
    return true;
}

void CWifiDeviceProxy::Stop() {
    running.store(false, std::memory_order_release);
    if (!linkThread.joinable()) return;

    std::shared_ptr<LinkControl> link;
    {
        std::lock_guard lock(threadLock);
        link = std::move(currentLink);
    }
    if (link->wake.Valid()) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(link->wake.Get(), &one, sizeof one);
    }
    bool ended;
    {
        std::unique_lock lock(threadLock);
        ended = threadEnded.wait_for(lock, limits.stopWait, [&] { return link->finished; });
    }
    if (ended) {
        linkThread.join();
    } else {
        // The thread still holds its own control and is counted in liveThreads, so it may finish
        // whenever it can; the destructor waits for it.
        linkThread.detach();
    }
    hasLinkThread.store(false, std::memory_order_release);
}

bool CWifiDeviceProxy::IsLinkActive() const {
    std::lock_guard lock(threadLock);
    return currentLink != nullptr && !currentLink->finished;
}

void CWifiDeviceProxy::FinishLink(LinkControl& link) {
    std::lock_guard lock(threadLock);
    link.finished = true;
    --liveThreads;
    threadEnded.notify_all();
}

int CWifiDeviceProxy::WifiLinkProc(CWifiDeviceProxy* proxy, const LinkControl* link) {
    if (proxy == nullptr || link == nullptr) return 0;
    if (!link->wake.Valid()) return -1;
    const int wake = link->wake.Get();

    UniqueFd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!sock.Valid()) return -1;

    const auto receiveMs = proxy->limits.receiveTimeout.count();
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(receiveMs / 1000);
    timeout.tv_usec = static_cast<suseconds_t>((receiveMs % 1000) * 1000);
    if (::setsockopt(sock.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) return -1;
    // Set before connecting, so that the window offered to the peer follows it.
    const int receiveBuffer = static_cast<int>(kReceiveBufferBytes);
    ::setsockopt(sock.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(proxy->settings->GetUsingParam().wifideviceip);
    address.sin_port = htons(kWifiDevicePort);

    int flags = ::fcntl(sock.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(sock.Get(), F_SETFL, flags | O_NONBLOCK) != 0) return -1;

    int connected = ::connect(sock.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (connected != 0 && errno != EINPROGRESS && errno != EINTR) return 0;

    // A refused or unreachable peer also makes the socket writable, with the reason in SO_ERROR; such a
    // link ends like one that timed out.
    if (WaitFor(sock.Get(), POLLOUT, wake, proxy->limits.connectTimeout) <= 0) return 0;
    int error = 0;
    socklen_t errorLength = sizeof error;
    if (::getsockopt(sock.Get(), SOL_SOCKET, SO_ERROR, &error, &errorLength) != 0 || error != 0) return 0;

    using Clock = std::chrono::steady_clock;
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReceiveBufferBytes]);
    const size_t cap = std::max<size_t>(proxy->limits.bytesPerSecond, 1);
    Clock::time_point second = Clock::now();
    size_t handled = 0;  // bytes received since `second` began
    while (proxy->running.load(std::memory_order_acquire)) {
        Clock::time_point now = Clock::now();
        if (handled >= cap) {
            // The second's bytes are used up: no reading, no waking until the next second begins.
            const auto rest = std::chrono::ceil<std::chrono::milliseconds>(second + std::chrono::seconds(1) - now);
            if (rest.count() > 0 && !RestUnlessWoken(wake, rest)) break;
            now = Clock::now();
        }
        if (now - second >= std::chrono::seconds(1)) {
            second = now;
            handled = 0;
        }

        int events = WaitFor(sock.Get(), POLLIN, wake, proxy->limits.receiveTimeout);
        if (events < 0) break;
        if (events == 0) continue;

        ssize_t received = ::recv(sock.Get(), buffer.get(), kReceiveBufferBytes, MSG_DONTWAIT);
        if (received < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            // Reset or otherwise broken: nothing more can arrive, and waiting again would return at
            // once with the same error.
            break;
        }
        if (received == 0) break;
        handled += static_cast<size_t>(received);
        proxy->receivedBytes.fetch_add(static_cast<uint64_t>(received), std::memory_order_acq_rel);
        // A press is a receive of the one byte alone; a byte within a stream of others is no press.
        if (received == 1 && buffer[0] == kWifiShutterByte) {
            CaptureState* state = proxy->viewer.load(std::memory_order_acquire);
            if (state != nullptr) state->shotPending.store(1, std::memory_order_release);
        }
    }
    return 0;
}

}  // namespace orvane
