#pragma once

#include <string>

namespace orvane::test {

// The resolution fields of a JPEG file as libjpeg reads them: the JFIF header's unit and densities,
// and the Exif block's XResolution / YResolution / ResolutionUnit of the first image directory.
struct PhotoResolution {
    bool read = false;  // libjpeg read the header
    bool jfif = false;
    int jfifUnit = 0;   // 0 aspect only, 1 per inch, 2 per centimetre
    int jfifX = 0;
    int jfifY = 0;
    bool exif = false;  // the Exif block gave all three fields
    int exifUnit = 0;   // 2 inches, 3 centimetres
    double exifX = 0;
    double exifY = 0;
};

PhotoResolution ReadPhotoResolution(const std::string& jpeg);

}  // namespace orvane::test
