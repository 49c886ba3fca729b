#include "sampleframes.h"

#include <algorithm>
#include <random>

namespace
{

int clampByte(int value)
{
    return std::clamp(value, 0, 255);
}

struct Shape {
    int left, top, right, bottom;
    bool round;
    QRgb colour;
};

} // namespace

QImage cameraLikeFrame(int width, int height, quint32 seed, bool randomAlpha)
{
    std::mt19937 random(seed);
    auto below = [&random](int limit) { return int(random() % quint32(limit)); };

    // Per channel: a base level and a gradient across and down the picture.
    int base[3], across[3], down[3];
    for (int c = 0; c < 3; ++c) {
        base[c] = 40 + below(170);
        across[c] = below(121) - 60;
        down[c] = below(121) - 60;
    }
    std::vector<Shape> shapes(3 + below(4));
    for (Shape &s : shapes) {
        s.left = below(width);
        s.top = below(height);
        s.right = s.left + 1 + below(std::max(1, width / 3));
        s.bottom = s.top + 1 + below(std::max(1, height / 3));
        s.round = below(2) == 1;
        s.colour = qRgb(below(256), below(256), below(256));
    }

    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            int channel[3];
            for (int c = 0; c < 3; ++c)
                channel[c] = base[c] + across[c] * x / std::max(1, width) +
                             down[c] * y / std::max(1, height);
            for (const Shape &s : shapes) {
                bool inside = x >= s.left && x < s.right && y >= s.top && y < s.bottom;
                if (inside && s.round) {
                    const double cx = (s.left + s.right) / 2.0, cy = (s.top + s.bottom) / 2.0;
                    const double rx = (s.right - s.left) / 2.0, ry = (s.bottom - s.top) / 2.0;
                    const double dx = (x - cx) / rx, dy = (y - cy) / ry;
                    inside = dx * dx + dy * dy <= 1.0;
                }
                if (inside) {
                    channel[0] = qRed(s.colour);
                    channel[1] = qGreen(s.colour);
                    channel[2] = qBlue(s.colour);
                }
            }
            const int noise = below(17) - 8;
            const int alpha = randomAlpha ? below(256) : 255;
            line[x] = qRgba(clampByte(channel[0] + noise), clampByte(channel[1] + below(9) - 4),
                            clampByte(channel[2] + noise), alpha);
        }
    }
    return image;
}

QImage noiseFrame(int width, int height, quint32 seed)
{
    std::mt19937 random(seed);
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = QRgb(random());
    }
    return image;
}

QImage filledFrame(int width, int height, QRgb word)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(word);
    return image;
}
