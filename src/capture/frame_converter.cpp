#include "capture/frame_converter.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

extern "C" {
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}
#include <turbojpeg.h>

namespace orvane {

namespace {

enum class Route { None, Swscale, Jpeg, Rgb };

// Where the chroma of a YUV format lies behind its luma plane.
enum class Chroma {
    Packed,         // none: one plane
    Planar420,      // two planes of half the line and half the rows (YU12; YV12 with V first)
    Planar422,      // two planes of half the line, every row
    SemiPlanar420,  // one plane of interleaved U and V, the luma's line, half the rows
    SemiPlanar444,  // one plane of twice the luma's line, every row
};

struct FormatInfo {
    uint32_t pixelFormat;
    Route route;
    AVPixelFormat swsFormat;
    int bytesPerPixel;  // of the first plane
    bool evenWidth;     // chroma (or a Bayer cell) shared by two columns
    bool evenHeight;    // chroma (or a Bayer cell) shared by two rows
    Chroma chroma = Chroma::Packed;
    bool fullRange = false;  // luma-only cameras use the whole range of their samples
};

// The preferred formats first: those the cameras send most and that cost least to convert. The RGB
// formats are named by their bytes in memory, as FFmpeg names its own: V4L2's XBGR32 holds B, G, R,
// X (FFmpeg's BGR0), its RGB565 is little-endian.
constexpr FormatInfo kFormats[] = {
    {V4L2_PIX_FMT_MJPEG, Route::Jpeg, AV_PIX_FMT_NONE, 0, false, false},
    {V4L2_PIX_FMT_JPEG, Route::Jpeg, AV_PIX_FMT_NONE, 0, false, false},
    {V4L2_PIX_FMT_YUYV, Route::Swscale, AV_PIX_FMT_YUYV422, 2, true, false},
    {V4L2_PIX_FMT_UYVY, Route::Swscale, AV_PIX_FMT_UYVY422, 2, true, false},
    {V4L2_PIX_FMT_YVYU, Route::Swscale, AV_PIX_FMT_YVYU422, 2, true, false},
    {V4L2_PIX_FMT_YUV420, Route::Swscale, AV_PIX_FMT_YUV420P, 1, true, true, Chroma::Planar420},
    {V4L2_PIX_FMT_YVU420, Route::Swscale, AV_PIX_FMT_YUV420P, 1, true, true, Chroma::Planar420},
    {V4L2_PIX_FMT_NV12, Route::Swscale, AV_PIX_FMT_NV12, 1, true, true, Chroma::SemiPlanar420},
    {V4L2_PIX_FMT_NV21, Route::Swscale, AV_PIX_FMT_NV21, 1, true, true, Chroma::SemiPlanar420},
    {V4L2_PIX_FMT_YUV422P, Route::Swscale, AV_PIX_FMT_YUV422P, 1, true, false, Chroma::Planar422},
    {V4L2_PIX_FMT_NV24, Route::Swscale, AV_PIX_FMT_NV24, 1, false, false, Chroma::SemiPlanar444},
    {V4L2_PIX_FMT_NV42, Route::Swscale, AV_PIX_FMT_NV42, 1, false, false, Chroma::SemiPlanar444},
    {V4L2_PIX_FMT_BGR24, Route::Rgb, AV_PIX_FMT_NONE, 3, false, false},
    {V4L2_PIX_FMT_RGB24, Route::Rgb, AV_PIX_FMT_NONE, 3, false, false},
    {V4L2_PIX_FMT_GREY, Route::Swscale, AV_PIX_FMT_GRAY8, 1, false, false, Chroma::Packed, true},
    {V4L2_PIX_FMT_Y10, Route::Swscale, AV_PIX_FMT_GRAY10LE, 2, false, false, Chroma::Packed, true},
    {V4L2_PIX_FMT_Y12, Route::Swscale, AV_PIX_FMT_GRAY12LE, 2, false, false, Chroma::Packed, true},
    {V4L2_PIX_FMT_Y16, Route::Swscale, AV_PIX_FMT_GRAY16LE, 2, false, false, Chroma::Packed, true},
    {V4L2_PIX_FMT_Y16_BE, Route::Swscale, AV_PIX_FMT_GRAY16BE, 2, false, false, Chroma::Packed, true},
    {V4L2_PIX_FMT_XBGR32, Route::Swscale, AV_PIX_FMT_BGR0, 4, false, false},
    {V4L2_PIX_FMT_ABGR32, Route::Swscale, AV_PIX_FMT_BGR0, 4, false, false},
    {V4L2_PIX_FMT_BGR32, Route::Swscale, AV_PIX_FMT_BGR0, 4, false, false},
    {V4L2_PIX_FMT_XRGB32, Route::Swscale, AV_PIX_FMT_0RGB, 4, false, false},
    {V4L2_PIX_FMT_ARGB32, Route::Swscale, AV_PIX_FMT_0RGB, 4, false, false},
    {V4L2_PIX_FMT_RGB32, Route::Swscale, AV_PIX_FMT_0RGB, 4, false, false},
    {V4L2_PIX_FMT_RGBX32, Route::Swscale, AV_PIX_FMT_RGB0, 4, false, false},
    {V4L2_PIX_FMT_RGBA32, Route::Swscale, AV_PIX_FMT_RGB0, 4, false, false},
    {V4L2_PIX_FMT_BGRX32, Route::Swscale, AV_PIX_FMT_0BGR, 4, false, false},
    {V4L2_PIX_FMT_BGRA32, Route::Swscale, AV_PIX_FMT_0BGR, 4, false, false},
    {V4L2_PIX_FMT_RGB565, Route::Swscale, AV_PIX_FMT_RGB565LE, 2, false, false},
    {V4L2_PIX_FMT_RGB565X, Route::Swscale, AV_PIX_FMT_RGB565BE, 2, false, false},
    {V4L2_PIX_FMT_RGB555, Route::Swscale, AV_PIX_FMT_RGB555LE, 2, false, false},
    {V4L2_PIX_FMT_XRGB555, Route::Swscale, AV_PIX_FMT_RGB555LE, 2, false, false},
    {V4L2_PIX_FMT_ARGB555, Route::Swscale, AV_PIX_FMT_RGB555LE, 2, false, false},
    {V4L2_PIX_FMT_RGB555X, Route::Swscale, AV_PIX_FMT_RGB555BE, 2, false, false},
    {V4L2_PIX_FMT_XRGB555X, Route::Swscale, AV_PIX_FMT_RGB555BE, 2, false, false},
    {V4L2_PIX_FMT_ARGB555X, Route::Swscale, AV_PIX_FMT_RGB555BE, 2, false, false},
    {V4L2_PIX_FMT_XBGR555, Route::Swscale, AV_PIX_FMT_BGR555LE, 2, false, false},
    {V4L2_PIX_FMT_ABGR555, Route::Swscale, AV_PIX_FMT_BGR555LE, 2, false, false},
    {V4L2_PIX_FMT_RGB444, Route::Swscale, AV_PIX_FMT_RGB444LE, 2, false, false},
    {V4L2_PIX_FMT_XRGB444, Route::Swscale, AV_PIX_FMT_RGB444LE, 2, false, false},
    {V4L2_PIX_FMT_ARGB444, Route::Swscale, AV_PIX_FMT_RGB444LE, 2, false, false},
    {V4L2_PIX_FMT_XBGR444, Route::Swscale, AV_PIX_FMT_BGR444LE, 2, false, false},
    {V4L2_PIX_FMT_ABGR444, Route::Swscale, AV_PIX_FMT_BGR444LE, 2, false, false},
    {V4L2_PIX_FMT_RGB332, Route::Swscale, AV_PIX_FMT_RGB8, 1, false, false},
    {V4L2_PIX_FMT_SBGGR8, Route::Swscale, AV_PIX_FMT_BAYER_BGGR8, 1, true, true},
    {V4L2_PIX_FMT_SGBRG8, Route::Swscale, AV_PIX_FMT_BAYER_GBRG8, 1, true, true},
    {V4L2_PIX_FMT_SGRBG8, Route::Swscale, AV_PIX_FMT_BAYER_GRBG8, 1, true, true},
    {V4L2_PIX_FMT_SRGGB8, Route::Swscale, AV_PIX_FMT_BAYER_RGGB8, 1, true, true},
    {V4L2_PIX_FMT_SBGGR16, Route::Swscale, AV_PIX_FMT_BAYER_BGGR16LE, 2, true, true},
    {V4L2_PIX_FMT_SGBRG16, Route::Swscale, AV_PIX_FMT_BAYER_GBRG16LE, 2, true, true},
    {V4L2_PIX_FMT_SGRBG16, Route::Swscale, AV_PIX_FMT_BAYER_GRBG16LE, 2, true, true},
    {V4L2_PIX_FMT_SRGGB16, Route::Swscale, AV_PIX_FMT_BAYER_RGGB16LE, 2, true, true},
};

// Only the formats this libswscale reads count.
const FormatInfo* FindFormat(uint32_t pixelFormat) {
    for (const FormatInfo& info : kFormats) {
        if (info.pixelFormat != pixelFormat) continue;
        if (info.route == Route::Swscale && sws_isSupportedInput(info.swsFormat) == 0) return nullptr;
        return &info;
    }
    return nullptr;
}

bool IsBayer(AVPixelFormat format) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_BAYER) != 0;
}

