#include "movingarea.h"

#include <algorithm>
#include <vector>

namespace
{

int darkening(quint32 d)
{
    return int(d >> 16 & 0xFF) + int(d >> 8 & 0xFF) + int(d & 0xFF);
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
            for (int column = 0; column < columns; ++column) {
                const int left = column * blockSize;
                const int right = std::min(width, left + blockSize);
                int movedHere = 0;
                int countedHere = 0;
                if (!skip || left >= maskWidth) {
                    for (int x = left; x < right; ++x)
                        movedHere += darkening(line[x]) >= minimumDarkening ? 1 : 0;
                    countedHere = right - left;
                } else {
                    for (int x = left; x < right; ++x) {
                        if (x < maskWidth && skip[x])
                            continue;
                        ++countedHere;
                        movedHere += darkening(line[x]) >= minimumDarkening ? 1 : 0;
                    }
                }
                moved[static_cast<size_t>(column)] += movedHere;
                counted[static_cast<size_t>(column)] += countedHere;
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
