#include "watchtick.h"

#include "framecomparison.h"
#include "frameprocessing.h"

#include <cstring>

namespace
{

bool sameProcessing(const WatchSettings &a, const WatchSettings &b)
{
    return a.filterChoice == b.filterChoice && a.kernelSizeIndex == b.kernelSizeIndex &&
           a.brightness == b.brightness;
}

// Whether every pixel of a Format_ARGB32 image has alpha 0xFF.
bool allOpaque(const QImage &image)
{
    if (image.format() != QImage::Format_ARGB32)
        return false;
    // QImage's accessors are calls into the library: keep them out of the
    // loop. Two pixels a word, two words a step: the ANDs do not wait on
    // each other.
    const int width = image.width();
    const int height = image.height();
    constexpr quint64 opaque = 0xFF000000FF000000u;
    for (int y = 0; y < height; ++y) {
        const uchar *line = image.constScanLine(y);
        quint64 even = opaque, odd = opaque;
        int x = 0;
        for (; x + 4 <= width; x += 4) {
            quint64 words[2];
            std::memcpy(words, line + 4 * x, sizeof words);
            even &= words[0];
            odd &= words[1];
        }
        quint32 rest = 0xFF000000u;
        for (; x < width; ++x) {
            quint32 pixel;
            std::memcpy(&pixel, line + 4 * x, sizeof pixel);
            rest &= pixel;
        }
        if ((even & odd & opaque) != opaque || (rest & 0xFF000000u) != 0xFF000000u)
            return false;
    }
    return true;
}

} // namespace

bool shouldRecordFrame(bool onlyDissimilarities, int level, int threshold)
{
    return !onlyDissimilarities || level >= threshold;
}

TickResult WatchTick::process(const QImage &cameraFrame, const WatchSettings &settings)
{
    TickResult result;
    result.frame = processFrame(cameraFrame, settings.filterChoice, settings.kernelSizeIndex,
                                settings.brightness);
    // The brightness offset sets every alpha; otherwise it is as the camera
    // delivered it, and filters leave the border's alpha alone.
    result.opaque = settings.brightness != 10 || allOpaque(result.frame);

    if (hasPrevious && sameProcessing(settings, previousSettings)) {
        result.compared = true;
        // The other image may still be on show; this one is not any more.
        shownDifference = 1 - shownDifference;
        result.dissimilarity =
            compareFrames(previous, result.frame, differenceImages[shownDifference]);
        result.level = dissimilarityLevel(result.dissimilarity);
        result.atThreshold = result.level >= settings.threshold;
        if (settings.record) {
            result.record =
                shouldRecordFrame(settings.onlyDissimilar, result.level, settings.threshold);
            result.alert = result.atThreshold;
        }
    }

    previous = result.frame;
    previousSettings = settings;
    hasPrevious = true;
    return result;
}
