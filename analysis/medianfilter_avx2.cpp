// Compiled with AVX2 enabled; only called after checking the processor.
#include "medianfilter_x86.h"

#include "medianwavefront.h"

#include <immintrin.h>

namespace
{

struct Avx2 {
    using T = __m256i;
    static constexpr int lanes = 8;
    static T min(T a, T b) { return _mm256_min_epu8(a, b); }
    static T max(T a, T b) { return _mm256_max_epu8(a, b); }
    static T opaque(T v) { return _mm256_or_si256(v, _mm256_set1_epi32(int(0xFF000000u))); }
    static T allLanes() { return _mm256_set1_epi32(-1); }
    static T load(const int *a) { return _mm256_load_si256(reinterpret_cast<const T *>(a)); }
    static void store(quint32 *a, T v) { _mm256_store_si256(reinterpret_cast<T *>(a), v); }
    static T select(T mask, T a, T b) { return _mm256_blendv_epi8(b, a, mask); }
    static T gather(const quint32 *base, const int *offset, int p)
    {
        const T index = _mm256_add_epi32(load(offset), _mm256_set1_epi32(p));
        return _mm256_i32gather_epi32(reinterpret_cast<const int *>(base), index, 4);
    }
};

} // namespace

bool medianWavefrontAvx2(quint32 *bits, int stride, int width, int height, int radius)
{
    return medianWavefront<Avx2>(bits, stride, width, height, radius);
}
