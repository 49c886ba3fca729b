#include "referencefilter.h"

#include "imagefilter.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace
{

int middleOf(std::vector<int> &values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int meanOf(const std::vector<int> &values)
{
    const qint64 sum = std::accumulate(values.begin(), values.end(), qint64(0));
    return int(sum / qint64(values.size()));
}

void filterInPlace(QImage &image, int radius, int type)
{
    const int w = image.width();
    const int h = image.height();
    for (int x = radius; x <= w - radius - 1; ++x) {
        for (int y = radius; y <= h - radius - 1; ++y) {
            // The window is read from the image being written, so it sees
            // the results already stored left of and above (x, y).
            std::vector<QRgb> window;
            for (int wx = x - radius; wx <= x + radius; ++wx) {
                for (int wy = y - radius; wy <= y + radius; ++wy)
                    window.push_back(image.pixel(wx, wy));
            }
            std::vector<int> reds, greens, blues;
            for (QRgb word : window) {
                reds.push_back(qRed(word));
                greens.push_back(qGreen(word));
                blues.push_back(qBlue(word));
            }
            if (type == Median)
                image.setPixel(x, y, qRgba(middleOf(reds), middleOf(greens), middleOf(blues), 255));
            else
                image.setPixel(x, y, qRgba(meanOf(reds), meanOf(greens), meanOf(blues), 255));
        }
    }
}

} // namespace

QImage referenceFilterImage(QImage source, unsigned int kernelSize, int type)
{
    const qint64 radius = (kernelSize - 1u) / 2u;
    if (source.isNull() || (type != Median && type != Mean) || source.width() < 2 * radius + 1 ||
        source.height() < 2 * radius + 1)
        return source;
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    filterInPlace(image, int(radius), type);
    return image.format() == source.format() ? image : image.convertToFormat(source.format());
}
