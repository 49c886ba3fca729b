#include "meanfilter.h"

#include <vector>

namespace
{

// The three channel sums travel together in one 64-bit word, 21 bits each:
// blue in bits 0-20, green in 21-41, red in 42-62. Every sum the pass forms
// stays within 0 .. 255 * area, so no field ever carries into the next as
// long as that fits 21 bits.
const int fieldBits = 21;
const quint64 fieldMask = (quint64(1) << fieldBits) - 1;
const qint64 largestPackedArea = fieldMask / 255;

inline quint64 spread(QRgb word)
{
    return (word & 0xFF) | quint64(word & 0xFF00) << 13 | quint64(word & 0xFF0000) << 26;
}

// strip[y]: the channel sums over the window's columns in row y, kept up to
// date with every pixel written. A window's sum is the sum of its rows'
// strips, so moving one row down swaps one strip, and moving one column
// right changes every strip by one pixel in and one out.
void meanByPackedSums(quint32 *bits, int stride, int width, int height, int radius)
{
    const int side = 2 * radius + 1;
    const quint64 area = quint64(side) * side;
    // sum / area as a multiply and shift, exact for every sum below 2^21.
    const quint64 reciprocal = ((quint64(1) << 40) + area - 1) / area;
    auto mean = [reciprocal](quint64 sum) { return (sum * reciprocal) >> 40; };

    std::vector<quint64> strip(height, 0);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < side; ++i)
            strip[y] += spread(bits[y * stride + i]);
    // Moves the strip of row y from column x to column x + 1.
    auto moveRight = [&](int y, int x) {
        const quint32 *line = bits + y * stride;
        strip[y] = strip[y] + spread(line[x + radius + 1]) - spread(line[x - radius]);
    };

    for (int x = radius; x < width - radius; ++x) {
        const bool moreColumns = x + 1 < width - radius;
        quint64 window = 0;
        for (int y = 0; y < side; ++y)
            window += strip[y];

        for (int y = radius; y < height - radius; ++y) {
            const quint64 blue = mean(window & fieldMask);
            const quint64 green = mean(window >> fieldBits & fieldMask);
            const quint64 red = mean(window >> 2 * fieldBits);
            quint32 &target = bits[y * stride + x];
            const quint64 before = spread(target);
            target = 0xFF000000u | quint32(red << 16 | green << 8 | blue);
            // The pixel just written is part of the strip of row y, still
            // in the window.
            const quint64 after = blue | green << fieldBits | red << 2 * fieldBits;
            strip[y] = strip[y] + after - before;
            if (y + 1 < height - radius)
                window = window + (strip[y + radius + 1] - strip[y - radius]) + after - before;
            // Row y - radius is done with for this column.
            if (moreColumns)
                moveRight(y - radius, x);
        }
        if (moreColumns)
            for (int y = height - side + 1; y < height; ++y)
                moveRight(y, x);
    }
}

// The same with one 64-bit sum per channel, for windows too large to pack.
void meanBySeparateSums(quint32 *bits, int stride, int width, int height, int radius)
{
    const int shifts[3] = {16, 8, 0};
    const int side = 2 * radius + 1;
    const qint64 area = qint64(side) * side;
    auto channel = [](quint32 word, int shift) { return qint64(word >> shift & 0xFF); };

    std::vector<qint64> strip[3];
    for (int c = 0; c < 3; ++c)
        strip[c].assign(height, 0);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < side; ++i)
            for (int c = 0; c < 3; ++c)
                strip[c][y] += channel(bits[y * stride + i], shifts[c]);

    for (int x = radius; x < width - radius; ++x) {
        if (x > radius) {
            for (int y = 0; y < height; ++y) {
                const quint32 *line = bits + y * stride;
                for (int c = 0; c < 3; ++c)
                    strip[c][y] += channel(line[x + radius], shifts[c]) -
                                   channel(line[x - radius - 1], shifts[c]);
            }
        }
        qint64 window[3] = {0, 0, 0};
        for (int y = 0; y < side; ++y)
            for (int c = 0; c < 3; ++c)
                window[c] += strip[c][y];

        for (int y = radius; y < height - radius; ++y) {
            quint32 result = 0xFF000000u;
            for (int c = 0; c < 3; ++c)
                result |= quint32(window[c] / area) << shifts[c];
            quint32 &target = bits[y * stride + x];
            const quint32 before = target;
            target = result;
            for (int c = 0; c < 3; ++c) {
                const qint64 delta = channel(result, shifts[c]) - channel(before, shifts[c]);
                strip[c][y] += delta;
                window[c] += delta;
                if (y + 1 < height - radius)
                    window[c] += strip[c][y + radius + 1] - strip[c][y - radius];
            }
        }
    }
}

} // namespace

void meanFilterInPlace(QImage &image, int radius)
{
    auto *bits = reinterpret_cast<quint32 *>(image.bits());
    const int stride = image.bytesPerLine() / 4;
    const qint64 side = 2 * qint64(radius) + 1;
    if (side * side <= largestPackedArea)
        meanByPackedSums(bits, stride, image.width(), image.height(), radius);
    else
        meanBySeparateSums(bits, stride, image.width(), image.height(), radius);
}
