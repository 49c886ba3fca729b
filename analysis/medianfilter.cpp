#include "medianfilter.h"

#include <cstring>

namespace
{

const int shifts[3] = {16, 8, 0};

// Histograms of the window's red, green and blue values, each with its
// median and the number of values below it, so that the median moves by
// a few steps when a few values change instead of being searched afresh.
struct WindowHistogram {
    int count[3][256];
    int median[3];
    int below[3];
    int half; // position of the median among the sorted values

    void clear()
    {
        std::memset(count, 0, sizeof count);
        for (int c = 0; c < 3; ++c)
            below[c] = 0;
    }

    void add(QRgb word)
    {
        for (int c = 0; c < 3; ++c) {
            const int v = (word >> shifts[c]) & 0xFF;
            ++count[c][v];
            below[c] += v < median[c];
        }
    }

    void remove(QRgb word)
    {
        for (int c = 0; c < 3; ++c) {
            const int v = (word >> shifts[c]) & 0xFF;
            --count[c][v];
            below[c] -= v < median[c];
        }
    }

    QRgb settle()
    {
        QRgb word = 0xFF000000u;
        for (int c = 0; c < 3; ++c) {
            int m = median[c];
            int b = below[c];
            const int *n = count[c];
            while (b > half)
                b -= n[--m];
            while (b + n[m] <= half)
                b += n[m++];
            median[c] = m;
            below[c] = b;
            word |= uint(m) << shifts[c];
        }
        return word;
    }
};

} // namespace

// One column at a time with a running histogram per channel.
void medianFilterInPlace(QImage &image, int radius)
{
    const int width = image.width();
    const int height = image.height();
    const int side = 2 * radius + 1;
    const qsizetype stride = image.bytesPerLine() / 4;
    auto *bits = reinterpret_cast<QRgb *>(image.bits());

    WindowHistogram window;
    window.half = side * side / 2;
    for (int c = 0; c < 3; ++c)
        window.median[c] = 0;

    for (int x = radius; x < width - radius; ++x) {
        // Each column starts from its top window; the medians carry over
        // from the last column as a good first guess.
        window.clear();
        QRgb *column = bits + (x - radius);
        for (int row = 0; row < side; ++row)
            for (int i = 0; i < side; ++i)
                window.add(column[row * stride + i]);

        for (int y = radius; y < height - radius; ++y) {
            const QRgb result = window.settle();
            QRgb &target = bits[y * stride + x];
            const QRgb old = target;
            target = result;
            if (y + 1 == height - radius)
                break;
            // The pixel just written belongs to the next window too.
            if (old != result) {
                window.remove(old);
                window.add(result);
            }
            const QRgb *leaving = column + (y - radius) * stride;
            const QRgb *entering = column + (y + radius + 1) * stride;
            for (int i = 0; i < side; ++i) {
                window.remove(leaving[i]);
                window.add(entering[i]);
            }
        }
    }
}
