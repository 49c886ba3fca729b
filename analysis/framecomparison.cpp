#include "framecomparison.h"

#ifdef ORVELLA_X86_DISPATCH
#include "channelsums.h"
#include "cpufeatures.h"
#endif

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace
{

const quint32 opaqueBlack = 0xFF000000u;

QImage asArgb32(const QImage &image)
{
    return image.format() == QImage::Format_ARGB32 || image.isNull()
               ? image
               : image.convertToFormat(QImage::Format_ARGB32);
}

// Row y of an image, or nothing below its last row.
const quint32 *rowOf(const QImage &image, int y)
{
    return y < image.height() ? reinterpret_cast<const quint32 *>(image.constScanLine(y)) : nullptr;
}

// One row of the difference image: per channel how much it got darker.
// Pixels outside a frame count as opaque black.
void darkening(const quint32 *before, int beforeWidth, const quint32 *after, int afterWidth,
               quint32 *out, int width)
{
    const int common = std::min(beforeWidth, afterWidth);
    int x = 0;
#ifdef __SSE2__
    // Saturating byte subtraction drops the negative differences.
    const __m128i opaque = _mm_set1_epi32(int(opaqueBlack));
    for (; x + 4 <= common; x += 4) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(before + x));
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(after + x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x),
                         _mm_or_si128(_mm_subs_epu8(b, a), opaque));
    }
#endif
    for (; x < width; ++x) {
        const quint32 p = x < beforeWidth ? before[x] : opaqueBlack;
        const quint32 c = x < afterWidth ? after[x] : opaqueBlack;
        quint32 d = opaqueBlack;
        for (int shift : {16, 8, 0})
            d |= quint32(std::max(0, int(p >> shift & 0xFF) - int(c >> shift & 0xFF))) << shift;
        out[x] = d;
    }
}

// Copies the pixels of a difference row whose skip byte is 0 and writes 0
// for the others; returns how many were copied.
int keepCounted(const quint32 *row, const uchar *skip, int width, quint32 *out)
{
    int kept = 0;
    int x = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    // Kept pixels counted as bytes of 1 summed in two 64-bit lanes: no
    // population count, which without POPCNT is a library call.
    __m128i keptLanes = zero;
    for (; x + 16 <= width; x += 16) {
        const __m128i bytes =
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(skip + x)), zero);
        keptLanes = _mm_add_epi64(keptLanes, _mm_sad_epu8(_mm_sub_epi8(zero, bytes), zero));
        // Each byte's verdict widened to the pixel's four bytes.
        const __m128i low = _mm_unpacklo_epi8(bytes, bytes);
        const __m128i high = _mm_unpackhi_epi8(bytes, bytes);
        const __m128i keep[4] = {_mm_unpacklo_epi16(low, low), _mm_unpackhi_epi16(low, low),
                                 _mm_unpacklo_epi16(high, high), _mm_unpackhi_epi16(high, high)};
        for (int i = 0; i < 4; ++i) {
            const auto *from = reinterpret_cast<const __m128i *>(row + x + 4 * i);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x + 4 * i),
                             _mm_and_si128(_mm_loadu_si128(from), keep[i]));
        }
    }
    kept = _mm_cvtsi128_si32(keptLanes) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(keptLanes, zero));
#endif
    for (; x < width; ++x) {
        out[x] = skip[x] ? 0u : row[x];
        kept += skip[x] ? 0 : 1;
    }
    return kept;
}

// The terms d / 255 / 3 as a plain loop computes them.
struct Terms {
    double of[256];
    Terms()
    {
        for (int d = 0; d < 256; ++d)
            of[d] = double(d) / 255 / 3;
    }
};

const Terms &terms()
{
    static const Terms computed;
    return computed;
}

