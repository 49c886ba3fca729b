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

} // namespace

TickResult WatchTick::process(const QImage &cameraFrame, const WatchSettings &settings)
{
    TickResult result;
    result.frame = processFrame(cameraFrame, settings.filterChoice, settings.kernelSizeIndex,
                                settings.brightness);

    if (hasPrevious && sameProcessing(settings, previousSettings)) {
        result.compared = true;
        result.dissimilarity = compareFrames(previous, result.frame, differenceImage);
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
