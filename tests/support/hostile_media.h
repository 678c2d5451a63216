#pragma once

#include <cstdint>
#include <string>

namespace orvane::test {

// Small files that cost a careless thumbnail maker seconds and gigabytes. Each is made here, byte by
// byte, so that the tests need no sample files and show what each one claims.

// A progressive JPEG of a few hundred bytes whose frame header claims 65500 x 65500.
std::string ProgressiveJpegClaiming(int width, int height);
// An MP4 of under a kilobyte whose single video track claims `samples` samples of one byte each, all
// in one chunk: the MP4 reader builds an index entry for every one while it opens the file.
std::string Mp4ClaimingSamples(uint32_t samples);
// An AVI with one MJPEG frame: its headers claim headerWidth x headerHeight, the frame's own header
// frameWidth x frameHeight; the frame's data is that of a 16 x 16 picture.
std::string MjpegAvi(int headerWidth, int headerHeight, int frameWidth, int frameHeight);
// A JPEG of a flat colour (BGR) with `scans` copies of its last scan, so that it holds that many more.
std::string JpegWithExtraScans(int scans);
// Makes `path` a file of `bytes` bytes that takes no room on disk (a hole from start to end).
bool MakeSparseFile(const std::string& path, int64_t bytes);

}  // namespace orvane::test
