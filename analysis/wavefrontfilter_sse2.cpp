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
    // Lane i's word to target[i * laneStep].
    static void storeLanes(quint32 *target, int laneStep, T v)
    {
        target[0] = quint32(_mm_cvtsi128_si32(v));
        target[laneStep] = quint32(_mm_cvtsi128_si32(_mm_shuffle_epi32(v, 1)));
        target[2 * laneStep] = quint32(_mm_cvtsi128_si32(_mm_shuffle_epi32(v, 2)));
        target[3 * laneStep] = quint32(_mm_cvtsi128_si32(_mm_shuffle_epi32(v, 3)));
    }
    // Lane i gets lane i - 1 of v, lane 0 gets first.
    static T shiftLanesUp(T v, quint32 first)
    {
        return _mm_or_si128(_mm_slli_si128(v, 4), _mm_cvtsi32_si128(int(first)));
    }
    static T laneIndex() { return _mm_setr_epi32(0, 1, 2, 3); }
    static T add32(T a, T b) { return _mm_add_epi32(a, b); }
    static T sub32(T a, T b) { return _mm_sub_epi32(a, b); }
    static T greater32(T a, T b) { return _mm_cmpgt_epi32(a, b); }
    // Strip positions First .. First + Count - 1 of every lane, lane i's
    // strip starting at laneStart(i), turned into one vector per position.
    template <int First, int Count, bool Exact, typename LaneStart>
    static void loadLanes(LaneStart laneStart, T *out)
    {
        if constexpr (Count > 4) {
            loadLanes<First, 4, Exact>(laneStart, out);
            loadLanes<First + 4, Count - 4, Exact>(laneStart, out + 4);
        } else {
            auto lane = [&](int i) { return loadFour<Count, Exact>(laneStart(i) + First); };
            const T a = lane(0), b = lane(1), c = lane(2), d = lane(3);
            const T low0 = _mm_unpacklo_epi32(a, b), low1 = _mm_unpacklo_epi32(c, d);
            out[0] = _mm_unpacklo_epi64(low0, low1);
            if constexpr (Count > 1)
                out[1] = _mm_unpackhi_epi64(low0, low1);
            if constexpr (Count > 2) {
                const T high0 = _mm_unpackhi_epi32(a, b), high1 = _mm_unpackhi_epi32(c, d);
                out[2] = _mm_unpacklo_epi64(high0, high1);
                if constexpr (Count > 3)
                    out[3] = _mm_unpackhi_epi64(high0, high1);
            }
        }
    }
};

} // namespace

bool filterWavefrontSse2(quint32 *bits, int stride, int width, int height, int radius, bool median)
{
    return filterWavefront<Sse2>(bits, bits, stride, width, height, radius, median);
}

bool filterWavefrontSse2(const quint32 *source, quint32 *target, int stride, int width, int height,
                         int radius, bool median)
{
    return filterWavefront<Sse2>(source, target, stride, width, height, radius, median);
}
