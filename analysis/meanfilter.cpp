#include "meanfilter.h"

#include <vector>

namespace {

const int shifts[3] = {16, 8, 0};

} // namespace

void meanFilterInPlace(QImage &image, int radius)
{
    const int width = image.width();
    const int height = image.height();
    const int side = 2 * radius + 1;
    const qint64 area = qint64(side) * side;
    const qsizetype stride = image.bytesPerLine() / 4;
    auto *bits = reinterpret_cast<QRgb *>(image.bits());

    // strip[c][y]: channel c summed over the window's columns in row y, kept
    // up to date with every pixel written, so a window's sum is the sum of
    // its rows' strips and moving one row down swaps one strip.
    std::vector<qint64> strip[3];
    for (int c = 0; c < 3; ++c)
        strip[c].assign(height, 0);
    for (int y = 0; y < height; ++y) {
        const QRgb *line = bits + y * stride;
        for (int i = 0; i < side; ++i)
            for (int c = 0; c < 3; ++c)
                strip[c][y] += (line[i] >> shifts[c]) & 0xFF;
    }

    for (int x = radius; x < width - radius; ++x) {
        if (x > radius) {
            for (int y = 0; y < height; ++y) {
                const QRgb leaving = bits[y * stride + x - radius - 1];
                const QRgb entering = bits[y * stride + x + radius];
                for (int c = 0; c < 3; ++c)
                    strip[c][y] += qint64((entering >> shifts[c]) & 0xFF) -
                                   qint64((leaving >> shifts[c]) & 0xFF);
            }
        }
        qint64 sum[3] = {0, 0, 0};
        for (int y = 0; y < side; ++y)
            for (int c = 0; c < 3; ++c)
                sum[c] += strip[c][y];

        for (int y = radius; y < height - radius; ++y) {
            QRgb result = 0xFF000000u;
            for (int c = 0; c < 3; ++c)
                result |= uint(sum[c] / area) << shifts[c];
            QRgb &target = bits[y * stride + x];
            const QRgb old = target;
            target = result;
            for (int c = 0; c < 3; ++c) {
                const qint64 delta =
                    qint64((result >> shifts[c]) & 0xFF) - qint64((old >> shifts[c]) & 0xFF);
                strip[c][y] += delta;
                sum[c] += delta;
                if (y + 1 < height - radius)
                    sum[c] += strip[c][y + radius + 1] - strip[c][y - radius];
            }
        }
    }
}
