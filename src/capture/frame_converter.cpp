#include "capture/frame_converter.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}
#include <turbojpeg.h>

namespace orvane {

namespace {

enum class Route { None, Swscale, Jpeg, Rgb };

struct FormatInfo {
    uint32_t pixelFormat;
    Route route;
    AVPixelFormat swsFormat;
    int bytesPerPixel;  // of the first plane
    bool evenWidth;     // chroma shared by two columns
    bool evenHeight;    // chroma shared by two rows
};

// The preferred formats first: those the cameras send most and that cost least to convert.
constexpr FormatInfo kFormats[] = {
    {V4L2_PIX_FMT_MJPEG, Route::Jpeg, AV_PIX_FMT_NONE, 0, false, false},
    {V4L2_PIX_FMT_JPEG, Route::Jpeg, AV_PIX_FMT_NONE, 0, false, false},
    {V4L2_PIX_FMT_YUYV, Route::Swscale, AV_PIX_FMT_YUYV422, 2, true, false},
    {V4L2_PIX_FMT_UYVY, Route::Swscale, AV_PIX_FMT_UYVY422, 2, true, false},
    {V4L2_PIX_FMT_YVYU, Route::Swscale, AV_PIX_FMT_YVYU422, 2, true, false},
    {V4L2_PIX_FMT_YUV420, Route::Swscale, AV_PIX_FMT_YUV420P, 1, true, true},
    {V4L2_PIX_FMT_YVU420, Route::Swscale, AV_PIX_FMT_YUV420P, 1, true, true},
    {V4L2_PIX_FMT_NV12, Route::Swscale, AV_PIX_FMT_NV12, 1, true, true},
    {V4L2_PIX_FMT_NV21, Route::Swscale, AV_PIX_FMT_NV21, 1, true, true},
    {V4L2_PIX_FMT_BGR24, Route::Rgb, AV_PIX_FMT_NONE, 3, false, false},
    {V4L2_PIX_FMT_RGB24, Route::Rgb, AV_PIX_FMT_NONE, 3, false, false},
};

const FormatInfo* FindFormat(uint32_t pixelFormat) {
    for (const FormatInfo& info : kFormats) {
        if (info.pixelFormat == pixelFormat) return &info;
    }
    return nullptr;
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

}  // namespace

CFrameConverter::CFrameConverter() = default;
CFrameConverter::~CFrameConverter() = default;

bool CFrameConverter::CanConvert(uint32_t pixelFormat) { return FindFormat(pixelFormat) != nullptr; }

std::vector<uint32_t> CFrameConverter::ConvertibleFormats() {
    std::vector<uint32_t> formats;
    for (const FormatInfo& info : kFormats) formats.push_back(info.pixelFormat);
    return formats;
}

bool CFrameConverter::Configure(uint32_t format, int frameWidth, int frameHeight, uint32_t bytesPerLine) {
    pixelFormat = 0;
    width = height = 0;
    lineBytes = minimumSize = 0;
    sws.reset();
    tail.clear();
    padded.clear();

    const FormatInfo* info = FindFormat(format);
    if (info == nullptr || frameWidth <= 0 || frameHeight <= 0) return false;
    // Keeps 3 x width x height and every plane size well inside size_t and int arithmetic.
    if (frameWidth > 16384 || frameHeight > 16384) return false;
    if ((info->evenWidth && frameWidth % 2 != 0) || (info->evenHeight && frameHeight % 2 != 0)) return false;

    const size_t rows = static_cast<size_t>(frameHeight);
    size_t line = 0;
    size_t needed = 0;
    if (info->route != Route::Jpeg) {
        const size_t tight = static_cast<size_t>(frameWidth) * info->bytesPerPixel;
        line = bytesPerLine == 0 ? tight : bytesPerLine;
        if (line < tight || line > tight + 65536) return false;
        switch (format) {
            case V4L2_PIX_FMT_YUV420:
            case V4L2_PIX_FMT_YVU420:
                if (line % 2 != 0) return false;
                needed = line * rows + 2 * (line / 2) * (rows / 2);
                break;
            case V4L2_PIX_FMT_NV12:
            case V4L2_PIX_FMT_NV21:
                needed = line * rows + line * (rows / 2);
                break;
            default:
                needed = line * (rows - 1) + tight;
                break;
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

bool CFrameConverter::Convert(const uint8_t* data, size_t size, uint8_t* output) {
    if (!IsConfigured() || data == nullptr || output == nullptr) return false;
    switch (FindFormat(pixelFormat)->route) {
        case Route::Swscale:
            return ConvertSwscale(data, size, output);
        case Route::Jpeg:
            return ConvertJpeg(data, size, output);
        case Route::Rgb:
            return ConvertRgb(data, size, output);
        case Route::None:
            break;
    }
    return false;
}

CFrameConverter::Planes CFrameConverter::PlanesOf(const uint8_t* data) const {
    Planes planes;
    size_t offsets[4] = {};
    planes.stride[0] = static_cast<int>(lineBytes);
    planes.count = 1;
    const size_t lumaSize = lineBytes * height;
    switch (pixelFormat) {
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_YVU420: {
            const size_t chromaLine = lineBytes / 2;
            const size_t first = lumaSize;
            const size_t second = first + chromaLine * (height / 2);
            const bool swapped = pixelFormat == V4L2_PIX_FMT_YVU420;
            offsets[1] = swapped ? second : first;
            offsets[2] = swapped ? first : second;
            planes.stride[1] = planes.stride[2] = static_cast<int>(chromaLine);
            planes.count = 3;
            planes.chromaRowsHalved = true;
            break;
        }
        case V4L2_PIX_FMT_NV12:
        case V4L2_PIX_FMT_NV21:
            offsets[1] = lumaSize;
            planes.stride[1] = static_cast<int>(lineBytes);
            planes.count = 2;
            planes.chromaRowsHalved = true;
            break;
        default:
            break;
    }
    if (data != nullptr) {
        for (int plane = 0; plane < planes.count; ++plane) planes.data[plane] = data + offsets[plane];
    }
    return planes;
}

bool CFrameConverter::ConvertSwscale(const uint8_t* data, size_t size, uint8_t* output) {
    if (size < minimumSize) return false;
    const Planes planes = PlanesOf(data);

    // Writing from the last row upwards with a negative stride turns the picture bottom-up.
    const size_t outputLine = static_cast<size_t>(width) * 3;
    const size_t targetLine = padded.empty() ? outputLine : paddedLine;
    uint8_t* targetStart = padded.empty() ? output : padded.data();
    uint8_t* const target[4] = {targetStart + static_cast<size_t>(height - 1) * targetLine, nullptr, nullptr,
                                nullptr};
    const int targetStrides[4] = {-static_cast<int>(targetLine), 0, 0, 0};

    // The scaler reads a little past the end of a row, which past the last rows of the frame may be
    // past the end of the buffer; those rows go through a copy with room behind every plane.
    const int split = height - tailRows;
    int converted = 0;
    if (split > 0) {
        converted += sws_scale(sws.get(), planes.data, planes.stride, 0, split, target, targetStrides);
    }
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
    converted += sws_scale(sws.get(), tailPlanes, planes.stride, split, tailRows, target, targetStrides);
    if (converted != height) return false;

    if (!padded.empty()) {
        for (int row = 0; row < height; ++row) {
            std::memcpy(output + row * outputLine, padded.data() + row * paddedLine, outputLine);
        }
    }
    return true;
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

bool CFrameConverter::ConvertJpeg(const uint8_t* data, size_t size, uint8_t* output) {
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
    // A frame of another size would not fit the output.
    if (jpegWidth != width || jpegHeight != height) return false;
    return DecodeSucceeded(tjDecompress2(decoder.get(), data, length, output, width, width * 3, height,
                                         TJPF_BGR, TJFLAG_BOTTOMUP));
}

bool CFrameConverter::DecodeSucceeded(int result) {
    if (result == 0) return true;
    if (tjGetErrorCode(decoder.get()) == TJERR_WARNING) return !WarnsOfMissingData(tjGetErrorStr2(decoder.get()));
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
