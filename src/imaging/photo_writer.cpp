#include "imaging/photo_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}
#include <turbojpeg.h>

#include "base/alert_sink.h"
#include "base/atomic_file.h"
#include "base/av_handles.h"
#include "base/text.h"
#include "base/turbojpeg_handles.h"
#include "config/setting_param_manage.h"
#include "imaging/exif_thumbnail.h"
#include "imaging/scale_calibration.h"
#include "localization/localizable_string.h"

namespace orvane {

namespace {

constexpr int kJpegQuality = 100;
// Full-resolution colour (4:4:4): these are microscope pictures, where fine coloured detail such as
// stained structures would be smeared by halving the colour resolution, and at quality 100 the file
// size is not what the user is optimising for.
constexpr int kJpegSubsampling = TJSAMP_444;
// The frame is handed over bottom-up as it is, so no upright copy is made. The accurate DCT because
// TurboJPEG would otherwise choose the fast one, whose rounding shows exactly at the top qualities.
constexpr int kJpegFlags = TJFLAG_BOTTOMUP | TJFLAG_ACCURATEDCT;
constexpr int32_t kMaxJpegSide = 65535;

constexpr int kScaleFlags = SWS_BICUBIC;
// Room after the scaler's input and output for its reads and writes past the last row.
constexpr size_t kScalerSlack = 64;

bool SideFits(int32_t side) { return side > 0 && side <= kMaxJpegSide; }

// Puts the bytes on disk under path, replacing what was there, or leaves everything as it was.
// Returns 0 or the errno of the step that failed.
int WriteFileAtomically(const std::string& path, const unsigned char* data, size_t size) {
    CAtomicFile file;
    int error = file.CreateBeside(path);
    if (error == 0) error = file.Write(data, size);
    if (error == 0) error = file.CommitReplacing(path);
    return error;
}

}  // namespace

void ShowSaveFailure(const std::string& path, const std::string& reason, CLocalizableString* strings) {
    CLocalizableString& table = strings != nullptr ? *strings : *CLocalizableString::GetInstance();
    ShowAlert(Format(table.GetString(keys::kAlertSavefile), path) + reason);
}

CaptureResolution PhotoSize(const CSettingParamManage* settings, int32_t width, int32_t height) {
    const CSettingParamManage& manager =
        settings != nullptr ? *settings : *CSettingParamManage::GetInstance();
    // One copy of the record, so that width and height belong to the same resolution.
    CaptureResolution target = manager.GetUsingParam().GetCaptureResolution();
    // Until a capture resolution is stored (no preview has started yet), the photo keeps the frame's
    // own size rather than being lost.
    if (target.width == 0 && target.height == 0) target.width = width, target.height = height;
    return target;
}

bool SaveFrame(const std::string& path, const uint8_t* bits, int32_t length, int32_t width, int32_t height,
               const CSettingParamManage* settings, CLocalizableString* strings) {
    const VideoFrame frame{const_cast<uint8_t*>(bits), length, width, height};
    if (!frame.IsComplete()) return false;
    const CaptureResolution target = PhotoSize(settings, width, height);
    return SaveFrameAsJpeg(path, bits, width, height, target.width, target.height, strings) == S_OK;
}

bool PhotoScale::IsSet() const { return metresPerPixel > 0 && std::isfinite(metresPerPixel); }

uint16_t DensityPerCentimetre(double metresPerPixel) {
    if (!(metresPerPixel > 0) || !std::isfinite(metresPerPixel)) return 0;
    const double perCm = std::round(0.01 / metresPerPixel);
    return static_cast<uint16_t>(std::clamp(perCm, 1.0, 65535.0));
}

bool SetJfifDensity(std::vector<unsigned char>& jpeg, uint16_t xPerCm, uint16_t yPerCm) {
    // SOI, then APP0: length (2), "JFIF\0", version (2), units, X density (2), Y density (2).
    constexpr size_t kUnits = 2 + 2 + 2 + 5 + 2;
    static constexpr unsigned char kStart[] = {0xFF, 0xD8, 0xFF, 0xE0};
    if (jpeg.size() < kUnits + 5 || std::memcmp(jpeg.data(), kStart, sizeof kStart) != 0 ||
        std::memcmp(jpeg.data() + 6, "JFIF\0", 5) != 0 || ((size_t{jpeg[4]} << 8) | jpeg[5]) < 14) {
        return false;
    }
    jpeg[kUnits] = 2;  // dots per centimetre
    jpeg[kUnits + 1] = static_cast<unsigned char>(xPerCm >> 8);
    jpeg[kUnits + 2] = static_cast<unsigned char>(xPerCm & 0xFF);
    jpeg[kUnits + 3] = static_cast<unsigned char>(yPerCm >> 8);
    jpeg[kUnits + 4] = static_cast<unsigned char>(yPerCm & 0xFF);
    return true;
}

HRESULT EncodePhoto(const uint8_t* bits, int32_t width, int32_t height, int32_t targetWidth,
                    int32_t targetHeight, std::vector<unsigned char>& jpeg, std::string& reason,
                    const PhotoScale& scale) {
    reason.clear();
    const size_t bytes = FrameBytes(width, height);
    if (bits == nullptr || bytes == 0 || bytes > static_cast<size_t>(INT32_MAX)) return E_FAIL;
    // Only read from here on; the frame type simply has no read-only form.
    const VideoFrame frame{const_cast<uint8_t*>(bits), static_cast<int32_t>(bytes), width, height};
    FrameBuffer copy;
    if (targetWidth != width || targetHeight != height) {
        copy = ResizeBitmap(frame, targetWidth, targetHeight);
        if (copy.Empty()) return E_FAIL;
    }
    if (!scale.IsSet()) return EncodeJpeg(copy.Empty() ? frame : copy.Frame(), jpeg, reason);

    // The pixel size at the written size, in each direction (a stretch may differ between them).
    const double acrossMetres = scale.metresPerPixel * width / targetWidth;
    const double downMetres = scale.metresPerPixel * height / targetHeight;
    if (scale.drawBar) {
        if (copy.Empty()) {
            copy = FrameBuffer::Create(width, height);
            if (copy.Empty()) return E_FAIL;
            std::memcpy(copy.Bits(), bits, bytes);
        }
        DrawScaleBar(copy.Bits(), targetWidth, targetHeight, ChooseScaleBar(acrossMetres, targetWidth, scale.unit));
    }
    const PhotoDensity density{0.01 / acrossMetres, 0.01 / downMetres};
    const HRESULT result = EncodeJpeg(copy.Empty() ? frame : copy.Frame(), jpeg, reason, density);
    if (result == S_OK) SetJfifDensity(jpeg, DensityPerCentimetre(acrossMetres), DensityPerCentimetre(downMetres));
    return result;
}

HRESULT SaveFrameAsJpeg(const std::string& path, const uint8_t* bits, int32_t width, int32_t height,
                        int32_t targetWidth, int32_t targetHeight, CLocalizableString* strings) {
    std::vector<unsigned char> jpeg;
    std::string reason;
    if (EncodePhoto(bits, width, height, targetWidth, targetHeight, jpeg, reason) != S_OK) {
        if (!reason.empty()) ShowSaveFailure(path, reason, strings);
        return E_FAIL;
    }
    return WriteJpegFile(path, jpeg, strings);
}

FrameBuffer ResizeBitmap(const VideoFrame& bitmap, int32_t width, int32_t height) {
    if (!bitmap.IsComplete() || !SideFits(bitmap.width) || !SideFits(bitmap.height) || !SideFits(width) ||
        !SideFits(height)) {
        return {};
    }
    FrameBuffer result = FrameBuffer::Create(width, height);
    if (result.Empty()) return {};
    SwsContextPtr scaler(sws_getContext(bitmap.width, bitmap.height, AV_PIX_FMT_BGR24, width, height,
                                        AV_PIX_FMT_BGR24, kScaleFlags, nullptr, nullptr, nullptr));
    if (!scaler) return {};
    // The scaler's vector code reads and writes whole groups of bytes, past the end of the last row
    // (a frame that ends at the end of a memory page faults): it works on copies with room behind
    // them.
    const size_t sourceBytes = static_cast<size_t>(bitmap.width) * 3 * static_cast<size_t>(bitmap.height);
    const size_t targetBytes = static_cast<size_t>(width) * 3 * static_cast<size_t>(height);
    std::vector<uint8_t> source;
    std::vector<uint8_t> target;
    try {
        source.resize(sourceBytes + kScalerSlack);
        target.resize(targetBytes + kScalerSlack);
    } catch (const std::bad_alloc&) {
        return {};
    }
    std::memcpy(source.data(), bitmap.bits, sourceBytes);
    // Both sides are bottom-up alike, so scaling them as they lie keeps the picture upright.
    const uint8_t* const sourcePlanes[4] = {source.data(), nullptr, nullptr, nullptr};
    const int sourceStrides[4] = {3 * bitmap.width, 0, 0, 0};
    uint8_t* const targetPlanes[4] = {target.data(), nullptr, nullptr, nullptr};
    const int targetStrides[4] = {3 * width, 0, 0, 0};
    if (sws_scale(scaler.get(), sourcePlanes, sourceStrides, 0, bitmap.height, targetPlanes, targetStrides) !=
        height) {
        return {};
    }
    std::memcpy(result.Bits(), target.data(), targetBytes);
    return result;
}

HRESULT EncodeJpeg(const VideoFrame& bitmap, std::vector<unsigned char>& jpeg, std::string& reason,
                   const PhotoDensity& density) {
    reason.clear();
    jpeg.clear();
    if (!bitmap.IsComplete() || !SideFits(bitmap.width) || !SideFits(bitmap.height)) return E_FAIL;
    TjHandle encoder(tjInitCompress());
    if (!encoder) return E_FAIL;

    // Room for the worst case up front, so the encoder never has to grow and copy its output.
    const unsigned long worstCase = tjBufSize(bitmap.width, bitmap.height, kJpegSubsampling);
    TjBuffer buffer(worstCase <= static_cast<unsigned long>(INT_MAX) ? tjAlloc(static_cast<int>(worstCase))
                                                                     : nullptr);
    unsigned long size = buffer ? worstCase : 0;
    unsigned char* output = buffer.release();
    const int result = tjCompress2(encoder.get(), bitmap.bits, bitmap.width, 3 * bitmap.width, bitmap.height,
                                   TJPF_BGR, &output, &size, kJpegSubsampling, kJpegQuality, kJpegFlags);
    buffer.reset(output);
    if (result != 0) {
        const char* text = tjGetErrorStr2(encoder.get());
        reason = text != nullptr ? text : "";
        return E_FAIL;
    }
    // A small upright copy of the picture rides along in an Exif block, for thumbnails.
    jpeg = WithExifThumbnail(buffer.get(), size, bitmap.bits, bitmap.width, bitmap.height, /*bottomUp=*/true,
                             density);
    return S_OK;
}

HRESULT WriteJpegFile(const std::string& path, const std::vector<unsigned char>& jpeg,
                      CLocalizableString* strings) {
    if (const int error = WriteFileAtomically(path, jpeg.data(), jpeg.size()); error != 0) {
        ShowSaveFailure(path, SystemErrorText(error), strings);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT WriteJpeg(const std::string& path, const VideoFrame& bitmap, CLocalizableString* strings) {
    std::vector<unsigned char> jpeg;
    std::string reason;
    if (EncodeJpeg(bitmap, jpeg, reason) != S_OK) {
        if (!reason.empty()) ShowSaveFailure(path, reason, strings);
        return E_FAIL;
    }
    return WriteJpegFile(path, jpeg, strings);
}

}  // namespace orvane