// The chroma planes behind the luma plane of `line` bytes a row.
struct ChromaLayout {
    int planes = 0;
    size_t line = 0;
    bool rowsHalved = false;
};

ChromaLayout ChromaOf(Chroma chroma, size_t line) {
    switch (chroma) {
        case Chroma::Planar420:
            return {2, line / 2, true};
        case Chroma::Planar422:
            return {2, line / 2, false};
        case Chroma::SemiPlanar420:
            return {1, line, true};
        case Chroma::SemiPlanar444:
            return {1, line * 2, false};
        case Chroma::Packed:
            break;
    }
    return {};
}

// libjpeg fills what a cut frame lacks with grey and only warns: "Premature end of JPEG file" when
// the data ends before the end-of-image marker, "Corrupt JPEG data: premature end of data segment"
// when a marker (a camera's FF D9 right after a cut, say) comes where picture data was due. Other
// warnings, such as stray bytes before a marker, leave the picture whole.
bool WarnsOfMissingData(const char* message) {
    if (message == nullptr) return false;
    const std::string_view text(message);
    return text.find("remature end") != std::string_view::npos;
}

// A view frame may keep at most this share of the frame's pixels (so it saves at least 40 %) to be
// worth its own path.
constexpr int64_t kViewWorthPercent = 60;
// The decoder's quicker, slightly rougher ways, for frames only shown or only recorded.
constexpr int kQuickJpeg = TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE;

}  // namespace

