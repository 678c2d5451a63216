#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "base/singleton.h"
#include "base/video_frame.h"

namespace orvane {

// The turns and mirrors the user can give, as seen on screen (the top of the picture is the last row
// of the bottom-up frame). Any other value stands for "no change".
enum class RotateOp : int32_t {
    RotateRight90 = 1,   // quarter turn clockwise
    RotateLeft90 = 2,    // quarter turn counter-clockwise
    Rotate180 = 3,       // half turn
    FlipVertical = 4,    // top and bottom exchanged
    FlipHorizontal = 5,  // left and right exchanged
};

// The processor extensions the pixel work may use, where the processor has them. The fastest are used
// by default; tests lower the limit to check every variant.
enum class PixelKernels : int32_t { Portable = 0, Ssse3 = 1, Avx2 = 2 };
void SetPixelKernelLimit(PixelKernels limit);

// The list of rotate and flip commands of the current preview, applied in order to every frame. A
// frame keeps its width and height: when the commands add up to a quarter turn of a non-square
// frame, the turned picture is squeezed (bilinear) into a square of the shorter side, centred, with
// black bands filling the rest.
class RotateSampleImp : public KORU::Singleton<RotateSampleImp> {
    friend class KORU::Singleton<RotateSampleImp>;

public:
    // An empty list. Tests build their own; the program uses GetInstance().
    RotateSampleImp() = default;
    virtual ~RotateSampleImp() = default;

    // Appends one command at the tail. Interface thread.
    void AddOperation(RotateOp op);
    // Empties the list, so the next preview starts unturned. Interface thread.
    void ClearOperations();
    // Number of commands in the list. Any thread; a frame needs turning only when this is non-zero.
    int32_t GetOperationCount() const;

    // Turns the width x height frame at bits in place by a copy of the list taken at the start, so
    // commands given meanwhile apply from the next frame on. bits must hold 3 x width x height bytes.
    // Returns false, leaving the frame as it was, for a missing frame, a size that is not positive or
    // too large, or when memory for the work buffer is short. Any thread, also several at once; a
    // thread reuses its own work buffer from call to call.
    bool RotateFrame(uint8_t* bits, int32_t width, int32_t height);
    // The same for a frame that carries its length; a frame shorter than its size says is left alone.
    bool RotateFrame(const VideoFrame& frame);

private:
    mutable std::mutex operationsLock;  // guards operations
    std::vector<RotateOp> operations;
};

}  // namespace orvane
