#include "movingarea.h"

#ifdef ORVELLA_X86_DISPATCH
#include "cpufeatures.h"
#include "darkenedpixels.h"
#endif

#include <algorithm>
#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace
{

#ifdef __SSE2__
int laneSum(__m128i lanes)
{
    lanes = _mm_add_epi32(lanes, _mm_shuffle_epi32(lanes, _MM_SHUFFLE(1, 0, 3, 2)));
    lanes = _mm_add_epi32(lanes, _mm_shuffle_epi32(lanes, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(lanes);
}
#endif

int darkening(quint32 d)
{
    return int(d >> 16 & 0xFF) + int(d >> 8 & 0xFF) + int(d & 0xFF);
}

// How many of count pixels darkened by at least minimum, and how many were
// counted (skip, if any, is nonzero for pixels left out).
void countRun(const quint32 *pixels, const uchar *skip, int count, int minimum, int &moved,
              int &counted)
{
#ifdef ORVELLA_X86_DISPATCH
    if (cpuHasAvx512())
        return countDarkenedAvx512(pixels, skip, count, minimum, moved, counted);
#endif
    int x = 0;
#ifdef __SSE2__
    // Per pixel dR + dG + dB: the bytes widened to 16 bits and added in
    // pairs twice over.
    const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
    const __m128i zero = _mm_setzero_si128();
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i floor = _mm_set1_epi32(minimum - 1);
    // Lanes of -1 for yes, subtracted: counts a lane, summed at the end.
    __m128i movedLanes = zero, countedLanes = zero;
    for (; x + 4 <= count; x += 4) {
        const __m128i p =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + x)), colour);
        const __m128i low = _mm_madd_epi16(_mm_unpacklo_epi8(p, zero), ones);
        const __m128i high = _mm_madd_epi16(_mm_unpackhi_epi8(p, zero), ones);
        const __m128i sums = _mm_madd_epi16(_mm_packs_epi32(low, high), ones);
        __m128i over = _mm_cmpgt_epi32(sums, floor);
        __m128i inside = _mm_cmpeq_epi32(zero, zero);
        if (skip) {
            quint32 bytes;
            std::memcpy(&bytes, skip + x, sizeof bytes);
            const __m128i left = _mm_cvtsi32_si128(int(bytes));
            const __m128i wide = _mm_unpacklo_epi16(_mm_unpacklo_epi8(left, zero), zero);
            const __m128i kept = _mm_cmpeq_epi32(wide, zero);
            over = _mm_and_si128(over, kept);
            inside = kept;
        }
        movedLanes = _mm_sub_epi32(movedLanes, over);
        countedLanes = _mm_sub_epi32(countedLanes, inside);
    }
    moved += laneSum(movedLanes);
    counted += laneSum(countedLanes);
#endif
    for (; x < count; ++x) {
        if (skip && skip[x])
            continue;
        ++counted;
        moved += darkening(pixels[x]) >= minimum ? 1 : 0;
    }
}

} // namespace

QImage movedBlocks(const QImage &difference, const QImage &ignored, int blockSize,
                   int minimumDarkening, int minimumPixels)
{
    if (difference.isNull() || difference.format() != QImage::Format_ARGB32 || blockSize < 1)
        return QImage();
    const bool masked = !ignored.isNull() && ignored.format() == QImage::Format_Grayscale8;
    const int width = difference.width();
    const int height = difference.height();
    const int columns = (width + blockSize - 1) / blockSize;
    const int rows = (height + blockSize - 1) / blockSize;
    QImage blocks(columns, rows, QImage::Format_Grayscale8);
    std::vector<int> moved(static_cast<size_t>(columns));
    std::vector<int> counted(static_cast<size_t>(columns));
    for (int row = 0; row < rows; ++row) {
        std::fill(moved.begin(), moved.end(), 0);
        std::fill(counted.begin(), counted.end(), 0);
        const int bottom = std::min(height, (row + 1) * blockSize);
        for (int y = row * blockSize; y < bottom; ++y) {
            const auto *line = reinterpret_cast<const quint32 *>(difference.constScanLine(y));
            const uchar *skip = masked && y < ignored.height() ? ignored.constScanLine(y) : nullptr;
            const int maskWidth = skip ? std::min(width, ignored.width()) : 0;
#ifdef ORVELLA_X86_DISPATCH
            if (!skip && cpuHasAvx512()) {
                countDarkenedBlocksAvx512(line, width, blockSize, minimumDarkening, moved.data(),
                                          counted.data());
                continue;
            }
#endif
            for (int column = 0; column < columns; ++column) {
                const int left = column * blockSize;
                const int right = std::min(width, left + blockSize);
                const auto at = static_cast<size_t>(column);
                // Pixels past the mask's own width all count; a stretch the
                // mask leaves whole, or covers whole, is quickly done.
                const int maskedEnd = std::clamp(maskWidth, left, right);
                const uchar *stretch = skip ? skip + left : nullptr;
                int length = maskedEnd - left;
                const auto painted = [](uchar value) { return value != 0; };
                if (stretch && std::all_of(stretch, stretch + length, painted))
                    length = 0;
                if (stretch && std::none_of(stretch, stretch + length, painted))
                    stretch = nullptr;
                countRun(line + left, stretch, length, minimumDarkening, moved[at], counted[at]);
                countRun(line + maskedEnd, nullptr, right - maskedEnd, minimumDarkening, moved[at],
                         counted[at]);
            }
        }
        uchar *out = blocks.scanLine(row);
        for (int column = 0; column < columns; ++column) {
            const auto at = static_cast<size_t>(column);
            out[column] = counted[at] == 0 ? 0 : moved[at] >= minimumPixels ? 255 : 1;
        }
    }
    return blocks;
}

double movedShare(const QImage &blocks)
{
    int areas = 0;
    int moved = 0;
    for (int y = 0; y < blocks.height(); ++y) {
        const uchar *line = blocks.constScanLine(y);
        for (int x = 0; x < blocks.width(); ++x) {
            areas += line[x] ? 1 : 0;
            moved += line[x] == 255 ? 1 : 0;
        }
    }
    return areas ? double(moved) / areas : 0.0;
}