CFrameConverter::CFrameConverter() = default;
CFrameConverter::~CFrameConverter() = default;

bool CFrameConverter::CanConvert(uint32_t pixelFormat) { return FindFormat(pixelFormat) != nullptr; }

std::vector<uint32_t> CFrameConverter::ConvertibleFormats() {
    std::vector<uint32_t> formats;
    for (const FormatInfo& info : kFormats) {
        if (FindFormat(info.pixelFormat) != nullptr) formats.push_back(info.pixelFormat);
    }
    return formats;
}

bool CFrameConverter::Configure(uint32_t format, int frameWidth, int frameHeight, uint32_t bytesPerLine) {
    pixelFormat = 0;
    width = height = 0;
    lineBytes = minimumSize = 0;
    sws.reset();
    scaler.reset();
    tail.clear();
    padded.clear();
    scaleSource.clear();
    scaleTarget.clear();
    viewSws.reset();
    viewSwsWidth = viewSwsHeight = 0;
    viewTarget.clear();

    const FormatInfo* info = FindFormat(format);
    if (info == nullptr || frameWidth <= 0 || frameHeight <= 0) return false;
    // Keeps 3 x width x height and every plane size well inside size_t and int arithmetic.
    if (frameWidth > kMaxSide || frameHeight > kMaxSide) return false;
    if ((info->evenWidth && frameWidth % 2 != 0) || (info->evenHeight && frameHeight % 2 != 0)) return false;

    const size_t rows = static_cast<size_t>(frameHeight);
    size_t line = 0;
    size_t needed = 0;
    if (info->route != Route::Jpeg) {
        const size_t tight = static_cast<size_t>(frameWidth) * info->bytesPerPixel;
        line = bytesPerLine == 0 ? tight : bytesPerLine;
        if (line < tight || line > tight + 65536) return false;
        const ChromaLayout chroma = ChromaOf(info->chroma, line);
        if (chroma.planes == 0) {
            needed = line * (rows - 1) + tight;
        } else {
            // Two planes of half the line each must add up to the line.
            if (chroma.planes == 2 && line % 2 != 0) return false;
            needed = line * rows + chroma.planes * chroma.line * (chroma.rowsHalved ? rows / 2 : rows);
        }
    }

    if (info->route == Route::Jpeg && !decoder) {
        decoder.reset(tjInitDecompress());
        if (!decoder) return false;
    }

    pixelFormat = format;
    width = frameWidth;
    height = frameHeight;
    lineBytes = line;
    minimumSize = needed;
    if (info->route == Route::Swscale) {
        if (!PrepareSwscaleTarget(info->swsFormat)) {
            sws.reset();
            pixelFormat = 0;
            return false;
        }
    }
    return true;
}

