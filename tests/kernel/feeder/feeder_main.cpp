// orvane_uvc_feeder: the program behind an emulated UVC camera of the kernel rig.
// Usage: orvane_uvc_feeder --node /dev/videoN --format mjpg:1920x1080,1280x720 --format yuyv:640x480
//          [--fps 30] [--pace FPS] [--streaming-interface 1] [--max-payload 3072] [--ready FILE]
//          [--patterns DIR]
//        orvane_uvc_feeder --patterns DIR --format mjpg:1920x1080,1280x720
// The formats are given in the order the gadget's streaming header links them. --fps is the rate the
// camera offers, --pace how many frames it really sends a second (less, to spare emulated CPUs).
// FILE is created once the gadget may connect to the host. DIR keeps the encoded test pictures; the
// second form only fills it (on the build machine, where encoding is quick) and ends.
#include <linux/videodev2.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "uvc_feeder.h"

namespace {

bool ParseFormat(const std::string& text, orvane::rig::FeederFormat& format) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    const std::string name = text.substr(0, colon);
    if (name == "mjpg") {
        format.pixelFormat = V4L2_PIX_FMT_MJPEG;
    } else if (name == "yuyv") {
        format.pixelFormat = V4L2_PIX_FMT_YUYV;
    } else {
        return false;
    }
    std::stringstream sizes(text.substr(colon + 1));
    std::string size;
    while (std::getline(sizes, size, ',')) {
        int width = 0, height = 0;
        if (std::sscanf(size.c_str(), "%dx%d", &width, &height) != 2 || width <= 0 || height <= 0) return false;
        format.sizes.emplace_back(width, height);
    }
    return !format.sizes.empty();
}

}  // namespace

int main(int argc, char** argv) {
    orvane::rig::FeederOptions options;
    std::string ready;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const std::string value = argv[i + 1];
        if (flag == "--node") {
            options.node = value;
        } else if (flag == "--format") {
            orvane::rig::FeederFormat format;
            if (!ParseFormat(value, format)) {
                std::fprintf(stderr, "feeder: bad format '%s'\n", value.c_str());
                return 2;
            }
            options.formats.push_back(format);
        } else if (flag == "--fps") {
            options.framesPerSecond = std::atoi(value.c_str());
        } else if (flag == "--pace") {
            options.pace = std::atoi(value.c_str());
        } else if (flag == "--streaming-interface") {
            options.streamingInterface = static_cast<uint8_t>(std::atoi(value.c_str()));
        } else if (flag == "--max-payload") {
            options.maxPayloadTransferSize = static_cast<uint32_t>(std::atol(value.c_str()));
        } else if (flag == "--ready") {
            ready = value;
        } else if (flag == "--patterns") {
            options.patternCache = value;
        } else {
            std::fprintf(stderr, "feeder: unknown option %s\n", flag.c_str());
            return 2;
        }
    }
    if (options.node.empty() && !options.formats.empty()) {
        return orvane::rig::UvcFeeder(options).PrepareFrames() ? 0 : 1;
    }
    if (options.node.empty() || options.formats.empty() || options.framesPerSecond <= 0) {
        std::fprintf(stderr, "usage: %s --node NODE --format mjpg|yuyv:WxH[,WxH...] ... [--fps N] [--ready FILE]\n",
                     argv[0]);
        return 2;
    }
    orvane::rig::UvcFeeder feeder(options);
    return feeder.Run([&] {
        if (!ready.empty()) std::ofstream(ready) << "ready\n";
    });
}
