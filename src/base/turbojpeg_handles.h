#pragma once

#include <turbojpeg.h>

#include <memory>

namespace orvane {

// Owning pointers for TurboJPEG's objects. Only code that links TurboJPEG includes this header.

struct TjHandleDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
// A compressor or decompressor from tjInitCompress / tjInitDecompress.
using TjHandle = std::unique_ptr<void, TjHandleDeleter>;

struct TjBufferDeleter {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};
// A buffer from tjAlloc, or one the compressor grew.
using TjBuffer = std::unique_ptr<unsigned char, TjBufferDeleter>;

}  // namespace orvane