bool CFrameConverter::Convert(const uint8_t* data, size_t size, uint8_t* output, bool quick) {
    if (!IsConfigured() || data == nullptr || output == nullptr) return false;
    switch (FindFormat(pixelFormat)->route) {
        case Route::Swscale:
            return ConvertSwscale(data, size, output);
        case Route::Jpeg:
            return ConvertJpeg(data, size, width, height, TJFLAG_BOTTOMUP | (quick ? kQuickJpeg : 0), output);
        case Route::Rgb:
            return ConvertRgb(data, size, output);
        case Route::None:
            break;
    }
    return false;
}

bool CFrameConverter::ViewSize(int viewWidth, int viewHeight, int& viewFrameWidth, int& viewFrameHeight) const {
    if (!IsConfigured() || viewWidth <= 0 || viewHeight <= 0) return false;
    int w = width;
    int h = height;
    switch (FindFormat(pixelFormat)->route) {
        case Route::Jpeg:
            // The decoder's own scales that skip most of the work: 1/2, 1/4, 1/8.
            for (const int denominator : {2, 4, 8}) {
                const int scaledWidth = (width + denominator - 1) / denominator;
                const int scaledHeight = (height + denominator - 1) / denominator;
                if (scaledWidth < viewWidth || scaledHeight < viewHeight) break;
                w = scaledWidth;
                h = scaledHeight;
            }
            break;
        case Route::Swscale: {
            // Its Bayer converter does not scale.
            if (IsBayer(FindFormat(pixelFormat)->swsFormat)) return false;
            // The frame's shape, just covering the view.
            const double factor = std::max(static_cast<double>(viewWidth) / width,
                                           static_cast<double>(viewHeight) / height);
            if (factor >= 1.0) break;
            w = std::clamp(static_cast<int>(std::ceil(width * factor)), 1, width);
            h = std::clamp(static_cast<int>(std::ceil(height * factor)), 1, height);
            break;
        }
        case Route::Rgb:
        case Route::None:
            return false;
    }
    if (int64_t{w} * h * 100 > int64_t{width} * height * kViewWorthPercent) return false;
    viewFrameWidth = w;
    viewFrameHeight = h;
    return true;
}

bool CFrameConverter::ConvertForView(const uint8_t* data, size_t size, int viewWidth, int viewHeight,
                                     std::vector<uint8_t>& output, int& outputWidth, int& outputHeight) {
    if (data == nullptr) return false;
    int w = 0;
    int h = 0;
    if (!ViewSize(viewWidth, viewHeight, w, h)) return false;
    output.resize(static_cast<size_t>(w) * h * 3);
    const bool converted = FindFormat(pixelFormat)->route == Route::Jpeg
                               ? ConvertJpeg(data, size, w, h, TJFLAG_BOTTOMUP | kQuickJpeg, output.data())
                               : ConvertSwscaleForView(data, size, w, h, output.data());
    if (!converted) return false;
    outputWidth = w;
    outputHeight = h;
    return true;
}

bool CFrameConverter::ConvertSwscaleForView(const uint8_t* data, size_t size, int outputWidth, int outputHeight,
                                            uint8_t* output) {
    if (!viewSws || viewSwsWidth != outputWidth || viewSwsHeight != outputHeight) {
        const FormatInfo* info = FindFormat(pixelFormat);
        viewSws.reset(sws_getContext(width, height, info->swsFormat, outputWidth, outputHeight, AV_PIX_FMT_BGR24,
                                     SWS_FAST_BILINEAR, nullptr, nullptr, nullptr));
        if (!viewSws || (info->fullRange && !UseFullRange(viewSws.get()))) {
            viewSws.reset();
            return false;
        }
        viewSwsWidth = outputWidth;
        viewSwsHeight = outputHeight;
    }
    // Rows with room behind them, since the scaler may write a little past a row's end.
    const size_t outputLine = static_cast<size_t>(outputWidth) * 3;
    const size_t targetLine = outputLine + kTailPadding;
    viewTarget.resize(targetLine * outputHeight + kTailPadding);
    if (!RunSwscale(viewSws.get(), data, size, viewTarget.data(), targetLine, outputHeight)) return false;
    for (int row = 0; row < outputHeight; ++row) {
        std::memcpy(output + static_cast<size_t>(row) * outputLine, viewTarget.data() + row * targetLine, outputLine);
    }
    return true;
}

