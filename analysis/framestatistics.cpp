#include "framestatistics.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace
{

// Adds the red, green and blue bytes of count pixels to sums.
void addPixels(const quint32 *pixels, int count, quint64 &red, quint64 &green, quint64 &blue)
{
    int x = 0;
#ifdef __SSE2__
    // _mm_sad_epu8 against zero adds eight bytes at a time; one channel is
    // kept per pass by masking the others out.
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_set1_epi32(0xFF);
    __m128i r = zero, g = zero, b = zero;
    for (; x + 4 <= count; x += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + x));
        b = _mm_add_epi64(b, _mm_sad_epu8(_mm_and_si128(p, low), zero));
        g = _mm_add_epi64(g, _mm_sad_epu8(_mm_and_si128(_mm_srli_epi32(p, 8), low), zero));
        r = _mm_add_epi64(r, _mm_sad_epu8(_mm_and_si128(_mm_srli_epi32(p, 16), low), zero));
    }
    quint64 lanes[2];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(lanes), r);
    red += lanes[0] + lanes[1];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(lanes), g);
    green += lanes[0] + lanes[1];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(lanes), b);
    blue += lanes[0] + lanes[1];
#endif
    for (; x < count; ++x) {
        red += pixels[x] >> 16 & 0xFF;
        green += pixels[x] >> 8 & 0xFF;
        blue += pixels[x] & 0xFF;
    }
}

bool pixelChanged(quint32 p, quint32 q, quint32 limit)
{
    for (int shift : {16, 8, 0}) {
        const int d = int(p >> shift & 0xFF) - int(q >> shift & 0xFF);
        if (quint32(std::abs(d)) > limit)
            return true;
    }
    return false;
}

} // namespace

QImage blockMeans(const QImage &frame, int blockSize, int rowStep)
{
    if (frame.isNull() || blockSize < 1)
        return QImage();
    rowStep = std::clamp(rowStep, 1, blockSize);
    const QImage argb =
        frame.format() == QImage::Format_ARGB32 || frame.format() == QImage::Format_RGB32
            ? frame
            : frame.convertToFormat(QImage::Format_ARGB32);
    const int width = argb.width();
    const int height = argb.height();
    const int columns = (width + blockSize - 1) / blockSize;
    const int rows = (height + blockSize - 1) / blockSize;
    QImage means(columns, rows, QImage::Format_ARGB32);
    std::vector<quint64> sums(size_t(columns) * 3);
    for (int row = 0; row < rows; ++row) {
        std::fill(sums.begin(), sums.end(), 0);
        const int top = row * blockSize;
        const int bottom = std::min(height, top + blockSize);
        for (int y = top; y < bottom; y += rowStep) {
            const auto *line = reinterpret_cast<const quint32 *>(argb.constScanLine(y));
            for (int column = 0; column < columns; ++column) {
                const int left = column * blockSize;
                addPixels(line + left, std::min(width, left + blockSize) - left, sums[3 * column],
                          sums[3 * column + 1], sums[3 * column + 2]);
            }
        }
        auto *out = reinterpret_cast<quint32 *>(means.scanLine(row));
        for (int column = 0; column < columns; ++column) {
            const int left = column * blockSize;
            const quint64 rowsRead = quint64((bottom - top + rowStep - 1) / rowStep);
            const quint64 pixels = rowsRead * quint64(std::min(width, left + blockSize) - left);
            const auto mean = [pixels](quint64 sum) {
                return quint32((sum + pixels / 2) / pixels);
            };
            out[column] = 0xFF000000u | mean(sums[3 * column]) << 16 |
                          mean(sums[3 * column + 1]) << 8 | mean(sums[3 * column + 2]);
        }
    }
    return means;
}

bool isUniform(const QImage &means, int tolerance)
{
    if (means.isNull())
        return false;
    int low[3] = {255, 255, 255};
    int high[3] = {0, 0, 0};
    for (int y = 0; y < means.height(); ++y) {
        const auto *line = reinterpret_cast<const quint32 *>(means.constScanLine(y));
        for (int x = 0; x < means.width(); ++x) {
            for (int channel = 0; channel < 3; ++channel) {
                const int value = int(line[x] >> (8 * channel) & 0xFF);
                low[channel] = std::min(low[channel], value);
                high[channel] = std::max(high[channel], value);
            }
        }
    }
    for (int channel = 0; channel < 3; ++channel)
        if (high[channel] - low[channel] > tolerance)
            return false;
    return true;
}

bool sameFrame(const QImage &a, const QImage &b, int tolerance, int fewPixels)
{
    if (a.size() != b.size() || a.format() != QImage::Format_ARGB32 ||
        b.format() != QImage::Format_ARGB32)
        return false;
    if (a.constBits() == b.constBits())
        return true;
    const int width = a.width();
    const auto limit = quint32(std::clamp(tolerance, 0, 255));
    int changed = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *p = reinterpret_cast<const quint32 *>(a.constScanLine(y));
        const auto *q = reinterpret_cast<const quint32 *>(b.constScanLine(y));
        int x = 0;
#ifdef __SSE2__
        // Bytes over the tolerance either way, alpha left out; a group of
        // four pixels is looked at one by one only when one of them is.
        const __m128i slack = _mm_set1_epi8(char(limit));
        const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
        for (; x + 4 <= width; x += 4) {
            const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + x));
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q + x));
            const __m128i distance = _mm_or_si128(_mm_subs_epu8(u, v), _mm_subs_epu8(v, u));
            const __m128i over = _mm_and_si128(_mm_subs_epu8(distance, slack), colour);
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(over, _mm_setzero_si128())) == 0xFFFF)
                continue;
            for (int i = x; i < x + 4; ++i)
                changed += pixelChanged(p[i], q[i], limit) ? 1 : 0;
            if (changed > fewPixels)
                return false;
        }
#endif
        for (; x < width; ++x)
            changed += pixelChanged(p[x], q[x], limit) ? 1 : 0;
        if (changed > fewPixels)
            return false;
    }
    return true;
}
