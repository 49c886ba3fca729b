#include "watchtick.h"

#include "framecomparison.h"
#include "frameprocessing.h"
#include "framerecorder.h"

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
    // loop so it stays a plain AND over each row.
    const int width = image.width();
    const int height = image.height();
    for (int y = 0; y < height; ++y) {
        const auto *line = reinterpret_cast<const quint32 *>(image.constScanLine(y));
        quint32 all = 0xFF000000u;
        for (int x = 0; x < width; ++x)
            all &= line[x];
        if (all != 0xFF000000u)
            return false;
    }
    return true;
}

} // namespace

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
        if (settings.record) {
            result.record =
                shouldRecordFrame(settings.onlyDissimilar, result.level, settings.threshold);
            result.alert = result.level >= settings.threshold;
        }
    }

    previous = result.frame;
    previousSettings = settings;
    hasPrevious = true;
    return result;
}