CFrameConverter::Planes CFrameConverter::PlanesOf(const uint8_t* data) const {
    Planes planes;
    size_t offsets[4] = {};
    planes.stride[0] = static_cast<int>(lineBytes);
    planes.count = 1;
    const ChromaLayout chroma = ChromaOf(FindFormat(pixelFormat)->chroma, lineBytes);
    const size_t chromaRows = static_cast<size_t>(chroma.rowsHalved ? height / 2 : height);
    for (int plane = 1; plane <= chroma.planes; ++plane) {
        offsets[plane] = lineBytes * height + (plane - 1) * chroma.line * chromaRows;
        planes.stride[plane] = static_cast<int>(chroma.line);
    }
    planes.count = 1 + chroma.planes;
    planes.chromaRowsHalved = chroma.rowsHalved;
    if (pixelFormat == V4L2_PIX_FMT_YVU420) std::swap(offsets[1], offsets[2]);
    if (data != nullptr) {
        for (int plane = 0; plane < planes.count; ++plane) planes.data[plane] = data + offsets[plane];
    }
    return planes;
}

bool CFrameConverter::ConvertSwscale(const uint8_t* data, size_t size, uint8_t* output) {
    const size_t outputLine = static_cast<size_t>(width) * 3;
    const size_t targetLine = padded.empty() ? outputLine : paddedLine;
    uint8_t* targetStart = padded.empty() ? output : padded.data();
    if (!RunSwscale(sws.get(), data, size, targetStart, targetLine, height)) return false;
    if (!padded.empty()) {
        for (int row = 0; row < height; ++row) {
            std::memcpy(output + row * outputLine, padded.data() + row * paddedLine, outputLine);
        }
    }
    return true;
}

bool CFrameConverter::RunSwscale(SwsContext* context, const uint8_t* data, size_t size, uint8_t* target,
                                 size_t targetLine, int targetHeight) {
    if (size < minimumSize) return false;
    const Planes planes = PlanesOf(data);

    // Writing from the last row upwards with a negative stride turns the picture bottom-up.
    uint8_t* const targets[4] = {target + static_cast<size_t>(targetHeight - 1) * targetLine, nullptr, nullptr,
                                 nullptr};
    const int targetStrides[4] = {-static_cast<int>(targetLine), 0, 0, 0};

    // The scaler reads a little past the end of a row, which past the last rows of the frame may be
    // past the end of the buffer; those rows go through a copy with room behind every plane.
    const int split = height - tailRows;
    int converted = 0;
    if (split > 0) converted += sws_scale(context, planes.data, planes.stride, 0, split, targets, targetStrides);
    const uint8_t* tailPlanes[4] = {};
    uint8_t* copy = tail.data();
    for (int plane = 0; plane < planes.count; ++plane) {
        const bool halved = plane > 0 && planes.chromaRowsHalved;
        const size_t first = static_cast<size_t>(halved ? split / 2 : split);
        const size_t rows = static_cast<size_t>(halved ? tailRows / 2 : tailRows);
        const size_t stride = static_cast<size_t>(planes.stride[plane]);
        // The last line of a frame need not carry the padding of the others: copy what was given.
        const size_t start = static_cast<size_t>(planes.data[plane] - data) + first * stride;
        const size_t wanted = rows * stride;
        const size_t given = start < size ? std::min(wanted, size - start) : 0;
        std::memcpy(copy, data + start, given);
        std::memset(copy + given, 0, wanted - given);
        tailPlanes[plane] = copy;
        copy += wanted + kTailPadding;
    }
    converted += sws_scale(context, tailPlanes, planes.stride, split, tailRows, targets, targetStrides);
    return converted == targetHeight;
}

bool CFrameConverter::UseFullRange(SwsContext* context) {
    int* inverse = nullptr;
    int* table = nullptr;
    int sourceRange = 0;
    int targetRange = 0;
    int brightness = 0;
    int contrast = 0;
    int saturation = 0;
    if (sws_getColorspaceDetails(context, &inverse, &sourceRange, &table, &targetRange, &brightness,
                                 &contrast, &saturation) < 0) {
        return false;
    }
    return sws_setColorspaceDetails(context, inverse, 1, table, targetRange, brightness, contrast,
                                    saturation) >= 0;
}

