#include "support/photo_resolution.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace orvane::test {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void OnError(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }

// The fields of the first image directory of a TIFF structure, in either byte order.
void ReadTiff(const uint8_t* tiff, size_t size, PhotoResolution& out) {
    if (size < 8) return;
    const bool little = tiff[0] == 'I';
    auto u16 = [&](size_t at) -> uint32_t {
        if (at + 2 > size) return 0;
        return little ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
    };
    auto u32 = [&](size_t at) -> uint32_t {
        if (at + 4 > size) return 0;
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    const uint32_t ifd = u32(4);
    const uint32_t count = u16(ifd);
    bool x = false, y = false, unit = false;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = ifd + 2 + 12 * size_t{i};
        const uint32_t tag = u16(entry);
        if (tag == 0x011A || tag == 0x011B) {
            const uint32_t at = u32(entry + 8);
            const uint32_t denominator = u32(at + 4);
            const double value = denominator != 0 ? double(u32(at)) / denominator : 0;
            (tag == 0x011A ? out.exifX : out.exifY) = value;
            (tag == 0x011A ? x : y) = true;
        } else if (tag == 0x0128) {
            out.exifUnit = static_cast<int>(u16(entry + 8));
            unit = true;
        }
    }
    out.exif = x && y && unit;
}

}  // namespace

PhotoResolution ReadPhotoResolution(const std::string& jpeg) {
    PhotoResolution out;
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnError;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return PhotoResolution{};
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    if (jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK) {
        out.read = true;
        out.jfif = info.saw_JFIF_marker;
        out.jfifUnit = info.density_unit;
        out.jfifX = info.X_density;
        out.jfifY = info.Y_density;
        for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr; marker = marker->next) {
            if (marker->marker == JPEG_APP0 + 1 && marker->data_length > 6 &&
                std::memcmp(marker->data, "Exif\0\0", 6) == 0) {
                ReadTiff(marker->data + 6, marker->data_length - 6, out);
                break;
            }
        }
    }
    jpeg_destroy_decompress(&info);
    return out;
}

}  // namespace orvane::test
