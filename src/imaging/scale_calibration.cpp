#include "imaging/scale_calibration.h"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <vector>

namespace orvane {

namespace {

// A number with `decimals` digits after the point, always with a full stop whatever the locale.
std::string FixedText(double value, int decimals) {
    char buffer[64];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return error == std::errc() ? std::string(buffer, end) : "";
}

// Round lengths from 10^kLowestPower to 5 x 10^kHighestPower of the unit; beyond them the caption
// would not fit any picture.
constexpr int kLowestPower = -9;
constexpr int kHighestPower = 12;

// The built-in font: 5 x 7 cells, one byte per row, the highest of the five bits leftmost.
constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = kGlyphWidth + 1;

struct Glyph {
    char32_t code;
    uint8_t rows[kGlyphHeight];
};

constexpr Glyph kGlyphs[] = {
    {U'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {U'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {U'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {U'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {U'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {U'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {U'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {U'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {U'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {U'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {U'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {U'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {U' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {U'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}},
    {U'm', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}},
    {U'\u00B5', {0x00, 0x11, 0x11, 0x11, 0x13, 0x1D, 0x10}},
};

const Glyph* FindGlyph(char32_t code) {
    for (const Glyph& glyph : kGlyphs) {
        if (glyph.code == code) return &glyph;
    }
    return nullptr;
}

// The characters of a caption; anything the font lacks is a blank.
std::vector<const Glyph*> Glyphs(const std::string& text) {
    std::vector<const Glyph*> glyphs;
    const Glyph* blank = FindGlyph(U' ');
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        char32_t code = byte;
        if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xB5) {
            code = U'\u00B5';
            ++i;
        } else if (byte >= 0x80) {
            // Skips the rest of a character the font does not have.
            while (i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) ++i;
            code = U' ';
        }
        const Glyph* glyph = FindGlyph(code);
        glyphs.push_back(glyph != nullptr ? glyph : blank);
    }
    return glyphs;
}

// A rectangle of the picture in top-down coordinates, already inside the picture.
struct Canvas {
    uint8_t* bits;
    int32_t width;
    int32_t height;

    uint8_t* Row(int32_t y) const {
        return bits + static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width) * 3;
    }
    void Fill(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t value) const {
        for (int32_t row = y; row < y + h; ++row) {
            uint8_t* p = Row(row) + static_cast<size_t>(x) * 3;
            std::fill(p, p + static_cast<size_t>(w) * 3, value);
        }
    }
    // A quarter of the brightness: a dark backing that still shows what lies behind it.
    void Darken(int32_t x, int32_t y, int32_t w, int32_t h) const {
        for (int32_t row = y; row < y + h; ++row) {
            uint8_t* p = Row(row) + static_cast<size_t>(x) * 3;
            for (size_t i = 0; i < static_cast<size_t>(w) * 3; ++i) p[i] = static_cast<uint8_t>(p[i] >> 2);
        }
    }
};

}  // namespace

double UnitMetres(LengthUnit unit) {
    switch (unit) {
        case LengthUnit::Nanometre: return 1e-9;
        case LengthUnit::Micrometre: return 1e-6;
        case LengthUnit::Millimetre: return 1e-3;
    }
    return 1e-6;
}

std::string UnitText(LengthUnit unit) {
    switch (unit) {
        case LengthUnit::Nanometre: return "nm";
        case LengthUnit::Micrometre: return "\xC2\xB5m";
        case LengthUnit::Millimetre: return "mm";
    }
    return "";
}

double PixelSizeAt(const Calibration& calibration, int32_t captureWidth) {
    if (!(calibration.metresPerPixel > 0) || !std::isfinite(calibration.metresPerPixel) ||
        calibration.atWidth <= 0 || captureWidth <= 0) {
        return 0;
    }
    const double size = calibration.metresPerPixel * calibration.atWidth / captureWidth;
    return std::isfinite(size) && size > 0 ? size : 0;
}

ScaleBar ChooseScaleBar(double metresPerPixel, int32_t pictureWidth, LengthUnit unit) {
    ScaleBar bar;
    if (!(metresPerPixel > 0) || !std::isfinite(metresPerPixel) || pictureWidth <= 0) return bar;
    const double unitMetres = UnitMetres(unit);
    const double longest = pictureWidth / 5.0 * metresPerPixel / unitMetres;  // in the unit
    if (!(longest > 0) || !std::isfinite(longest)) return bar;
    int power = static_cast<int>(std::floor(std::log10(longest)));
    double decade = std::pow(10.0, power);
    // log10 may land a hair off at exact powers of ten.
    if (decade > longest * (1 + 1e-12)) decade = std::pow(10.0, --power);
    else if (decade * 10 <= longest * (1 + 1e-12)) decade = std::pow(10.0, ++power);
    if (power < kLowestPower || power > kHighestPower) return bar;
    const double lead = longest / decade;
    const int multiple = lead >= 5 * (1 - 1e-12) ? 5 : lead >= 2 * (1 - 1e-12) ? 2 : 1;
    const double length = multiple * decade;
    bar.metres = length * unitMetres;
    bar.pixels = bar.metres / metresPerPixel;
    bar.text = FixedText(length, std::max(0, -power)) + " " + UnitText(unit);
    return bar;
}

std::string FormatLength(double metres, LengthUnit unit) {
    if (!std::isfinite(metres)) return "";
    const double value = std::fabs(metres) / UnitMetres(unit);
    int decimals = 0;
    if (value > 0) {
        decimals = std::max(0, 2 - static_cast<int>(std::floor(std::log10(value))));
        decimals = std::min(decimals, 12);
        // 9.996 rounds up to 10.0: one digit fewer then keeps three significant ones.
        const double step = std::pow(10.0, decimals);
        if (decimals > 0 && std::round(value * step) / step >= std::pow(10.0, 3 - decimals)) --decimals;
    }
    return FixedText(value, decimals) + " " + UnitText(unit);
}

void DrawScaleBar(uint8_t* bgrBottomUp, int32_t width, int32_t height, const ScaleBar& bar) {
    if (bgrBottomUp == nullptr || width <= 0 || height <= 0 || !(bar.metres > 0) || !(bar.pixels >= 1) ||
        !std::isfinite(bar.pixels) || bar.pixels > width) {
        return;
    }
    // The glyphs grow with the picture: 7 pixels high up to 400 lines, 28 at 1080 and so on.
    const int32_t scale = std::max<int32_t>(1, (height + 135) / 270);
    const int32_t margin = 4 * scale;
    const int32_t pad = 2 * scale;
    const int32_t gap = 2 * scale;
    const int32_t barHeight = 2 * scale;
    const int32_t textHeight = kGlyphHeight * scale;
    const std::vector<const Glyph*> glyphs = Glyphs(bar.text);
    const int64_t textWidth =
        glyphs.empty() ? 0 : static_cast<int64_t>(glyphs.size()) * kGlyphAdvance * scale - scale;
    const int64_t barPixels = std::llround(bar.pixels);
    const int64_t contentWidth = std::max(barPixels, textWidth);
    const int64_t boxWidth = contentWidth + 2 * pad;
    const int64_t boxHeight = pad + textHeight + gap + barHeight + pad;
    if (boxWidth + 2 * margin > width || boxHeight + 2 * margin > height) return;

    const Canvas canvas{bgrBottomUp, width, height};
    const auto boxLeft = static_cast<int32_t>(width - margin - boxWidth);
    const auto boxTop = static_cast<int32_t>(height - margin - boxHeight);
    canvas.Darken(boxLeft, boxTop, static_cast<int32_t>(boxWidth), static_cast<int32_t>(boxHeight));

    constexpr uint8_t kWhite = 255;
    auto x = static_cast<int32_t>(boxLeft + pad + (contentWidth - textWidth) / 2);
    const int32_t textTop = boxTop + pad;
    for (const Glyph* glyph : glyphs) {
        for (int32_t row = 0; row < kGlyphHeight; ++row) {
            const uint8_t bits = glyph->rows[row];
            // Runs of set bits become one rectangle each.
            for (int32_t column = 0; column < kGlyphWidth;) {
                if ((bits & (0x10 >> column)) == 0) {
                    ++column;
                    continue;
                }
                int32_t end = column;
                while (end < kGlyphWidth && (bits & (0x10 >> end)) != 0) ++end;
                canvas.Fill(x + column * scale, textTop + row * scale, (end - column) * scale, scale, kWhite);
                column = end;
            }
        }
        x += kGlyphAdvance * scale;
    }
    const auto barLeft = static_cast<int32_t>(boxLeft + pad + (contentWidth - barPixels) / 2);
    canvas.Fill(barLeft, textTop + textHeight + gap, static_cast<int32_t>(barPixels), barHeight, kWhite);
}

}  // namespace orvane
