#include "framecomparison.h"

#include <algorithm>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace
{

const quint32 opaqueBlack = 0xFF000000u;

QImage asArgb32(const QImage &image)
{
    return image.format() == QImage::Format_ARGB32 || image.isNull()
               ? image
               : image.convertToFormat(QImage::Format_ARGB32);
}

// Row y of an image, or nothing below its last row.
const quint32 *rowOf(const QImage &image, int y)
{
    return y < image.height() ? reinterpret_cast<const quint32 *>(image.constScanLine(y)) : nullptr;
}

// One row of the difference image: per channel how much it got darker.
// Pixels outside a frame count as opaque black.
void darkening(const quint32 *before, int beforeWidth, const quint32 *after, int afterWidth,
               quint32 *out, int width)
{
    const int common = std::min(beforeWidth, afterWidth);
    int x = 0;
#ifdef __SSE2__
    // Saturating byte subtraction drops the negative differences.
    const __m128i opaque = _mm_set1_epi32(int(opaqueBlack));
    for (; x + 4 <= common; x += 4) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(before + x));
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(after + x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x),
                         _mm_or_si128(_mm_subs_epu8(b, a), opaque));
    }
#endif
    for (; x < width; ++x) {
        const quint32 p = x < beforeWidth ? before[x] : opaqueBlack;
        const quint32 c = x < afterWidth ? after[x] : opaqueBlack;
        quint32 d = opaqueBlack;
        for (int shift : {16, 8, 0})
            d |= quint32(std::max(0, int(p >> shift & 0xFF) - int(c >> shift & 0xFF))) << shift;
        out[x] = d;
    }
}

} // namespace

double compareFrames(const QImage &previousFrame, const QImage &currentFrame, QImage &difference)
{
    const QImage previous = asArgb32(previousFrame);
    const QImage current = asArgb32(currentFrame);
    const int width = std::max(previous.width(), current.width());
    const int height = std::max(previous.height(), current.height());
    // Every pixel is written below, so a difference image of the right shape
    // is reused as it is.
    if (difference.size() != QSize(width, height) || difference.format() != QImage::Format_ARGB32)
        difference = QImage(width, height, QImage::Format_ARGB32);
    if (width == 0 || height == 0)
        return 0.0;

    // term[d] is d / 255 / 3 computed exactly as a plain loop would, and the
    // terms are added one by one in the same order (red, green, blue, pixel
    // by pixel), so the sum is the same double. Adding zero leaves the sum as
    // it is, so pixels that got no darker are skipped.
    double term[256];
    for (int d = 0; d < 256; ++d)
        term[d] = double(d) / 255 / 3;

    double sum = 0.0;
    for (int y = 0; y < height; ++y) {
        const quint32 *p = rowOf(previous, y);
        const quint32 *c = rowOf(current, y);
        auto *out = reinterpret_cast<quint32 *>(difference.scanLine(y));
        darkening(p, p ? previous.width() : 0, c, c ? current.width() : 0, out, width);
        for (int x = 0; x < width; ++x) {
            const quint32 d = out[x];
            if (d & 0xFFFFFF) {
                sum += term[d >> 16 & 0xFF];
                sum += term[d >> 8 & 0xFF];
                sum += term[d & 0xFF];
            }
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
