#include "dispatch/photo_saver.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/atomic_file.h"
#include "base/message_sink.h"
#include "base/text.h"
#include "base/thread_name.h"
#include "config/setting_param_manage.h"
#include "dispatch/grabber_owner.h"
#include "dispatch/scale_overlay.h"
#include "imaging/photo_writer.h"
#include "media/saving_loaction_manage.h"

namespace orvane {

namespace {

// How often a name that another program took meanwhile may move a photo on to the next number.
constexpr int kNameAttempts = 100;

}  // namespace

CPhotoSaver::CPhotoSaver(const PhotoSaverServices& services_) : services(services_) {}

CPhotoSaver::~CPhotoSaver() { Stop(); }

CSettingParamManage& CPhotoSaver::Settings() const {
    return services.settings != nullptr ? *services.settings : *CSettingParamManage::GetInstance();
}

CSavingLoactionManage& CPhotoSaver::Locations() const {
    return services.locations != nullptr ? *services.locations : *CSavingLoactionManage::GetInstance();
}

bool CPhotoSaver::Start(IGrabberOwner* owner_) {
    Stop();
    owner = owner_;
    try {
        worker = std::jthread([this](std::stop_token stop) { Run(stop); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CPhotoSaver::Stop() {
    if (!worker.joinable()) return;
    worker.request_stop();
    worker.join();
    worker = std::jthread();
}

bool CPhotoSaver::EnqueueSinglePhoto(const uint8_t* bits, int32_t width, int32_t height, bool postShotDone) {
    return Enqueue(Kind::Single, bits, width, height, postShotDone);
}

bool CPhotoSaver::EnqueueTimedShot(const uint8_t* bits, int32_t width, int32_t height) {
    return Enqueue(Kind::Timed, bits, width, height, false);
}

bool CPhotoSaver::Enqueue(Kind kind, const uint8_t* bits, int32_t width, int32_t height, bool postShotDone) {
    if (bits == nullptr || !worker.joinable()) return false;
    Request request;
    request.kind = kind;
    request.postShotDone = postShotDone;
    if (const CScaleOverlay* overlay = services.scale) {
        request.scale.metresPerPixel = overlay->MetresPerPixel();
        request.scale.unit = overlay->Unit();
        request.scale.drawBar = overlay->BurnIn();
    }
    request.frame = FrameBuffer::Create(width, height);
    if (request.frame.Empty()) return false;
    std::memcpy(request.frame.Bits(), bits, static_cast<size_t>(request.frame.Length()));
    {
        std::lock_guard<std::mutex> guard(queueLock);
        queue.push_back(std::move(request));
    }
    changed.notify_all();
    return true;
}

void CPhotoSaver::ClearTimedShotQueue() {
    std::deque<Request> dropped;
    {
        std::lock_guard<std::mutex> guard(queueLock);
        for (auto it = queue.begin(); it != queue.end();) {
            if (it->kind == Kind::Timed) {
                dropped.push_back(std::move(*it));
                it = queue.erase(it);
            } else {
                ++it;
            }
        }
    }
    changed.notify_all();
}

size_t CPhotoSaver::Pending() const {
    std::lock_guard<std::mutex> guard(queueLock);
    return queue.size();
}

size_t CPhotoSaver::PendingTimedShots() const {
    std::lock_guard<std::mutex> guard(queueLock);
    size_t count = 0;
    for (const Request& request : queue) count += request.kind == Kind::Timed;
    return count;
}

void CPhotoSaver::WaitIdle() const {
    std::unique_lock<std::mutex> guard(queueLock);
    changed.wait(guard, [this] { return queue.empty() && !busy; });
}

void CPhotoSaver::Run(std::stop_token stop) {
    NameThisThread("orv-saver");
    for (;;) {
        Request request;
        {
            std::unique_lock<std::mutex> guard(queueLock);
            // Once asked to end, what still waits is written before the thread returns.
            changed.wait(guard, stop, [this] { return !queue.empty(); });
            if (queue.empty()) return;
            request = std::move(queue.front());
            queue.pop_front();
            busy = true;
        }
        const std::string path = Save(request);
        if (!path.empty() && owner != nullptr) {
            if (IResourceWindow* window = owner->GetResourceWindow()) window->AddSavedFile(path);
        }
        if (owner != nullptr) {
            if (request.postShotDone) owner->PostViewerMessage(WM_SHOT_DONE);
            if (request.kind == Kind::Timed && path.empty()) {
                owner->PostViewerMessage(WM_TIMED_SHOT_END);
                ClearTimedShotQueue();
            }
        }
        {
            std::lock_guard<std::mutex> guard(queueLock);
            busy = false;
        }
        changed.notify_all();
    }
}

std::string CPhotoSaver::Save(const Request& request) {
    const CSettingParam param = Settings().GetUsingParam();
    CSavingLoactionManage& locations = Locations();
    const bool timed = request.kind == Kind::Timed;
    const std::string folder = timed ? param.GetTimedShotsFolder() : param.GetSingleShotsFolder();
    auto nextPath = [&](std::string& path) {
        return timed ? locations.GetTimedShotPath(folder, path) : locations.GetSingleShotPath(folder, path);
    };

    std::string path;
    if (!nextPath(path)) return {};
    const FrameBuffer& frame = request.frame;
    const CaptureResolution size = PhotoSize(&Settings(), frame.Width(), frame.Height());
    std::vector<unsigned char> jpeg;
    std::string reason;
    if (EncodePhoto(frame.Bits(), frame.Width(), frame.Height(), size.width, size.height, jpeg, reason,
                    request.scale) != S_OK) {
        if (!reason.empty()) ShowSaveFailure(path, reason, services.strings);
        return {};
    }

    CAtomicFile file;
    int error = file.CreateBeside(path);
    if (error == 0) error = file.Write(jpeg.data(), jpeg.size());
    for (int attempt = 0; error == 0 && attempt < kNameAttempts; ++attempt) {
        error = file.CommitNew(path);
        if (error == 0) return path;
        if (error != EEXIST) break;
        // Another program's file took the name meanwhile: the next number is free of it.
        std::string next;
        if (!nextPath(next) || next == path) break;
        path = std::move(next);
        error = 0;
    }
    ShowSaveFailure(path, SystemErrorText(error != 0 ? error : EEXIST), services.strings);
    return {};
}

}  // namespace orvane
