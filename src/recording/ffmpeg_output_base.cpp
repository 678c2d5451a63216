#include "recording/ffmpeg_output_base.h"

#include <algorithm>
#include <cmath>

#include "base/clock.h"
#include "base/thread_name.h"

namespace orvane {

namespace {

// Pictures kept for reuse: spares of a few megabytes each spare the streaming thread fresh pages.
constexpr size_t kSpareBuffers = 3;

}  // namespace

FFMPEGOutputBase::FFMPEGOutputBase(const MovieContainer& container) : container(container) {}

FFMPEGOutputBase::~FFMPEGOutputBase() { Close(); }

void FFMPEGOutputBase::Start(const std::string& path, FrameRate rate) {
    Close();
    fileName = path + container.extension;
    frameRate = rate;
    opened = false;
    lastPts = -1;
    basePts = -1;
    writtenBytes.store(0);
    writeError.store(0);
    SetErrorText("");
    {
        std::lock_guard<std::mutex> guard(textLock);
        closeErrorText.clear();
    }
    {
        std::lock_guard<std::mutex> guard(queueLock);
        stop = false;
    }
    running = true;
    worker = std::thread(&FFMPEGOutputBase::WorkerLoop, this);
}

int32_t FFMPEGOutputBase::Close() {
    {
        std::lock_guard<std::mutex> guard(queueLock);
        stop = true;
    }
    queueChanged.notify_all();
    if (worker.joinable()) worker.join();
    running = false;

    int32_t result = 0;
    if (opened) {
        const int finished = encoder->Finish();
        encoder.reset();
        opened = false;
        // The first failure is the one the user can act on (the disk filled during the recording);
        // the trailer then fails for the same reason.
        const int duringRecording = writeError.load(std::memory_order_acquire);
        result = duringRecording < 0 ? duringRecording : finished;
        if (result < 0) {
            std::lock_guard<std::mutex> guard(textLock);
            closeErrorText = MovieFileEncoder::ErrorText(result);
        }
    }
    std::lock_guard<std::mutex> guard(queueLock);
    frameQueue.clear();
    sparePictures.clear();
    return result;
}

int32_t FFMPEGOutputBase::WriteFrame(int32_t width, int32_t height, const uint8_t* bits,
                                     int32_t bitsPerPixel, double sampleTime) {
    if (!running) return 0;
    if (!opened && !OpenOutput(width, height)) return -1;
    if (const int error = writeError.load(std::memory_order_acquire); error < 0) {
        SetErrorText("Cannot write file: " + MovieFileEncoder::ErrorText(error));
        return -1;
    }
    // The encoder reads frames of the opened size: anything else would be read past its end.
    if (bits == nullptr || bitsPerPixel != 24 || width != sourceWidth || height != sourceHeight) return 0;
    const int64_t pts = FramePts(sampleTime);
    if (pts <= lastPts) return 0;

    AvFramePtr picture;
    {
        std::lock_guard<std::mutex> guard(queueLock);
        if (frameQueue.size() >= kMaxWaitingFrames) return 0;
        if (!sparePictures.empty()) {
            picture = std::move(sparePictures.back());
            sparePictures.pop_back();
        }
    }
    // This thread is the only producer, so the queue can only have shrunk during the conversion.
    if (!MovieFileEncoder::ConvertFrame(bits, width, height, picture)) return 0;
    {
        std::lock_guard<std::mutex> guard(queueLock);
        frameQueue.push_back(PendingFrame{pts, std::move(picture)});
    }
    queueChanged.notify_one();
    lastPts = pts;
    return 0;
}

std::string FFMPEGOutputBase::GetFileName() const { return fileName; }

uint64_t FFMPEGOutputBase::GetWrittenBytes() const { return writtenBytes.load(std::memory_order_acquire); }

std::string FFMPEGOutputBase::GetErrorText() const {
    std::lock_guard<std::mutex> guard(textLock);
    return errorText;
}

std::string FFMPEGOutputBase::GetCloseErrorText() const {
    std::lock_guard<std::mutex> guard(textLock);
    return closeErrorText;
}

void FFMPEGOutputBase::EncodeFrame(int64_t pts, AVFrame& picture) {
    const MovieFileEncoder::EncodeResult result = encoder->Encode(pts, picture);
    writtenBytes.fetch_add(result.packetBytes, std::memory_order_acq_rel);
    if (result.writeError < 0) writeError.store(result.writeError, std::memory_order_release);
}

bool FFMPEGOutputBase::OpenOutput(int32_t width, int32_t height) {
    auto newEncoder = std::make_unique<MovieFileEncoder>();
    std::string text;
    if (!newEncoder->Open(fileName, container, width, height, frameRate, text)) {
        SetErrorText(text);
        return false;
    }
    // The worker first touches the encoder after taking a frame from the queue, which orders it
    // after this assignment.
    encoder = std::move(newEncoder);
    sourceWidth = width;
    sourceHeight = height;
    startMs = NowMs();
    opened = true;
    SetErrorText("");
    return true;
}

// The frame's arrival since the file was opened, in frames, halves away from zero; or, for a frame
// the driver stamped, its distance from the first stamped frame in the camera's own time. A camera
// clock that jumps or drifts a second away from the arrivals is taken afresh from this frame.
int64_t FFMPEGOutputBase::FramePts(double sampleTime) {
    const double seconds = static_cast<double>(NowMs() - startMs) / 1000.0;
    const double rate = frameRate.PerSecond();
    const auto arrival = static_cast<int64_t>(std::clamp(std::round(seconds * rate), -1e18, 1e18));
    if (!(sampleTime > 0.0) || !std::isfinite(sampleTime) || rate <= 0.0) return arrival;
    if (basePts >= 0) {
        const double frames = std::round((sampleTime - baseSampleTime) * rate);
        if (std::isfinite(frames) && std::abs(frames + static_cast<double>(basePts - arrival)) <= rate) {
            return basePts + static_cast<int64_t>(frames);
        }
    }
    baseSampleTime = sampleTime;
    basePts = std::max(arrival, lastPts + 1);
    return basePts;
}

void FFMPEGOutputBase::WorkerLoop() {
    NameThisThread("orv-record");
    for (;;) {
        PendingFrame frame;
        {
            std::unique_lock<std::mutex> lock(queueLock);
            queueChanged.wait(lock, [this] { return stop || !frameQueue.empty(); });
            if (frameQueue.empty()) return;  // stopped, and every frame is done
            frame = std::move(frameQueue.front());
            frameQueue.pop_front();
        }
        // Once the file stopped taking data, encoding more would only keep the queue busy.
        if (writeError.load(std::memory_order_acquire) == 0) EncodeFrame(frame.pts, *frame.picture);
        std::lock_guard<std::mutex> guard(queueLock);
        if (sparePictures.size() < kSpareBuffers) sparePictures.push_back(std::move(frame.picture));
    }
}

void FFMPEGOutputBase::SetErrorText(std::string text) {
    std::lock_guard<std::mutex> guard(textLock);
    errorText = std::move(text);
}

}  // namespace orvane
