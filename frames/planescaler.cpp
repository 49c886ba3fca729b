#include "planescaler.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ORVELLA_PLANESCALER_X86
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

namespace
{

const int downBits = 8;   // weights of rows: 0..256
const int acrossBits = 6; // of samples across: 0..64, what a signed byte holds
// The blended row is read 16 bytes at a time from any block's start.
const int rowSlack = 32;
static_assert(rowSlack >= 32, "a wide block reads 32 bytes from its start");

// Where each of to samples takes its two samples from, and the second one's
// weight in 1 << bits.
std::vector<int> indexes(int from, int to, int bits, std::vector<int> &weights)
{
    std::vector<int> index(std::size_t(to), 0);
    weights.assign(std::size_t(to), 0);
    for (int x = 0; x < to; ++x) {
        // The centre of sample x in the other size, in 1/65536.
        long long position =
            ((2 * (long long)x + 1) * (long long)from * 65536) / (2 * (long long)to) - 32768;
        position = std::max(position, 0LL);
        int first = int(position >> 16);
        int weight = int(position & 0xFFFF) >> (16 - bits);
        if (from == 1) {
            first = 0;
            weight = 0;
        } else if (first >= from - 1) {
            first = from - 2;
            weight = 1 << bits;
        }
        index[std::size_t(x)] = first;
        weights[std::size_t(x)] = weight;
    }
    return index;
}

#ifdef ORVELLA_PLANESCALER_X86
bool hasSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

} // namespace

PlaneScaler::PlaneScaler(int fromWidth, int fromHeight, int toWidth, int toHeight, int channels)
    : m_channels(channels), m_fromWidth(fromWidth * channels), m_fromHeight(fromHeight),
      m_toWidth(toWidth * channels), m_blended(std::size_t(m_fromWidth) + rowSlack, 0)
{
    std::vector<int> weights;
    const std::vector<int> rows = indexes(fromHeight, toHeight, downBits, weights);
    for (std::size_t y = 0; y < rows.size(); ++y)
        m_rows.push_back({rows[y], weights[y]});
    const std::vector<int> columns = indexes(fromWidth, toWidth, acrossBits, weights);
    for (std::size_t x = 0; x < columns.size(); ++x)
        for (int channel = 0; channel < channels; ++channel)
            m_columns.push_back({columns[x] * channels + channel, weights[x]});

    m_blocksFit = true;
    m_wideBlocksFit = true;
    const auto inHalf = [](int at, int half) {
        return std::uint8_t(at / 16 == half ? at % 16 : 0x80);
    };
    for (int x = 0; x + 8 <= m_toWidth; x += 8) {
        Block block{};
        block.start = m_columns[std::size_t(x)].index;
        for (int k = 0; k < 8; ++k) {
            const Step &step = m_columns[std::size_t(x + k)];
            const int at = step.index - block.start;
            if (at < 0 || at + channels > 15)
                m_blocksFit = false;
            if (at < 0 || at + channels > 31)
                m_wideBlocksFit = false;
            block.pick[2 * k] = std::uint8_t(at);
            block.pick[2 * k + 1] = std::uint8_t(at + channels);
            block.pickLow[2 * k] = inHalf(at, 0);
            block.pickLow[2 * k + 1] = inHalf(at + channels, 0);
            block.pickHigh[2 * k] = inHalf(at, 1);
            block.pickHigh[2 * k + 1] = inHalf(at + channels, 1);
            block.weights[2 * k] = std::int8_t((1 << acrossBits) - step.weight);
            block.weights[2 * k + 1] = std::int8_t(step.weight);
        }
        m_blocks.push_back(block);
    }
}

void PlaneScaler::scale(const std::uint8_t *from, int fromStride, std::uint8_t *to, int toStride)
{
#ifdef ORVELLA_PLANESCALER_X86
    run(from, fromStride, to, toStride, true);
#else
    run(from, fromStride, to, toStride, false);
#endif
}

void PlaneScaler::scalePlain(const std::uint8_t *from, int fromStride, std::uint8_t *to,
                             int toStride)
{
    run(from, fromStride, to, toStride, false);
}

void PlaneScaler::run(const std::uint8_t *from, int fromStride, std::uint8_t *to, int toStride,
                      bool vector)
{
    for (std::size_t y = 0; y < m_rows.size(); ++y) {
        const Step &step = m_rows[y];
        const std::uint8_t *first = from + std::size_t(step.index) * std::size_t(fromStride);
        // A plane one row high blends that row with itself.
        const int secondIndex = std::min(step.index + 1, m_fromHeight - 1);
        const std::uint8_t *second = from + std::size_t(secondIndex) * std::size_t(fromStride);
        blendRow(first, second, step.weight, vector);
        resampleRow(m_blended.data(), to + y * std::size_t(toStride), vector);
    }
}