// Trial conversions of a uniform grey frame settle how this stream is converted. The scaler may
// write past the end of a row for some widths; written upwards, that would land in the row above,
// already done, so such a stream gets rows with room behind them. Its fast paths also leave the last
// pixels of a row unwritten at some widths; then the exact path has to do.
bool CFrameConverter::PrepareSwscaleTarget(int sourceFormat) {
    const auto source = static_cast<AVPixelFormat>(sourceFormat);
    const Planes layout = PlanesOf(nullptr);
    // Enough rows that a read running past the end of the frame's other rows stays in the copy.
    tailRows = 2;
    for (int plane = 0; plane < layout.count; ++plane) {
        const int stride = std::max(1, layout.stride[plane]);
        const int rows = (static_cast<int>(kTailPadding) + stride - 1) / stride;
        tailRows = std::max(tailRows, plane > 0 && layout.chromaRowsHalved ? rows * 2 : rows);
    }
    tailRows = std::min(height, (tailRows + 1) / 2 * 2);
    // Its Bayer converter takes a frame only in one slice: the whole frame goes through the copy.
    if (IsBayer(source)) tailRows = height;
    size_t tailSize = 0;
    for (int plane = 0; plane < layout.count; ++plane) {
        const int rows = plane > 0 && layout.chromaRowsHalved ? tailRows / 2 : tailRows;
        tailSize += static_cast<size_t>(rows) * layout.stride[plane] + kTailPadding;
    }
    tail.assign(tailSize, 0);

    const std::vector<uint8_t> trialFrame(minimumSize + kTailPadding, 0x80);
    constexpr size_t kGuard = 4096;
    constexpr uint8_t kCanary = 0xA5;
    std::vector<uint8_t> trialOutput(OutputSize() + 2 * kGuard, kCanary);
    uint8_t* const trialTarget = trialOutput.data() + kGuard;
    auto untouched = [](auto begin, auto end) {
        return std::all_of(begin, end, [](uint8_t byte) { return byte == kCanary; });
    };
    // The scaler's last rows round differently, by one.
    auto uniform = [&] {
        return std::all_of(trialTarget, trialTarget + OutputSize(), [&](const uint8_t& byte) {
            return std::abs(byte - trialTarget[(&byte - trialTarget) % 3]) <= 2;
        });
    };

    for (const int flags : {SWS_BILINEAR, SWS_BILINEAR | SWS_ACCURATE_RND}) {
        sws.reset(sws_getContext(width, height, source, width, height, AV_PIX_FMT_BGR24, flags, nullptr,
                                 nullptr, nullptr));
        if (!sws) return false;
        if (FindFormat(pixelFormat)->fullRange && !UseFullRange(sws.get())) return false;
        padded.clear();
        std::fill(trialOutput.begin(), trialOutput.end(), kCanary);
        if (!ConvertSwscale(trialFrame.data(), minimumSize, trialTarget)) return false;
        if (!untouched(trialOutput.begin(), trialOutput.begin() + kGuard) ||
            !untouched(trialOutput.end() - kGuard, trialOutput.end())) {
            paddedLine = static_cast<size_t>(width) * 3 + kTailPadding;
            padded.assign(paddedLine * height, 0);
            std::fill(trialOutput.begin(), trialOutput.end(), kCanary);
            if (!ConvertSwscale(trialFrame.data(), minimumSize, trialTarget)) return false;
        }
        if (uniform()) return true;
    }
    return false;
}

bool CFrameConverter::ConvertJpeg(const uint8_t* data, size_t size, int targetWidth, int targetHeight, int flags,
                                  uint8_t* output) {
    if (!decoder) return false;
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    int jpegWidth = 0;
    int jpegHeight = 0;
    int subsampling = 0;
    int colorspace = 0;
    const auto length = static_cast<unsigned long>(size);
    if (tjDecompressHeader3(decoder.get(), data, length, &jpegWidth, &jpegHeight, &subsampling,
                            &colorspace) != 0) {
        // A handle whose header read failed also fails the next frame, however sound; a fresh one
        // does not.
        ResetDecoder();
        return false;
    }
    // A frame of the stream's size decodes straight at the target's scale; any other goes the long way.
    if (jpegWidth != width || jpegHeight != height)
        return ConvertJpegScaled(data, length, jpegWidth, jpegHeight, targetWidth, targetHeight, output);
    return DecodeSucceeded(tjDecompress2(decoder.get(), data, length, output, targetWidth, targetWidth * 3,
                                         targetHeight, TJPF_BGR, flags));
}

