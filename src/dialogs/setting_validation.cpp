#include "dialogs/setting_validation.h"

#include <cstdint>
#include <limits>

namespace orvane {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads [blanks][sign]digits from `pos`; leaves pos after the digits. False when there is no digit.
// `overflow` tells that the digits went beyond the 32-bit range; `value` is then saturated.
bool ReadNumber(std::string_view text, size_t& pos, int32_t& value, bool& overflow) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const size_t first = pos;
    // One past the 32-bit range in magnitude is enough to know it overflowed.
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    overflow = false;
    while (pos < text.size() && IsDigit(text[pos])) {
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > kLimit) {
            magnitude = kLimit + 1;
            overflow = true;
        }
        ++pos;
    }
    if (pos == first) return false;
    int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<int32_t>::max()) {
        signedValue = std::numeric_limits<int32_t>::max();
        overflow = true;
    } else if (signedValue < std::numeric_limits<int32_t>::min()) {
        signedValue = std::numeric_limits<int32_t>::min();
        overflow = true;
    }
    value = static_cast<int32_t>(signedValue);
    return true;
}

}  // namespace

int32_t CSettingValidation::LeadingNumber(std::string_view text) {
    size_t pos = 0;
    int32_t value = 0;
    bool overflow = false;
    return ReadNumber(text, pos, value, overflow) ? value : 0;
}

bool CSettingValidation::ReadInteger(std::string_view text, int32_t& value) {
    size_t pos = 0;
    int32_t number = 0;
    bool overflow = false;
    if (!ReadNumber(text, pos, number, overflow) || overflow) return false;
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos != text.size()) return false;
    value = number;
    return true;
}

std::string CSettingValidation::FormatInteger(int32_t value) { return std::to_string(value); }

bool CSettingValidation::IsCanonical(std::string_view text, int32_t value) {
    return text == FormatInteger(value);
}

int32_t CSettingValidation::MovieSizeMaxFromText(std::string_view text) {
    const int32_t number = LeadingNumber(text);
    return IsCanonical(text, number) ? number : kRejectedMovieSize;
}

bool CSettingValidation::IsTimedValueValid(const TimedShotSetting& setting, int firstRange, int32_t unit,
                                           int32_t value, std::string_view text) {
    if (!IsValidTimeUnit(unit)) return false;
    const int position = firstRange + unit;
    if (position < 0 || position >= TimedShotSetting::kRangeCount) return false;
    return setting.ranges[position].Contains(value) && IsCanonical(text, value);
}

}  // namespace orvane
