#pragma once

#include <string>

namespace orvane {

// The folder of the running program, ending with "/". Resource/ lies beside the program in the build
// tree and in the installed tree alike. When the path cannot be found, an alert carries the system's
// error text and the result is empty.
std::string GetModuleFolder();

}  // namespace orvane
