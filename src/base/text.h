#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace orvane {

// Texts travel through the program as UTF-8. Where a limit is counted in UTF-16 code units (the
// 99-character settings texts), these helpers do the counting.

// Number of UTF-16 code units the text takes; invalid bytes count as one unit each.
size_t Utf16Length(std::string_view utf8);

// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view bytes);

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// ASCII case folding, as used for settings key and value names.
std::string ToLowerAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

// The system's message for an errno value.
std::string SystemErrorText(int error);

// One argument of FormatText.
using FormatArg = std::variant<std::string, int64_t>;

// printf-style formatting that is safe for format texts read from files: only %s, %d (with flags
// "0", "-" and a width, e.g. %04d), %u, %x and %% are understood; any other specifier, and a
// specifier without a matching argument, is copied as it stands. A number given for %s is written
// in decimal, a text given for %d is written as it is.
std::string FormatText(std::string_view format, const std::vector<FormatArg>& args);

inline FormatArg ToFormatArg(const std::string& text) { return text; }
inline FormatArg ToFormatArg(std::string_view text) { return std::string(text); }
inline FormatArg ToFormatArg(const char* text) { return std::string(text != nullptr ? text : ""); }
template <class N>
    requires std::is_integral_v<N>
inline FormatArg ToFormatArg(N number) {
    return static_cast<int64_t>(number);
}


template <class... Args>
std::string Format(std::string_view format, Args&&... args) {
    std::vector<FormatArg> list;
    list.reserve(sizeof...(args));
    (list.emplace_back(ToFormatArg(std::forward<Args>(args))), ...);
    return FormatText(format, list);
}

}  // namespace orvane
