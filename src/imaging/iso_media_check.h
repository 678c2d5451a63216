#pragma once

#include <cstdint>

namespace orvane {

// A look at the box structure of an ISO base media file (MP4, MOV, 3GP) before FFmpeg reads it. The
// MP4 reader builds its sample index in memory while it opens the file, with no way to interrupt it: a
// few hundred bytes claiming a hundred million samples make it fill gigabytes for seconds. This check
// adds up what the sample tables, run boxes and edit lists claim, reading only box headers and the
// table headers, and refuses a file that claims more than `maxSamples` samples.
//
// Returns true for a file that is within the limits or is no ISO media file at all (others judge it);
// false for one that claims too much or whose boxes do not fit together.
bool IsoMediaWithinLimits(int fd, int64_t fileSize, uint64_t maxSamples);

}  // namespace orvane
