#include "recording/ffmpeg_output.h"

namespace orvane {

namespace {

// A plain MP4 keeps its only index (moov) for the very end: a full disk or a crash would leave
// nothing playable. Fragments carry their own index from keyframe to keyframe instead, so a movie
// cut short loses at most its last fragment.
constexpr MovieContainer kMp4{".mp4", "mp4", 0, "movflags=frag_keyframe+empty_moov"};

}  // namespace

FFMPEGOutput::FFMPEGOutput() : FFMPEGOutputBase(kMp4) {}

}  // namespace orvane
