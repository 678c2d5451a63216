#include "base/module_folder.h"

#include <unistd.h>

#include <cerrno>
#include <climits>

#include "base/alert_sink.h"
#include "base/text.h"

namespace orvane {

std::string GetModuleFolder() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        ShowAlert(SystemErrorText(errno));
        return {};
    }
    std::string path(buffer, static_cast<size_t>(length));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("/") : path.substr(0, slash + 1);
}

}  // namespace orvane
