#pragma once

#include <cstdint>
#include <string>

#include "base/av_handles.h"
#include "base/frame_rate.h"

namespace orvane {

// What tells the movie containers apart; the video is MPEG-4 (AV_CODEC_ID_MPEG4) in each.
struct MovieContainer {
    const char* extension;     // appended to the path by Start, e.g. ".avi"
    const char* formatName;    // the muxer, as av_guess_format knows it
    uint32_t codecTag;         // 0 leaves the tag to the muxer
    const char* muxerOptions;  // "key=value:key=value" for the muxer, or ""
};

// Encodes frames of one size into one movie file. Not thread-safe: one thread at a time, in the order
// Open, Encode..., Finish; ConvertFrame may run on any thread.
class MovieFileEncoder {
public:
    struct EncodeResult {
        uint64_t packetBytes = 0;  // sizes of the packets the encoder produced, written or not
        int writeError = 0;        // negative AVERROR once the file can no longer be written
    };

    MovieFileEncoder();
    ~MovieFileEncoder();  // releases everything; a file left open is not finished

    MovieFileEncoder(const MovieFileEncoder&) = delete;
    MovieFileEncoder& operator=(const MovieFileEncoder&) = delete;

    // Opens the encoder for width x height at `rate` (its time base is one frame period, reduced to
    // what MPEG-4 video can carry) and creates the file with its header.
    // On failure `errorText` is "Codec not found", "Codec not open codec" or "Cannot open file",
    // everything is released again and no half-written file stays behind.
    bool Open(const std::string& fileName, const MovieContainer& container, int32_t width, int32_t height,
              FrameRate rate, std::string& errorText);

    // Turns a width x height BGR24 frame, bottom row first, upright into the YUV 4:2:0 picture the
    // encoder takes. `picture` is reused when it is of that size and no encoder still reads it, else
    // made afresh. False, with `picture` empty, when memory is short.
    static bool ConvertFrame(const uint8_t* bgrBottomUp, int32_t width, int32_t height, AvFramePtr& picture);

    // Encodes a picture of the opened size made by ConvertFrame, with `pts` in frame periods, and writes
    // the packets. The pts must grow from call to call.
    EncodeResult Encode(int64_t pts, AVFrame& picture);

    // Drains the encoder, writes the trailer and closes the file. 0 or a negative AVERROR.
    int Finish();

    // Short text for an AVERROR code.
    static std::string ErrorText(int error);

private:
    int WritePackets(EncodeResult& result);

    AvOutputContext format;  // owns the file (pb) while open
    AvCodecContextPtr codec;
    AvPacketPtr packet;
    AVStream* stream = nullptr;  // owned by format
    int32_t width = 0;
    int32_t height = 0;
};

}  // namespace orvane
