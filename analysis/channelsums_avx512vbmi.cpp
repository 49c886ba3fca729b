#include "channelsums.h"

#include <immintrin.h>

namespace
{

quint64 sumOfLanes(__m512i v)
{
    alignas(64) quint64 lanes[8];
    _mm512_store_si512(lanes, v);
    quint64 sum = 0;
    for (quint64 lane : lanes)
        sum += lane;
    return sum;
}

} // namespace

ChannelSums channelSumsAvx512Vbmi(const quint32 *pixels, int width, const uchar *table)
{
    // The table's 256 bytes as two 128-byte halves: a byte's low seven bits
    // pick within a half, its top bit picks the half.
    const __m512i low0 = _mm512_loadu_si512(table);
    const __m512i low1 = _mm512_loadu_si512(table + 64);
    const __m512i high0 = _mm512_loadu_si512(table + 128);
    const __m512i high1 = _mm512_loadu_si512(table + 192);
    const __m512i colour = _mm512_set1_epi32(0x00FFFFFF);
    const __m512i zero = _mm512_setzero_si512();
    __m512i bytes = zero, looked = zero;
    for (int x = 0; x < width; x += 16) {
        const __mmask16 inside =
            width - x >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << (width - x)) - 1);
        const __m512i v = _mm512_and_si512(_mm512_maskz_loadu_epi32(inside, pixels + x), colour);
        const __m512i low = _mm512_permutex2var_epi8(low0, v, low1);
        const __m512i high = _mm512_permutex2var_epi8(high0, v, high1);
        const __m512i values = _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
        // Each 64-bit lane adds up its eight bytes; a row is far too short
        // to overflow them.
        bytes = _mm512_add_epi64(bytes, _mm512_sad_epu8(v, zero));
        looked = _mm512_add_epi64(looked, _mm512_sad_epu8(values, zero));
    }
    return {sumOfLanes(bytes), sumOfLanes(looked)};
}
