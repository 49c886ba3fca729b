#ifndef ORVELLA_AVX2VECTOR_H
#define ORVELLA_AVX2VECTOR_H

// The 256-bit vector operations of the filter passes. Included only by
// files compiled with AVX2 enabled; internal linkage, like the kernel.

#include "wavefrontkernel.h"

#include <immintrin.h>

namespace
{

struct Avx2 {
    using T = __m256i;
    static constexpr int lanes = 8;
    static T set1(int v) { return _mm256_set1_epi32(v); }
    static T load(const int *a) { return _mm256_load_si256(reinterpret_cast<const T *>(a)); }
    static void store(quint32 *a, T v) { _mm256_store_si256(reinterpret_cast<T *>(a), v); }
    static T min(T a, T b) { return _mm256_min_epu8(a, b); }
    static T max(T a, T b) { return _mm256_max_epu8(a, b); }
    static T and_(T a, T b) { return _mm256_and_si256(a, b); }
    static T or_(T a, T b) { return _mm256_or_si256(a, b); }
    static T select(T mask, T a, T b) { return _mm256_blendv_epi8(b, a, mask); }
    static T add16(T a, T b) { return _mm256_add_epi16(a, b); }
    static T sub16(T a, T b) { return _mm256_sub_epi16(a, b); }
    static T mulHigh16(T a, T b) { return _mm256_mulhi_epu16(a, b); }
    template <int N> static T shiftRight16(T a) { return _mm256_srli_epi16(a, N); }
    template <int N> static T shiftRight32(T a) { return _mm256_srli_epi32(a, N); }
    template <int N> static T shiftLeft32(T a) { return _mm256_slli_epi32(a, N); }
    // Lane i's word to target[i * laneStep], through memory: extracting
    // each lane would crowd the shuffle unit that the loads need.
    static void storeLanes(quint32 *target, int laneStep, T v)
    {
        alignas(32) quint32 words[lanes];
        store(words, v);
        for (int i = 0; i < lanes; ++i)
            target[i * laneStep] = words[i];
    }
    // Lane i gets lane i - 1 of v, lane 0 gets first.
    static T shiftLanesUp(T v, quint32 first)
    {
        const T up = _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6));
        return _mm256_blend_epi32(up, _mm256_set1_epi32(int(first)), 1);
    }
    static T laneIndex() { return _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7); }
    static T add32(T a, T b) { return _mm256_add_epi32(a, b); }
    static T sub32(T a, T b) { return _mm256_sub_epi32(a, b); }
    static T greater32(T a, T b) { return _mm256_cmpgt_epi32(a, b); }
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
            auto pair = [&](int i) {
                return _mm256_inserti128_si256(_mm256_castsi128_si256(lane(i)), lane(i + 4), 1);
            };
            transpose<Count>(pair(0), pair(1), pair(2), pair(3), out);
        }
    }
    // Rows of four 32-bit words a, b, c, d (in both halves) turned into
    // columns: out[k] holds word k of each.
    template <int Count> static void transpose(T a, T b, T c, T d, T *out)
    {
        const T low0 = _mm256_unpacklo_epi32(a, b), low1 = _mm256_unpacklo_epi32(c, d);
        out[0] = _mm256_unpacklo_epi64(low0, low1);
        if constexpr (Count > 1)
            out[1] = _mm256_unpackhi_epi64(low0, low1);
        if constexpr (Count > 2) {
            const T high0 = _mm256_unpackhi_epi32(a, b), high1 = _mm256_unpackhi_epi32(c, d);
            out[2] = _mm256_unpacklo_epi64(high0, high1);
            if constexpr (Count > 3)
                out[3] = _mm256_unpackhi_epi64(high0, high1);
        }
    }
};

} // namespace

#endif
