#include "media_files.h"

#include <turbojpeg.h>

#include <QPainter>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "recording/movie_file_encoder.h"
#include "support/sandbox.h"

namespace orvane::test {

QImage MakeSpecimen(int width, int height, QColor tint, int seed) {
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(QColor(18, 18, 22));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(width / 2.0, height / 2.0);
    const double radius = 0.48 * std::min(width, height);
    QRadialGradient light(centre, radius);
    light.setColorAt(0.0, tint.lighter(150));
    light.setColorAt(0.8, tint);
    light.setColorAt(1.0, tint.darker(300));
    painter.setPen(Qt::NoPen);
    painter.setBrush(light);
    painter.drawEllipse(centre, radius, radius);
    std::mt19937 random(static_cast<unsigned>(seed) * 7919u + 17u);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 14; ++i) {
        const double angle = unit(random) * 6.2832, distance = std::sqrt(unit(random)) * radius * 0.8;
        const QPointF at(centre.x() + distance * std::cos(angle), centre.y() + distance * std::sin(angle));
        const double cell = radius * (0.08 + 0.08 * unit(random));
        painter.setBrush(tint.darker(170));
        painter.setPen(QPen(tint.darker(260), cell * 0.18));
        painter.drawEllipse(at, cell, cell * (0.7 + 0.3 * unit(random)));
        painter.setPen(Qt::NoPen);
        painter.setBrush(tint.darker(320));
        painter.drawEllipse(at, cell * 0.3, cell * 0.3);
    }
    return picture;
}

QImage MakeFlat(int width, int height, QColor colour) {
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(colour);
    return picture;
}

bool WriteJpeg(const std::string& path, const QImage& source) {
    const QImage picture = source.convertToFormat(QImage::Format_RGB32);  // B, G, R, X in memory
    std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitCompress(), tjDestroy);
    if (!handle) return false;
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(handle.get(), picture.constBits(), picture.width(),
                    static_cast<int>(picture.bytesPerLine()), picture.height(), TJPF_BGRX, &jpeg, &size,
                    TJSAMP_420, 90, 0) != 0)
        return false;
    const bool written = WriteFile(path, std::string(reinterpret_cast<const char*>(jpeg), size));
    tjFree(jpeg);
    return written;
}

bool WriteMovie(const std::string& path, const QImage& source, int frames) {
    const QImage picture = source.convertToFormat(QImage::Format_BGR888);
    const int width = picture.width() & ~1, height = picture.height() & ~1;
    std::vector<uint8_t> bottomUp(static_cast<size_t>(width) * height * 3);
    for (int row = 0; row < height; ++row)
        std::copy_n(picture.constScanLine(row), width * 3,
                    bottomUp.data() + static_cast<size_t>(height - 1 - row) * width * 3);
    const bool mp4 = path.size() > 4 && path.compare(path.size() - 4, 4, ".mp4") == 0;
    const uint32_t xvid = 'X' | ('V' << 8) | ('I' << 16) | (static_cast<uint32_t>('D') << 24);
    const MovieContainer container =
        mp4 ? MovieContainer{".mp4", "mp4", 0, "movflags=frag_keyframe+empty_moov"}
            : MovieContainer{".avi", "avi", xvid, ""};
    MovieFileEncoder encoder;
    std::string error;
    if (!encoder.Open(path, container, width, height, 10, error)) return false;
    AvFramePtr yuv;
    if (!MovieFileEncoder::ConvertFrame(bottomUp.data(), width, height, yuv)) return false;
    for (int i = 0; i < frames; ++i) encoder.Encode(i, *yuv);
    return encoder.Finish() == 0;
}

QColor MeanColour(const QImage& source, const QRect& area) {
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const QRect inside = area.intersected(image.rect());
    if (inside.isEmpty()) return {};
    int64_t r = 0, g = 0, b = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            r += qRed(pixel);
            g += qGreen(pixel);
            b += qBlue(pixel);
        }
    const int64_t count = int64_t{inside.width()} * inside.height();
    return QColor(static_cast<int>(r / count), static_cast<int>(g / count), static_cast<int>(b / count));
}

bool Near(const QColor& a, const QColor& b, int tolerance) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

}  // namespace orvane::test
