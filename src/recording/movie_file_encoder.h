#pragma once

#include <cstdint>
#include <string>

#include "base/av_handles.h"

namespace orvane {

// What tells the movie containers apart; the video is MPEG-4 (AV_CODEC_ID_MPEG4) in each.
struct MovieContainer {
    const char* extension;     // appended to the path by Start, e.g. ".avi"
    const char* formatName;    // the muxer, as av_guess_format knows it
    uint32_t codecTag;         // 0 leaves the tag to the muxer
    const char* muxerOptions;  // "key=value:key=value" for the muxer, or ""
};

// Encodes BGR24 frames of one size, bottom row first, into one movie file. Not thread-safe: one
// thread at a time, in the order Open, Encode..., Finish.
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

    // Opens the encoder for width x height at framesPerSecond and creates the file with its header.
    // On failure `errorText` is "Codec not found", "Codec not open codec" or "Cannot open file",
    // everything is released again and no half-written file stays behind.
    bool Open(const std::string& fileName, const MovieContainer& container, int32_t width, int32_t height,
              int32_t framesPerSecond, std::string& errorText);

    // Converts one frame upright to YUV 4:2:0, encodes it with `pts` in units of 1 / framesPerSecond
    // and writes the packets. The pts must grow from call to call.
    EncodeResult Encode(int64_t pts, const uint8_t* bgrBottomUp);

    // Drains the encoder, writes the trailer and closes the file. 0 or a negative AVERROR.
    int Finish();

    // Short text for an AVERROR code.
    static std::string ErrorText(int error);

private:
    int WritePackets(EncodeResult& result);

    AvOutputContext format;  // owns the file (pb) while open
    AvCodecContextPtr codec;
    AvFramePtr picture;
    AvPacketPtr packet;
    SwsContextPtr converter;
    AVStream* stream = nullptr;  // owned by format
    int32_t width = 0;
    int32_t height = 0;
};

}  // namespace orvane
