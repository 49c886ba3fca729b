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

QImage withNoise(const QImage &scene, int amplitude, quint32 seed)
{
    std::mt19937 random(seed);
    QImage image = scene.convertToFormat(QImage::Format_ARGB32);
    const auto span = quint32(2 * amplitude + 1);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int noise = int(random() % span) - amplitude;
            const QRgb p = line[x];
            line[x] = qRgba(clampByte(qRed(p) + noise), clampByte(qGreen(p) + noise),
                            clampByte(qBlue(p) + noise), qAlpha(p));
        }
    }
    return image;
}

QImage withPerson(const QImage &scene, const QRect &body, QRgb clothes)
{
    QImage image = scene.convertToFormat(QImage::Format_ARGB32);
    const QRect inside = body & image.rect();
    const int headHeight = body.height() / 6;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const bool head = y < body.top() + headHeight;
            // Folds of the clothes, fixed to the body so that they move with it.
            const int fold = ((x - body.left()) / 3 + (y - body.top()) / 5) % 3 * 12;
            line[x] = head
                          ? qRgb(200, 160, 140)
                          : qRgb(clampByte(qRed(clothes) + fold), clampByte(qGreen(clothes) + fold),
                                 clampByte(qBlue(clothes) + fold));
        }
    }
    return image;
}

QImage withGain(const QImage &scene, double gain)
{
    QImage image = scene.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            const auto scaled = [gain](int v) { return clampByte(int(v * gain + 0.5)); };
            line[x] = qRgba(scaled(qRed(p)), scaled(qGreen(p)), scaled(qBlue(p)), qAlpha(p));
        }
    }
    return image;
}

QImage withStirring(const QImage &scene, const QRect &patch, int phase)
{
    QImage image = scene.convertToFormat(QImage::Format_ARGB32);
    std::mt19937 random(quint32(phase) * 7919u + 17u);
    const QRect inside = patch & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const int leaf = int(random() % 160);
            line[x] = qRgb(30 + leaf / 2, 60 + leaf, 20 + leaf / 3);
        }
    }
    return image;
}