// Each term in whole units 2^(e - 52) of binade e; unusable if a term lies
// half way between two. Also step and restOf[] with unitsOf[d] = d * step +
// restOf[d], if some step leaves every rest a byte: the terms grow by a
// 765th each, so unitsOf[255] / 255 is that step give or take one.
struct BinadeTable {
    quint64 unitsOf[256];
    quint64 step = 0;
    uchar restOf[256] = {};
    bool usable = true;
    bool split = false;

    explicit BinadeTable(int e)
    {
        for (int d = 0; d < 256; ++d) {
            const double scaled = std::ldexp(terms().of[d], 52 - e); // exact
            const double whole = std::floor(scaled);
            const double rest = scaled - whole; // exact
            if (rest == 0.5)
                usable = false;
            unitsOf[d] = quint64(whole) + (rest > 0.5 ? 1 : 0);
        }
        const quint64 about = unitsOf[255] / 255;
        for (quint64 candidate : {about, about - 1, about + 1}) {
            bool fits = candidate > 0 && candidate <= about + 1;
            for (int d = 0; d < 256 && fits; ++d)
                fits = unitsOf[d] >= d * candidate && unitsOf[d] - d * candidate <= 255;
            if (fits) {
                step = candidate;
                for (int d = 0; d < 256; ++d)
                    restOf[d] = uchar(unitsOf[d] - d * candidate);
                split = true;
                return;
            }
        }
    }
};

// The tables of binades 0 to 62, made once: a frame's sum passes through a
// dozen of them.
const BinadeTable *binadeTable(int e)
{
    static const std::vector<BinadeTable> tables = [] {
        std::vector<BinadeTable> made;
        made.reserve(63);
        for (int binade = 0; binade < 63; ++binade)
            made.emplace_back(binade);
        return made;
    }();
    return e >= 0 && e < int(tables.size()) ? &tables[size_t(e)] : nullptr;
}

// The running sum of the terms (red, green, blue, pixel by pixel) that a
// plain loop of double additions gives, bit for bit.
//
// Once the sum is at least 1, it is a whole number of units 2^(e - 52),
// where 2^e <= sum < 2^(e + 1), and while it stays below 2^(e + 1) adding
// a term rounds to the nearest whole unit. Where no term is exactly half
// way between two units, each addition just adds that term's own whole
// number of units, which does not depend on the sum so far: a stretch of a
// row is then added as integers in any order. Stretches that leave the
// binade, or whose binade has a half-way term, take the double additions
// one by one.
//
// A term's units are d * step + restOf[d], with restOf[d] a byte, so a
// stretch's units are step times the sum of its bytes plus the sum of their
// rests. Where the processor can look bytes up in vectors, that takes far
// fewer instructions than a table entry a byte.
class RunningSum
{
public:
    void addRow(const quint32 *pixels, int width)
    {
        if (addUnits(pixels, width))
            return;
        // Somewhere in the row the sum leaves its binade (or it is not in
        // one that can be added as integers): stretch by stretch, so that
        // only the stretch where that happens is added term by term.
        constexpr int stretch = 64;
        for (int x = 0; x < width; x += stretch) {
            const int count = std::min(stretch, width - x);
            if (!addUnits(pixels + x, count))
                addTerms(pixels + x, count);
        }
    }

    double value() const { return exact ? std::ldexp(double(units), binade - 52) : plain; }

private:
    static constexpr quint64 top = quint64(1) << 53;

    // Adds count pixels' units if the sum stays inside its binade; false
    // and nothing added otherwise. Not tried where the sum could overflow.
    bool addUnits(const quint32 *pixels, int count)
    {
        if (!exact ||
            table->unitsOf[255] > std::numeric_limits<quint64>::max() / 3 / quint64(count))
            return false;
        const quint64 added = unitsOf(pixels, count);
        if (added >= top - units)
            return false;
        units += added;
        return true;
    }

