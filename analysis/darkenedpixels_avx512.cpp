#include "darkenedpixels.h"

#include <immintrin.h>

namespace
{

inline void countRun(const quint32 *pixels, const uchar *skip, int count, int minimum, int &moved,
                     int &counted)
{
    const __m512i colour = _mm512_set1_epi32(0x00FFFFFF);
    const __m512i floor = _mm512_set1_epi32(minimum);
    for (int x = 0; x < count; x += 16) {
        const __mmask16 inside =
            count - x >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << (count - x)) - 1);
        const __m512i p = _mm512_and_si512(_mm512_maskz_loadu_epi32(inside, pixels + x), colour);
        // Bytes added in pairs, then the pairs: dR + dG + dB in each pixel.
        const __m512i sums =
            _mm512_madd_epi16(_mm512_maddubs_epi16(p, _mm512_set1_epi8(1)), _mm512_set1_epi16(1));
        __mmask16 kept = inside;
        if (skip)
            kept &=
                _mm_cmpeq_epi8_mask(_mm_maskz_loadu_epi8(inside, skip + x), _mm_setzero_si128());
        moved += int(_mm_popcnt_u32(_mm512_mask_cmpge_epi32_mask(kept, sums, floor)));
        counted += int(_mm_popcnt_u32(kept));
    }
}

} // namespace

void countDarkenedAvx512(const quint32 *pixels, const uchar *skip, int count, int minimum,
                         int &moved, int &counted)
{
    countRun(pixels, skip, count, minimum, moved, counted);
}

void countDarkenedBlocksAvx512(const quint32 *pixels, int width, int blockSize, int minimum,
                               int *moved, int *counted)
{
    for (int left = 0, block = 0; left < width; left += blockSize, ++block)
        countRun(pixels + left, nullptr, width - left < blockSize ? width - left : blockSize,
                 minimum, moved[block], counted[block]);
}
