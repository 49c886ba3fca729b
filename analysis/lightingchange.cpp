#include "lightingchange.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{

// Blocks this dark say little about a gain; this bright may be clipped.
const int darkest = 24;
const int brightest = 235;
const int fewestBlocks = 8;
const double wholeChangeStep = 0.10;

int channel(quint32 pixel, int index)
{
    return int(pixel >> (16 - 8 * index) & 0xFF);
}

} // namespace

LightChange measureLightChange(const QImage &beforeMeans, const QImage &afterMeans)
{
    LightChange change;
    if (beforeMeans.isNull() || beforeMeans.size() != afterMeans.size())
        return change;
    std::vector<double> ratios[3];
    std::vector<double> brightness;
    for (int y = 0; y < beforeMeans.height(); ++y) {
        const auto *before = reinterpret_cast<const quint32 *>(beforeMeans.constScanLine(y));
        const auto *after = reinterpret_cast<const quint32 *>(afterMeans.constScanLine(y));
        for (int x = 0; x < beforeMeans.width(); ++x) {
            int sumBefore = 0, sumAfter = 0;
            for (int c = 0; c < 3; ++c) {
                const int b = channel(before[x], c), a = channel(after[x], c);
                sumBefore += b;
                sumAfter += a;
                if (b >= darkest && b <= brightest && a >= darkest / 2 && a <= brightest)
                    ratios[c].push_back(double(a) / b);
            }
            if (sumBefore >= 3 * darkest)
                brightness.push_back(double(sumAfter) / sumBefore);
        }
    }
    for (int c = 0; c < 3; ++c) {
        std::vector<double> &r = ratios[c];
        if (int(r.size()) < fewestBlocks)
            return change;
        std::nth_element(r.begin(), r.begin() + r.size() / 2, r.end());
        change.gains[c] = r[r.size() / 2];
    }
    change.valid = true;
    const double overall = (change.gains[0] + change.gains[1] + change.gains[2]) / 3;
    if (!brightness.empty() && std::abs(overall - 1.0) > wholeChangeStep) {
        const auto moved = std::count_if(brightness.begin(), brightness.end(), [overall](double r) {
            return overall < 1.0 ? r < 1.0 - wholeChangeStep : r > 1.0 + wholeChangeStep;
        });
        change.wholeShare = double(moved) / brightness.size();
    }
    return change;
}

QImage relit(const QImage &frame, const LightChange &change)
{
    QImage out(frame.size(), QImage::Format_ARGB32);
    const QImage in = frame.format() == QImage::Format_ARGB32
                          ? frame
                          : frame.convertToFormat(QImage::Format_ARGB32);
    // One table a channel: 256 multiplications instead of one a pixel.
    quint32 table[3][256];
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v)
            table[c][v] = quint32(std::clamp(int(std::lround(v * change.gains[c])), 0, 255))
                          << (16 - 8 * c);
    for (int y = 0; y < in.height(); ++y) {
        const auto *source = reinterpret_cast<const quint32 *>(in.constScanLine(y));
        auto *target = reinterpret_cast<quint32 *>(out.scanLine(y));
        for (int x = 0; x < in.width(); ++x) {
            const quint32 p = source[x];
            target[x] = 0xFF000000u | table[0][p >> 16 & 0xFF] | table[1][p >> 8 & 0xFF] |
                        table[2][p & 0xFF];
        }
    }
    return out;
}