// Some cameras send frames of another size than the one they agreed to (after a mode switch, or for
// every frame): such a frame is decoded at the smallest of the decoder's scales that still covers
// the stream's size, then scaled to it, so that every frame fits the stream.
bool CFrameConverter::ConvertJpegScaled(const uint8_t* data, unsigned long length, int jpegWidth,
                                        int jpegHeight, int targetWidth, int targetHeight, uint8_t* output) {
    if (jpegWidth <= 0 || jpegHeight <= 0 || jpegWidth > kMaxSide || jpegHeight > kMaxSide) return false;
    int decodedWidth = jpegWidth;
    int decodedHeight = jpegHeight;
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    for (int i = 0; factors != nullptr && i < count; ++i) {
        const int w = TJSCALED(jpegWidth, factors[i]);
        const int h = TJSCALED(jpegHeight, factors[i]);
        if (w >= targetWidth && h >= targetHeight && int64_t{w} * h < int64_t{decodedWidth} * decodedHeight) {
            decodedWidth = w;
            decodedHeight = h;
        }
    }
    const size_t sourceLine = static_cast<size_t>(decodedWidth) * 3 + kTailPadding;
    scaleSource.resize(sourceLine * decodedHeight + kTailPadding);
    if (!DecodeSucceeded(tjDecompress2(decoder.get(), data, length, scaleSource.data(), decodedWidth,
                                       static_cast<int>(sourceLine), decodedHeight, TJPF_BGR, 0))) {
        return false;
    }
    scaler.reset(sws_getCachedContext(scaler.release(), decodedWidth, decodedHeight, AV_PIX_FMT_BGR24, targetWidth,
                                      targetHeight, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler) return false;
    // Top-down into rows with room behind them, then turned bottom-up row by row.
    const size_t outputLine = static_cast<size_t>(targetWidth) * 3;
    const size_t targetLine = outputLine + kTailPadding;
    scaleTarget.resize(targetLine * targetHeight + kTailPadding);
    const uint8_t* const source[4] = {scaleSource.data(), nullptr, nullptr, nullptr};
    const int sourceStrides[4] = {static_cast<int>(sourceLine), 0, 0, 0};
    uint8_t* const target[4] = {scaleTarget.data(), nullptr, nullptr, nullptr};
    const int targetStrides[4] = {static_cast<int>(targetLine), 0, 0, 0};
    if (sws_scale(scaler.get(), source, sourceStrides, 0, decodedHeight, target, targetStrides) != targetHeight)
        return false;
    for (int row = 0; row < targetHeight; ++row) {
        std::memcpy(output + static_cast<size_t>(targetHeight - 1 - row) * outputLine,
                    scaleTarget.data() + static_cast<size_t>(row) * targetLine, outputLine);
    }
    return true;
}

bool CFrameConverter::DecodeSucceeded(int result) {
    if (result == 0) return true;
    if (tjGetErrorCode(decoder.get()) == TJERR_WARNING)
        return !WarnsOfMissingData(tjGetErrorStr2(decoder.get()));
    ResetDecoder();
    return false;
}

void CFrameConverter::ResetDecoder() {
    decoder.reset(tjInitDecompress());
    if (!decoder) pixelFormat = 0;  // out of memory: refuse frames until configured again
}

bool CFrameConverter::ConvertRgb(const uint8_t* data, size_t size, uint8_t* output) const {
    if (size < minimumSize) return false;
    const size_t outputLine = static_cast<size_t>(width) * 3;
    const bool swap = pixelFormat == V4L2_PIX_FMT_RGB24;
    for (int row = 0; row < height; ++row) {
        const uint8_t* source = data + static_cast<size_t>(row) * lineBytes;
        uint8_t* target = output + static_cast<size_t>(height - 1 - row) * outputLine;
        if (!swap) {
            std::memcpy(target, source, outputLine);
            continue;
        }
        for (size_t i = 0; i < outputLine; i += 3) {
            target[i] = source[i + 2];
            target[i + 1] = source[i + 1];
            target[i + 2] = source[i];
        }
    }
    return true;
}

}  // namespace orvane
