#include "medianfilter_x86.h"

#include "medianwavefront.h"

#include <emmintrin.h>

namespace
{

struct Sse2 {
    using T = __m128i;
    static constexpr int lanes = 4;
    static T min(T a, T b) { return _mm_min_epu8(a, b); }
    static T max(T a, T b) { return _mm_max_epu8(a, b); }
    static T opaque(T v) { return _mm_or_si128(v, _mm_set1_epi32(int(0xFF000000u))); }
    static T allLanes() { return _mm_set1_epi32(-1); }
    static T load(const int *a) { return _mm_load_si128(reinterpret_cast<const T *>(a)); }
    static void store(quint32 *a, T v) { _mm_store_si128(reinterpret_cast<T *>(a), v); }
    static T select(T mask, T a, T b)
    {
        return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
    }
    static T gather(const quint32 *base, const int *offset, int p)
    {
        return _mm_setr_epi32(int(base[offset[0] + p]), int(base[offset[1] + p]),
                              int(base[offset[2] + p]), int(base[offset[3] + p]));
    }
};

} // namespace

bool medianWavefrontSse2(quint32 *bits, int stride, int width, int height, int radius)
{
    return medianWavefront<Sse2>(bits, stride, width, height, radius);
}
