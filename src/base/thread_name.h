#pragma once

namespace orvane {

// Names the calling thread for `top -H`, debuggers and crash reports ("orv-capture", "orv-saver", ...).
// The kernel keeps at most 15 bytes; longer names are cut.
void NameThisThread(const char* name);

}  // namespace orvane
