#include "framecomparison.h"

#include <algorithm>

namespace
{

const QRgb opaqueBlack = 0xFF000000u;

QImage asArgb32(const QImage &image)
{
    return image.format() == QImage::Format_ARGB32 || image.isNull()
               ? image
               : image.convertToFormat(QImage::Format_ARGB32);
}

// Pixel x of row y, or opaque black outside the image.
const QRgb *rowOrNull(const QImage &image, int y)
{
    return y < image.height() ? reinterpret_cast<const QRgb *>(image.constScanLine(y)) : nullptr;
}

} // namespace

double compareFrames(const QImage &previousFrame, const QImage &currentFrame, QImage &difference)
{
    const QImage previous = asArgb32(previousFrame);
    const QImage current = asArgb32(currentFrame);
    const int width = std::max(previous.width(), current.width());
    const int height = std::max(previous.height(), current.height());
    difference = QImage(width, height, QImage::Format_ARGB32);
    if (width == 0 || height == 0)
        return 0.0;

    // term[d] is d / 255 / 3 computed exactly as a plain loop would, and the
    // terms are added one by one in the same order, so the sum is the same
    // double. Adding a zero term leaves the sum unchanged, so it is skipped.
    double term[256];
    for (int d = 0; d < 256; ++d)
        term[d] = double(d) / 255 / 3;

    double sum = 0.0;
    for (int y = 0; y < height; ++y) {
        const QRgb *p = rowOrNull(previous, y);
        const QRgb *c = rowOrNull(current, y);
        const int pw = p ? previous.width() : 0;
        const int cw = c ? current.width() : 0;
        auto *out = reinterpret_cast<QRgb *>(difference.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb before = x < pw ? p[x] : opaqueBlack;
            const QRgb after = x < cw ? c[x] : opaqueBlack;
            const int dR = std::max(0, int((before >> 16) & 0xFF) - int((after >> 16) & 0xFF));
            const int dG = std::max(0, int((before >> 8) & 0xFF) - int((after >> 8) & 0xFF));
            const int dB = std::max(0, int(before & 0xFF) - int(after & 0xFF));
            if (dR | dG | dB) {
                sum += term[dR];
                sum += term[dG];
                sum += term[dB];
            }
            out[x] = opaqueBlack | uint(dR) << 16 | uint(dG) << 8 | uint(dB);
        }
    }
    return sum / (width * height);
}

int dissimilarityLevel(double dissimilarity)
{
    return int(1000.0 * dissimilarity);
}

QString dissimilarityTitle(double dissimilarity)
{
    return QStringLiteral("Orvella - ") + QString::number(1000.0 * dissimilarity, 'g', 6) +
           QStringLiteral("% Dissimilarity");
}
