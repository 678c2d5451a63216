#pragma once

#include <cstddef>

namespace orvane {

// One lookup of a localized text: the key in the strings files and the fallback for when the file of
// the current language lacks it.
struct StringKey {
    const char* key;
    const char* fallback;
};

namespace keys {
#define ORVANE_STRING_KEY(name, key, fallback) inline constexpr StringKey name{key, fallback};
#include "localization/string_keys.inc"
#undef ORVANE_STRING_KEY
}  // namespace keys

// Every lookup the program makes, in one list: the strings files are checked against it.
inline constexpr StringKey kAllStringKeys[] = {
#define ORVANE_STRING_KEY(name, key, fallback) keys::name,
#include "localization/string_keys.inc"
#undef ORVANE_STRING_KEY
};

}  // namespace orvane
