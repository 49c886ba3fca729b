#include "brightness.h"

#include <algorithm>
#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

int brightnessOffset(int sliderValue)
{
    // The step 0.1 is rounded to a double before scaling, which is why
    // 3 gives -178 and not -178.5 rounded either way.
    const double step = (sliderValue - 10) * 0.1;
    return int(std::trunc(step * 255));
}

void applyBrightnessOffset(QImage &frame, int offset)
{
    if (frame.format() != QImage::Format_ARGB32)
        frame = frame.convertToFormat(QImage::Format_ARGB32);
    offset = std::clamp(offset, -255, 255);
    const quint32 amount = quint32(std::abs(offset));
    const quint32 perChannel = amount << 16 | amount << 8 | amount;
    const int width = frame.width();

    for (int y = 0; y < frame.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(frame.scanLine(y));
        int x = 0;
#ifdef __SSE2__
        // Saturating byte arithmetic is exactly the clamp to 0..255.
        const __m128i step = _mm_set1_epi32(int(perChannel));
        const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
        for (; x + 4 <= width; x += 4) {
            auto *at = reinterpret_cast<__m128i *>(line + x);
            const __m128i pixels = _mm_loadu_si128(at);
            const __m128i shifted =
                offset >= 0 ? _mm_adds_epu8(pixels, step) : _mm_subs_epu8(pixels, step);
            _mm_storeu_si128(at, _mm_or_si128(shifted, opaque));
        }
#endif
        for (; x < width; ++x) {
            const quint32 word = line[x];
            quint32 result = 0xFF000000u;
            for (int shift : {16, 8, 0}) {
                const int channel = int(word >> shift & 0xFF) + offset;
                result |= quint32(std::clamp(channel, 0, 255)) << shift;
            }
            line[x] = result;
        }
    }
}
