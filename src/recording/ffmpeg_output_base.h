#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "recording/movie_file_encoder.h"
#include "recording/video_output.h"

namespace orvane {

// The recording output both containers share: WriteFrame stamps a frame and converts it into the
// encoder's picture format in a short queue (the conversion costs what a copy would), a worker encodes
// and writes it.
//
// A frame is dropped (WriteFrame still returns 0) when 11 frames are already waiting, when its size
// differs from the first frame's, or when its timestamp does not exceed the one before it: frames
// that arrive faster than the frame rate would otherwise share a timestamp, which the muxers refuse.
// Frames are stamped by when the camera made them, where the driver says so: a frame that reaches the
// recording late (a busy machine) keeps its place instead of sharing one with the next.
class FFMPEGOutputBase : public IVideoOutput {
public:
    static constexpr size_t kMaxWaitingFrames = 11;

    ~FFMPEGOutputBase() override;  // closes the output if it still runs

    void Start(const std::string& path, FrameRate rate) override;
    int32_t Close() override;
    int32_t WriteFrame(int32_t width, int32_t height, const uint8_t* bits, int32_t bitsPerPixel,
                       double sampleTime = 0.0) override;
    std::string GetFileName() const override;
    uint64_t GetWrittenBytes() const override;
    std::string GetErrorText() const override;
    std::string GetCloseErrorText() const override;

protected:
    explicit FFMPEGOutputBase(const MovieContainer& container);

    // Worker thread: encodes and writes one accepted frame (pts in frame periods, the picture as
    // MovieFileEncoder::ConvertFrame made it). Called for every accepted frame, oldest first, until the
    // file cannot be written. A class that overrides it must Close() before it is destroyed.
    virtual void EncodeFrame(int64_t pts, AVFrame& picture);

private:
    struct PendingFrame {
        int64_t pts = 0;
        AvFramePtr picture;
    };

    bool OpenOutput(int32_t width, int32_t height);
    // The frame's place in the movie, in frame periods since the file was opened.
    int64_t FramePts(double sampleTime);
    void WorkerLoop();
    void SetErrorText(std::string text);

    const MovieContainer container;
    std::string fileName;
    FrameRate frameRate;

    // Streaming thread only (and Start and Close, which never overlap WriteFrame).
    bool running = false;  // between Start and Close
    bool opened = false;
    int64_t startMs = 0;
    int32_t sourceWidth = 0;
    int32_t sourceHeight = 0;
    int64_t lastPts = -1;
    // The camera's clock against the movie's: the sample time of a frame and the pts it was given.
    double baseSampleTime = 0.0;
    int64_t basePts = -1;
    std::unique_ptr<MovieFileEncoder> encoder;  // used by the worker between open and Close

    mutable std::mutex queueLock;  // guards frameQueue, sparePictures and stop
    std::condition_variable queueChanged;
    std::deque<PendingFrame> frameQueue;
    std::vector<AvFramePtr> sparePictures;  // pictures of the opened size, for reuse
    bool stop = false;
    std::thread worker;

    std::atomic<uint64_t> writtenBytes{0};
    std::atomic<int> writeError{0};  // set by the worker when the file stopped taking data

    mutable std::mutex textLock;  // guards errorText and closeErrorText
    std::string errorText;
    std::string closeErrorText;
};

}  // namespace orvane
