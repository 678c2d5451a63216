#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/av_handles.h"
#include "base/turbojpeg_handles.h"

namespace orvane {

// Turns the buffers a camera delivers into the frames every consumer sees: BGR24, rows bottom-up
// (the first row in memory is the bottom of the picture), stride 3 x width.
//
// Packed and planar YUV, grey, Bayer and the other RGB layouts go through libswscale, MJPG through
// TurboJPEG, BGR24 and RGB24 are copied row by row. One converter serves one stream; it is not thread-safe,
// the capture thread owns it.
class CFrameConverter {
public:
    CFrameConverter();
    ~CFrameConverter();

    CFrameConverter(const CFrameConverter&) = delete;
    CFrameConverter& operator=(const CFrameConverter&) = delete;

    // Whether frames of this V4L2 pixel format (V4L2_PIX_FMT_...) can be converted.
    static bool CanConvert(uint32_t pixelFormat);
    // Every V4L2 pixel format CanConvert accepts, the preferred ones first.
    static std::vector<uint32_t> ConvertibleFormats();

    // Prepares the conversion of a stream; for the YUV formats it converts a trial frame, so it costs
    // about as much as one frame. bytesPerLine is the driver's line length of the first plane
    // (0 = tightly packed). Returns false, leaving the converter unconfigured, for a format it
    // cannot convert, a size of zero, an odd size where the format's chroma needs an even one, or a
    // size that does not fit the line length.
    bool Configure(uint32_t pixelFormat, int width, int height, uint32_t bytesPerLine = 0);

    bool IsConfigured() const { return pixelFormat != 0; }
    int Width() const { return width; }
    int Height() const { return height; }
    // Bytes Convert writes: 3 x width x height.
    size_t OutputSize() const { return static_cast<size_t>(width) * height * 3; }

    // Converts one captured buffer of `size` used bytes into `output` (OutputSize() bytes). Reads
    // nothing beyond those bytes. Returns false, with the output in an undefined state, when the frame
    // cannot be used: too short for the format, or a JPEG that the decoder cannot read or reports as
    // cut short (also when only warned of). A JPEG of another size than the stream's is scaled to
    // it. The caller drops a refused frame and goes on with the next one. `quick` lets an MJPG frame
    // that only goes into a movie take the decoder's quicker, slightly rougher ways.
    bool Convert(const uint8_t* data, size_t size, uint8_t* output, bool quick = false);

    // The size a frame only shown in a view of viewWidth x viewHeight pixels is converted to: the
    // smallest that still covers the view, keeping the frame's shape. MJPG goes by the decoder's own
    // scales (1/2, 1/4, 1/8), the swscale formats to the exact size. False when no smaller size
    // helps (the view is about as large as the frame, a format copied as it is, a view of no size).
    bool ViewSize(int viewWidth, int viewHeight, int& viewFrameWidth, int& viewFrameHeight) const;

    // Converts one captured buffer for a view, as Convert does (BGR24, rows bottom-up, the same checks
    // on the frame), into a frame of the size ViewSize gave for this view: `output` is resized to it.
    // False for a frame Convert would refuse, and when ViewSize gives no smaller size.
    bool ConvertForView(const uint8_t* data, size_t size, int viewWidth, int viewHeight,
                        std::vector<uint8_t>& output, int& outputWidth, int& outputHeight);

private:
    struct Planes {
        const uint8_t* data[4] = {};
        int stride[4] = {};
        int count = 0;
        bool chromaRowsHalved = false;  // 4:2:0: one chroma row for two luma rows
    };
    // Room behind each plane of the tail copy and each row of the padded target.
    static constexpr size_t kTailPadding = 128;
    // The largest side of a stream, or of a JPEG in it; keeps every size well inside int arithmetic.
    static constexpr int kMaxSide = 16384;

    Planes PlanesOf(const uint8_t* data) const;
    bool PrepareSwscaleTarget(int sourceFormat);  // an AVPixelFormat
    // Makes `context` read samples over their whole range (0 = black, the largest value = white).
    static bool UseFullRange(SwsContext* context);
    bool ConvertSwscale(const uint8_t* data, size_t size, uint8_t* output);
    // Runs `context` over a whole frame, writing targetHeight rows bottom-up from `target` on, each
    // targetLine bytes long; the last rows go through the tail copy.
    bool RunSwscale(SwsContext* context, const uint8_t* data, size_t size, uint8_t* target, size_t targetLine,
                    int targetHeight);
    bool ConvertSwscaleForView(const uint8_t* data, size_t size, int outputWidth, int outputHeight,
                               uint8_t* output);
    // Decodes a JPEG bottom-up into targetWidth x targetHeight (the stream's size or a scale of it)
    // with TurboJPEG `flags`.
    bool ConvertJpeg(const uint8_t* data, size_t size, int targetWidth, int targetHeight, int flags,
                     uint8_t* output);
    // Decodes a JPEG at the smallest of the decoder's scales that covers targetWidth x targetHeight and
    // scales it to exactly that size, bottom-up into `output`.
    bool ConvertJpegScaled(const uint8_t* data, unsigned long length, int jpegWidth, int jpegHeight,
                           int targetWidth, int targetHeight, uint8_t* output);
    // Whether the last decode gave a whole picture: no error, and no warning of missing data.
    bool DecodeSucceeded(int result);
    bool ConvertRgb(const uint8_t* data, size_t size, uint8_t* output) const;
    void ResetDecoder();

    uint32_t pixelFormat = 0;
    int width = 0;
    int height = 0;
    size_t lineBytes = 0;    // line length of the first plane
    size_t minimumSize = 0;  // bytes an uncompressed frame needs
    SwsContextPtr sws;
    int tailRows = 0;  // the last rows, converted from `tail`
    std::vector<uint8_t> tail;
    size_t paddedLine = 0;
    std::vector<uint8_t> padded;  // bottom-up target with room after every row; empty when not needed
    TjHandle decoder;
    SwsContextPtr scaler;              // JPEGs of another size to the stream's
    std::vector<uint8_t> scaleSource;  // such a JPEG decoded, top-down, rows with room behind them
    std::vector<uint8_t> scaleTarget;  // scaled to the stream's size, the same way
    SwsContextPtr viewSws;             // the swscale formats straight to a view's size
    int viewSwsWidth = 0;
    int viewSwsHeight = 0;
    std::vector<uint8_t> viewTarget;  // rows with room behind them for viewSws
};

}  // namespace orvane
