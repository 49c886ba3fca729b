#include "brightness.h"

#include <algorithm>
#include <cmath>

int brightnessOffset(int sliderValue)
{
    // The step 0.1 is rounded to a double before scaling, which is why
    // 3 gives -178 and not -178.5 rounded either way.
    const double step = (sliderValue - 10) * 0.1;
    return int(std::trunc(step * 255));
}

void applyBrightnessOffset(QImage &frame, int offset)
{
    if (frame.format() != QImage::Format_ARGB32)
        frame = frame.convertToFormat(QImage::Format_ARGB32);

    // Every possible channel value maps through one small table.
    uchar shifted[256];
    for (int value = 0; value < 256; ++value)
        shifted[value] = uchar(std::clamp(value + offset, 0, 255));

    const int width = frame.width();
    for (int y = 0; y < frame.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(frame.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb word = line[x];
            line[x] = 0xFF000000u | uint(shifted[(word >> 16) & 0xFF]) << 16 |
                      uint(shifted[(word >> 8) & 0xFF]) << 8 | shifted[word & 0xFF];
        }
    }
}