void PlaneScaler::blendRow(const std::uint8_t *first, const std::uint8_t *second, int weight,
                           bool vector)
{
    std::uint8_t *out = m_blended.data();
    const int width = m_fromWidth;
    if (weight == 0 || weight == 1 << downBits) {
        std::memcpy(out, weight == 0 ? first : second, std::size_t(width));
        return;
    }
    const int keep = (1 << downBits) - weight;
    int x = 0;
#ifdef ORVELLA_PLANESCALER_X86
    if (vector) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i keepWeight = _mm_set1_epi16(short(keep));
        const __m128i takeWeight = _mm_set1_epi16(short(weight));
        const __m128i half = _mm_set1_epi16(1 << (downBits - 1));
        // At most 255 * 256 + 128 in each unsigned 16-bit lane.
        for (; x + 16 <= width; x += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(first + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(second + x));
            __m128i low = _mm_add_epi16(
                _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), keepWeight),
                              _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), takeWeight)),
                half);
            __m128i high = _mm_add_epi16(
                _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), keepWeight),
                              _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), takeWeight)),
                half);
            low = _mm_srli_epi16(low, downBits);
            high = _mm_srli_epi16(high, downBits);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), _mm_packus_epi16(low, high));
        }
    }
#else
    (void)vector;
#endif
    for (; x < width; ++x)
        out[x] = std::uint8_t((first[x] * keep + second[x] * weight + (1 << (downBits - 1))) >>
                              downBits);
}

#ifdef ORVELLA_PLANESCALER_X86
namespace
{

__attribute__((target("ssse3"))) inline __m128i load(const void *from)
{
    return _mm_loadu_si128(static_cast<const __m128i *>(from));
}

// A block's eight pairs weighed and added in one step each, rounded, stored.
__attribute__((target("ssse3"))) inline void weighPairs(__m128i pairs, const std::int8_t *weights,
                                                        std::uint8_t *to)
{
    const __m128i half = _mm_set1_epi16(1 << (acrossBits - 1));
    __m128i sums = _mm_maddubs_epi16(pairs, load(weights));
    sums = _mm_srli_epi16(_mm_add_epi16(sums, half), acrossBits);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(to), _mm_packus_epi16(sums, sums));
}

} // namespace

// Eight samples a block, their pairs picked out of 16 bytes.
__attribute__((target("ssse3"))) void PlaneScaler::resampleBlocks(const std::uint8_t *row,
                                                                  const Block *blocks,
                                                                  std::size_t count,
                                                                  std::uint8_t *to)
{
    for (std::size_t i = 0; i < count; ++i, to += 8) {
        const Block &block = blocks[i];
        weighPairs(_mm_shuffle_epi8(load(row + block.start), load(block.pick)), block.weights, to);
    }
}

// The same with the pairs spread over 32 bytes: each half picks its own and
// leaves the others' places zero.
__attribute__((target("ssse3"))) void PlaneScaler::resampleWideBlocks(const std::uint8_t *row,
                                                                      const Block *blocks,
                                                                      std::size_t count,
                                                                      std::uint8_t *to)
{
    for (std::size_t i = 0; i < count; ++i, to += 8) {
        const Block &block = blocks[i];
        const __m128i pairs =
            _mm_or_si128(_mm_shuffle_epi8(load(row + block.start), load(block.pickLow)),
                         _mm_shuffle_epi8(load(row + block.start + 16), load(block.pickHigh)));
        weighPairs(pairs, block.weights, to);
    }
}
#endif

void PlaneScaler::resampleRow(const std::uint8_t *row, std::uint8_t *to, bool vector) const
{
    if (m_fromWidth == m_toWidth) { // the same number of pixels
        std::memcpy(to, row, std::size_t(m_toWidth));
        return;
    }
    int x = 0;
#ifdef ORVELLA_PLANESCALER_X86
    if (vector && (m_blocksFit || m_wideBlocksFit) && hasSsse3()) {
        (m_blocksFit ? resampleBlocks : resampleWideBlocks)(row, m_blocks.data(), m_blocks.size(),
                                                            to);
        x = int(m_blocks.size()) * 8;
    }
#else
    (void)vector;
#endif
    const int half = 1 << (acrossBits - 1);
    for (; x < m_toWidth; ++x) {
        const Step &step = m_columns[std::size_t(x)];
        const int a = row[step.index];
        // Past the row's end only with weight 0 (a row one pixel wide).
        const int b = row[step.index + m_channels];
        to[x] = std::uint8_t((a * ((1 << acrossBits) - step.weight) + b * step.weight + half) >>
                             acrossBits);
    }
}
