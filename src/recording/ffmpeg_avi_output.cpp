#include "recording/ffmpeg_avi_output.h"

namespace orvane {

namespace {

constexpr uint32_t kXvidTag = 'X' | ('V' << 8) | ('I' << 16) | (static_cast<uint32_t>('D') << 24);

// Each packet goes to the file as it is encoded; a file cut short lacks only its index, which
// readers rebuild by scanning.
constexpr MovieContainer kAvi{".avi", "avi", kXvidTag, ""};

}  // namespace

FFMPEGAVIOutput::FFMPEGAVIOutput() : FFMPEGOutputBase(kAvi) {}

}  // namespace orvane
