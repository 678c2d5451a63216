#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/video_frame.h"
#include "config/calibration.h"
#include "config/setting.h"
#include "imaging/exif_thumbnail.h"

namespace orvane {

class CSettingParamManage;
class CLocalizableString;

// The photo writer: one video frame becomes a JPEG file of quality 100, right side up. Every call uses
// only its own encoder, scaler and buffers, so the streaming threads and the timed-shot saver may
// write at the same time.
//
// A file is written under a temporary name in the target folder and renamed once it is complete and
// on disk: a failed or interrupted save never leaves a partial JPEG under the final name.
//
// settings and strings may be null: the process-wide instances are then taken at the moment of use.

// Writes the width x height frame at bits (length bytes) to path at the capture resolution of the
// current settings record (the frame's own size while none is stored). False when nothing was
// written: no frame, a frame shorter than its size, an unusable capture resolution (all silent), or a
// failed encode or write (shown as "Save file %s failure" with the reason).
bool SaveFrame(const std::string& path, const uint8_t* bits, int32_t length, int32_t width, int32_t height,
               const CSettingParamManage* settings = nullptr, CLocalizableString* strings = nullptr);

// Writes the width x height frame at bits (which must hold 3 x width x height bytes) to path at
// targetWidth x targetHeight, stretched with bicubic interpolation when that differs from the frame's
// size. S_OK, or E_FAIL: silently when the frame is missing or the target size is unusable, with the
// failure message when the encode or the write fails.
HRESULT SaveFrameAsJpeg(const std::string& path, const uint8_t* bits, int32_t width, int32_t height,
                        int32_t targetWidth, int32_t targetHeight, CLocalizableString* strings = nullptr);

// The size a photo of a width x height frame is written at: the capture resolution of the current
// settings record, or the frame's own size while none is stored.
CaptureResolution PhotoSize(const CSettingParamManage* settings, int32_t width, int32_t height);

// The scale a photo carries: the pixel size of the frame handed in (0: none), the unit of its scale
// bar, and whether the bar is drawn into the picture. With a pixel size, the photo's JFIF header and
// Exif block give its resolution in pixels per centimetre at the size it is written at.
struct PhotoScale {
    double metresPerPixel = 0;
    LengthUnit unit = LengthUnit::Micrometre;
    bool drawBar = false;
    bool IsSet() const;
};

// Encodes the width x height frame at bits (3 x width x height bytes) as a photo at targetWidth x
// targetHeight (stretched bicubically when that differs) into `jpeg`. With a scale the bar is drawn at
// the target size when asked (on a copy; bits stay as they are) and the resolution fields are written.
// S_OK, or E_FAIL: with `reason` empty when the frame is missing or the target size is unusable, else
// the encoder's reason.
HRESULT EncodePhoto(const uint8_t* bits, int32_t width, int32_t height, int32_t targetWidth,
                    int32_t targetHeight, std::vector<unsigned char>& jpeg, std::string& reason,
                    const PhotoScale& scale = {});

// The whole pixels per centimetre of a pixel `metresPerPixel` long, within 1..65535 (what a JFIF
// header holds); 0 for an unusable size.
uint16_t DensityPerCentimetre(double metresPerPixel);

// Sets the density of the JFIF header at the start of the JPEG bytes to x by y pixels per centimetre.
// False, and nothing changed, when the bytes do not start with a JFIF header.
bool SetJfifDensity(std::vector<unsigned char>& jpeg, uint16_t xPerCm, uint16_t yPerCm);

// Encodes the picture (bottom-up, written upright) at quality 100, with the resolution the Exif block
// gives (the JFIF header is left as the encoder wrote it). S_OK, or E_FAIL with `reason` empty for an
// incomplete picture or when no encoder can be made, else the encoder's reason.
HRESULT EncodeJpeg(const VideoFrame& bitmap, std::vector<unsigned char>& jpeg, std::string& reason,
                   const PhotoDensity& density = {});

// Writes encoded bytes to path, replacing a file of that name; a failure is shown as "Save file %s
// failure" with the system's reason.
HRESULT WriteJpegFile(const std::string& path, const std::vector<unsigned char>& jpeg,
                      CLocalizableString* strings = nullptr);

// Shows "Save file %s failure" for `path` followed by `reason`.
void ShowSaveFailure(const std::string& path, const std::string& reason, CLocalizableString* strings);

// The picture stretched independently in both directions to width x height with bicubic
// interpolation, in the same bottom-up layout. Empty when the picture is incomplete, a side is not
// positive or larger than a JPEG allows, or memory is short.
FrameBuffer ResizeBitmap(const VideoFrame& bitmap, int32_t width, int32_t height);

// Encodes the picture (bottom-up, written upright) and writes it to path, replacing a file of that
// name. S_OK, or E_FAIL: silently for an incomplete picture or when no encoder can be made; with the
// failure message, naming the encoder's or the system's reason, when the encode or the write fails.
HRESULT WriteJpeg(const std::string& path, const VideoFrame& bitmap, CLocalizableString* strings = nullptr);

}  // namespace orvane
