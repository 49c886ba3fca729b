#include "wavefrontfilter.h"

#include "wavefrontkernel.h"

#include <emmintrin.h>

namespace
{

struct Sse2 {
    using T = __m128i;
    static constexpr int lanes = 4;
    static T set1(int v) { return _mm_set1_epi32(v); }
    static T load(const int *a) { return _mm_load_si128(reinterpret_cast<const T *>(a)); }
    static void store(quint32 *a, T v) { _mm_store_si128(reinterpret_cast<T *>(a), v); }
    static T min(T a, T b) { return _mm_min_epu8(a, b); }
    static T max(T a, T b) { return _mm_max_epu8(a, b); }
    static T and_(T a, T b) { return _mm_and_si128(a, b); }
    static T or_(T a, T b) { return _mm_or_si128(a, b); }
    static T select(T mask, T a, T b) { return or_(and_(mask, a), _mm_andnot_si128(mask, b)); }
    static T add16(T a, T b) { return _mm_add_epi16(a, b); }
    static T sub16(T a, T b) { return _mm_sub_epi16(a, b); }
    static T mulHigh16(T a, T b) { return _mm_mulhi_epu16(a, b); }
    template <int N> static T shiftRight16(T a) { return _mm_srli_epi16(a, N); }
    template <int N> static T shiftRight32(T a) { return _mm_srli_epi32(a, N); }
    template <int N> static T shiftLeft32(T a) { return _mm_slli_epi32(a, N); }
    // Lane i gets lane i - 1 of v, lane 0 gets first.
    static T shiftLanesUp(T v, quint32 first)
    {
        return _mm_or_si128(_mm_slli_si128(v, 4), _mm_cvtsi32_si128(int(first)));
    }
    // Strip positions First .. First + Count - 1 of every lane, lane i's
    // strip starting at base + offset[i].
    template <int First, int Count>
    static void loadColumns(const quint32 *base, const int *offset, T *out)
    {
        for (int p = First; p < First + Count; ++p)
            out[p - First] = _mm_setr_epi32(int(base[offset[0] + p]), int(base[offset[1] + p]),
                                            int(base[offset[2] + p]), int(base[offset[3] + p]));
    }
};

} // namespace

bool filterWavefrontSse2(quint32 *bits, int stride, int width, int height, int radius, bool median)
{
    return filterWavefront<Sse2>(bits, stride, width, height, radius, median);
}
