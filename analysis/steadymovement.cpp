#include "steadymovement.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

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
    const int width = before.width();
    const int height = before.height();
    QImage grid(before.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y) {
        uchar *line = grid.scanLine(y);
        std::fill_n(line, width, uchar(0));
        for (int from = std::max(0, y - 1); from <= std::min(height - 1, y + 1); ++from) {
            const uchar *in = before.constScanLine(from);
            for (int x = 0; x < width; ++x) {
                uchar largest = in[x];
                if (x > 0)
                    largest = std::max(largest, in[x - 1]);
                if (x + 1 < width)
                    largest = std::max(largest, in[x + 1]);
                line[x] = std::max(line[x], largest);
            }
        }
    }
    return grid;
}

QImage blocksToPixels(const QImage &blocks, int blockSize, QSize frameSize, bool grow)
{
    if (blocks.isNull() || blockSize < 1 || frameSize.isEmpty())
        return QImage();
    const QImage grid =
        grow ? growBlocks(blocks) : blocks.convertToFormat(QImage::Format_Grayscale8);
    QImage mask(frameSize, QImage::Format_Grayscale8);
    const int width = frameSize.width();
    for (int y = 0; y < frameSize.height(); ++y) {
        uchar *line = mask.scanLine(y);
        if (y % blockSize != 0) {
            // Every row of a block row is the same.
            std::memcpy(line, mask.constScanLine(y - 1), size_t(width));
            continue;
        }
        const uchar *in = grid.constScanLine(std::min(y / blockSize, grid.height() - 1));
        for (int left = 0; left < width; left += blockSize)
            std::fill_n(line + left, std::min(blockSize, width - left),
                        in[std::min(left / blockSize, grid.width() - 1)]);
    }
    return mask;
}
