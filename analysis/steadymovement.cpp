#include "steadymovement.h"

#include <algorithm>
#include <cstdlib>

void updateActivity(QImage &activity, const QImage &moved, int rateShift)
{
    if (moved.isNull())
        return;
    if (activity.size() != moved.size() || activity.format() != QImage::Format_Grayscale16) {
        activity = QImage(moved.size(), QImage::Format_Grayscale16);
        activity.fill(0);
    }
    for (int y = 0; y < moved.height(); ++y) {
        auto *line = reinterpret_cast<quint16 *>(activity.scanLine(y));
        const uchar *in = moved.constScanLine(y);
        for (int x = 0; x < moved.width(); ++x) {
            const int target = in[x] == 255 ? 65535 : 0;
            const int value = line[x];
            // Rounded away from the value, so every step moves it.
            const int step = (std::abs(target - value) + (1 << rateShift) - 1) >> rateShift;
            line[x] = quint16(target > value ? value + step : value - step);
        }
    }
}

void updateSteadyBlocks(QImage &steady, const QImage &activity, int on, int off)
{
    if (activity.isNull())
        return;
    if (steady.size() != activity.size() || steady.format() != QImage::Format_Grayscale8) {
        steady = QImage(activity.size(), QImage::Format_Grayscale8);
        steady.fill(0);
    }
    for (int y = 0; y < activity.height(); ++y) {
        uchar *line = steady.scanLine(y);
        const auto *in = reinterpret_cast<const quint16 *>(activity.constScanLine(y));
        for (int x = 0; x < activity.width(); ++x)
            line[x] = in[x] >= on || (line[x] && in[x] > off) ? 255 : 0;
    }
}

QImage growBlocks(const QImage &blocks)
{
    const QImage before = blocks.convertToFormat(QImage::Format_Grayscale8);
    QImage grid(before.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < grid.height(); ++y) {
        uchar *line = grid.scanLine(y);
        for (int x = 0; x < grid.width(); ++x) {
            uchar largest = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (before.valid(x + dx, y + dy))
                        largest = std::max(largest, before.constScanLine(y + dy)[x + dx]);
            line[x] = largest;
        }
    }
    return grid;
}

QImage blocksToPixels(const QImage &blocks, int blockSize, QSize frameSize, bool grow)
{
    if (blocks.isNull() || blockSize < 1)
        return QImage();
    const QImage grid =
        grow ? growBlocks(blocks) : blocks.convertToFormat(QImage::Format_Grayscale8);
    QImage mask(frameSize, QImage::Format_Grayscale8);
    for (int y = 0; y < frameSize.height(); ++y) {
        uchar *line = mask.scanLine(y);
        const int row = std::min(y / blockSize, grid.height() - 1);
        const uchar *in = grid.constScanLine(row);
        for (int x = 0; x < frameSize.width(); ++x)
            line[x] = in[std::min(x / blockSize, grid.width() - 1)];
    }
    return mask;
}
