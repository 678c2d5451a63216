#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/setting.h"

namespace orvane {

// How the settings dialog turns the texts of its edits into numbers and judges them.
class CSettingValidation {
public:
    // The decimal number at the start of `text`, after optional white space and an optional sign;
    // 0 when there is none. Numbers beyond the 32-bit range give the nearest 32-bit value.
    static int32_t LeadingNumber(std::string_view text);

    // The integer exchange of an edit: true with `value` set when the whole text is one decimal
    // integer within the 32-bit range (white space around it and a sign allowed); otherwise false
    // and `value` is untouched.
    static bool ReadInteger(std::string_view text, int32_t& value);

    // "%d".
    static std::string FormatInteger(int32_t value);

    // Whether the text is exactly `value` written with "%d" (so "060", "+60", " 60" and "60a" are not).
    static bool IsCanonical(std::string_view text, int32_t value);

    // The maximum movie file size read from its edit: the leading number when the text is exactly
    // that number, else kRejectedMovieSize, which lies outside the accepted range.
    static int32_t MovieSizeMaxFromText(std::string_view text);
    static constexpr int32_t kRejectedMovieSize = 4097;
    static constexpr int32_t kMinMovieSize = 16;
    static constexpr int32_t kMaxMovieSize = 4096;
    static bool IsMovieSizeMaxValid(int32_t megabytes) {
        return megabytes >= kMinMovieSize && megabytes <= kMaxMovieSize;
    }

    static constexpr int32_t kMaxPort = 65535;
    static bool IsPortValid(int32_t port) { return port >= 0 && port <= kMaxPort; }

    // A timed-shot value: `unit` must be a time unit, `value` within the range at position
    // firstRange + unit of `setting` (0 for the shots, 3 for the duration), and `text` its canonical
    // spelling.
    static bool IsTimedValueValid(const TimedShotSetting& setting, int firstRange, int32_t unit,
                                  int32_t value, std::string_view text);
};

}  // namespace orvane