    quint64 unitsOf(const quint32 *pixels, int count) const
    {
#ifdef ORVELLA_X86_DISPATCH
        if (table->split && cpuHasAvx512Vbmi()) {
            const ChannelSums sums = channelSumsAvx512Vbmi(pixels, count, table->restOf);
            return sums.bytes * table->step + sums.looked;
        }
#endif
        const quint64 *units = table->unitsOf;
        quint64 red = 0, green = 0, blue = 0;
        for (int x = 0; x < count; ++x) {
            const quint32 d = pixels[x];
            red += units[d >> 16 & 0xFF];
            green += units[d >> 8 & 0xFF];
            blue += units[d & 0xFF];
        }
        return red + green + blue;
    }

    void addTerms(const quint32 *pixels, int count)
    {
        const double *term = terms().of;
        double sum = value();
        for (int x = 0; x < count; ++x) {
            const quint32 d = pixels[x];
            // Adding zero leaves the sum as it is.
            if (d & 0xFFFFFF) {
                sum += term[d >> 16 & 0xFF];
                sum += term[d >> 8 & 0xFF];
                sum += term[d & 0xFF];
            }
        }
        setValue(sum);
    }

    void setValue(double sum)
    {
        plain = sum;
        exact = false;
        if (sum < 1.0)
            return;
        const int e = std::ilogb(sum);
        table = binadeTable(e);
        if (!table || !table->usable)
            return;
        binade = e;
        units = quint64(std::ldexp(sum, 52 - e));
        exact = true;
    }

    const BinadeTable *table = nullptr;
    double plain = 0.0;
    bool exact = false;
    int binade = 0;
    quint64 units = 0;
};

} // namespace

double compareFrames(const QImage &previousFrame, const QImage &currentFrame, QImage &difference)
{
    return compareFrames(previousFrame, currentFrame, difference, QImage());
}

double compareFrames(const QImage &previousFrame, const QImage &currentFrame, QImage &difference,
                     const QImage &ignored)
{
    const QImage previous = asArgb32(previousFrame);
    const QImage current = asArgb32(currentFrame);
    const int width = std::max(previous.width(), current.width());
    const int height = std::max(previous.height(), current.height());
    // Every pixel is written below, so a difference image of the right shape
    // is reused as it is.
    if (difference.size() != QSize(width, height) || difference.format() != QImage::Format_ARGB32)
        difference = QImage(width, height, QImage::Format_ARGB32);
    if (width == 0 || height == 0)
        return 0.0;

    const bool masked = !ignored.isNull() && ignored.format() == QImage::Format_Grayscale8;
    // An ignored pixel adds zero terms, which leave a double sum as it is:
    // the sum over the counted pixels alone, bit for bit.
    std::vector<quint32> counted(masked ? size_t(width) : 0);
    int countedPixels = 0;
    RunningSum sum;
    for (int y = 0; y < height; ++y) {
        const quint32 *p = rowOf(previous, y);
        const quint32 *c = rowOf(current, y);
        auto *out = reinterpret_cast<quint32 *>(difference.scanLine(y));
        darkening(p, p ? previous.width() : 0, c, c ? current.width() : 0, out, width);
        if (!masked || y >= ignored.height()) {
            sum.addRow(out, width);
            countedPixels += width;
            continue;
        }
        const int inside = std::min(width, ignored.width());
        const int rowCount =
            width - inside + keepCounted(out, ignored.constScanLine(y), inside, counted.data());
        std::copy(out + inside, out + width, counted.begin() + inside);
        sum.addRow(counted.data(), width);
        countedPixels += rowCount;
    }
    if (countedPixels == 0)
        return 0.0;
    if (!masked)
        return sum.value() / (width * height);
    return sum.value() / countedPixels;
}

int dissimilarityLevel(double dissimilarity)
{
    return int(1000.0 * dissimilarity);
}

QString dissimilarityTitle(double dissimilarity)
{
    return QStringLiteral("Orvella - ") + QString::number(1000.0 * dissimilarity, 'g', 6) +
           QStringLiteral("% Dissimilarity");
}
