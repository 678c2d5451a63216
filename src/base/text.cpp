#include "base/text.h"

#include <cstring>
#include <system_error>

namespace orvane {

namespace {

// Decodes one code point at `pos`; returns its length in bytes, or 0 for an invalid sequence.
size_t DecodeUtf8(std::string_view s, size_t pos, char32_t& cp) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char b0 = byte(pos);
    size_t need;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        need = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        need = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        need = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (pos + need > s.size()) return 0;
    for (size_t i = 1; i < need; ++i) {
        unsigned char b = byte(pos + i);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return need;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

size_t Utf16Length(std::string_view utf8) {
    size_t units = 0;
    for (size_t pos = 0; pos < utf8.size();) {
        char32_t cp;
        size_t len = DecodeUtf8(utf8, pos, cp);
        if (len == 0) {
            ++units;
            ++pos;
            continue;
        }
        units += cp >= 0x10000 ? 2 : 1;
        pos += len;
    }
    return units;
}

std::string SanitizeUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t pos = 0; pos < bytes.size();) {
        char32_t cp;
        size_t len = DecodeUtf8(bytes, pos, cp);
        if (len == 0) {
            AppendUtf8(out, 0xFFFD);
            ++pos;
            continue;
        }
        out.append(bytes.substr(pos, len));
        pos += len;
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();) {
        char32_t cp;
        size_t len = DecodeUtf8(utf8, pos, cp);
        if (len == 0) {
            cp = 0xFFFD;
            len = 1;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 | (cp >> 10));
            out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        pos += len;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::string ToLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string SystemErrorText(int error) { return std::system_category().message(error); }

std::string FormatText(std::string_view format, const std::vector<FormatArg>& args) {
    std::string out;
    out.reserve(format.size() + 32);
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // %[-0][width](s|d|u|x)
        size_t j = i + 1;
        bool left = false, zero = false;
        while (j < format.size() && (format[j] == '-' || format[j] == '0')) {
            (format[j] == '-' ? left : zero) = true;
            ++j;
        }
        int width = 0;
        while (j < format.size() && format[j] >= '0' && format[j] <= '9' && width < 1000) {
            width = width * 10 + (format[j] - '0');
            ++j;
        }
        if (j >= format.size() || std::strchr("sdux", format[j]) == nullptr || next >= args.size()) {
            out += c;  // not a specifier we fill: copy it as it stands
            continue;
        }
        char conv = format[j];
        const FormatArg& arg = args[next++];
        std::string piece;
        if (const auto* text = std::get_if<std::string>(&arg)) {
            piece = *text;
        } else {
            int64_t n = std::get<int64_t>(arg);
            if (conv == 'x') {
                char buf[32];
                std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(n));
                piece = buf;
            } else if (conv == 'u') {
                piece = std::to_string(static_cast<uint64_t>(n));
            } else {
                piece = std::to_string(n);
            }
        }
        int pad = width - static_cast<int>(Utf16Length(piece));
        if (pad > 0) {
            if (left) {
                piece.append(static_cast<size_t>(pad), ' ');
            } else if (zero && conv != 's') {
                size_t sign = (!piece.empty() && piece[0] == '-') ? 1 : 0;
                piece.insert(sign, static_cast<size_t>(pad), '0');
            } else {
                piece.insert(0, static_cast<size_t>(pad), ' ');
            }
        }
        out += piece;
        i = j;
    }
    return out;
}

}  // namespace orvane
