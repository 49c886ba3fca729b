#include "watchtick.h"

#include "framecomparison.h"
#include "frameprocessing.h"

#include <QDateTime>

#include <algorithm>
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

TickResult WatchTick::process(const QImage &cameraFrame, const WatchSettings &settings)
{
    return process(cameraFrame, settings, QDateTime::currentMSecsSinceEpoch());
}

TickResult WatchTick::process(const QImage &cameraFrame, const WatchSettings &settings,
                              qint64 timeMs)
{
    TickResult result;
    result.frame = processFrame(cameraFrame, settings.filterChoice, settings.kernelSizeIndex,
                                settings.brightness);
    // The brightness offset sets every alpha; otherwise it is as the camera
    // delivered it, and filters leave the border's alpha alone.
    result.opaque = settings.brightness != 10 || allOpaque(result.frame);
    // A clock set back does not reopen a quiet gap.
    lastTimeMs = tickCount == 0 ? timeMs : std::max(lastTimeMs, timeMs);
    result.timeMs = lastTimeMs;
    ++tickCount;
    eventTracker.setQuietGapMs(qint64(settings.alerts.quietGapSeconds) * 1000);
    result.eventEnded = eventTracker.expire(result.timeMs);

    if (hasPrevious && sameProcessing(settings, previousSettings)) {
        result.compared = true;
        // The other image may still be on show; this one is not any more.
        shownDifference = 1 - shownDifference;
        result.dissimilarity = guards.measure(previous, result.frame,
                                              differenceImages[shownDifference], settings.alerts);
        result.level = dissimilarityLevel(result.dissimilarity);
        const GuardVerdict verdict =
            guards.judge(previous, result.frame, differenceImages[shownDifference], result.level,
                         settings.threshold, settings.alerts, eventTracker.isOpen(), result.timeMs);
        result.alerting = verdict.alerting;
        result.glitch = verdict.glitch;
        result.frozen = verdict.frozen;
        result.lightingChange = verdict.lightingChange;
        result.waiting = verdict.waiting;
        if (result.alerting)
            result.eventStarted = eventTracker.alert(result.timeMs, result.level,
                                                     result.dissimilarity, result.frame, tickCount);
        if (settings.record) {
            // Only alerting ticks count as dissimilar.
            result.record = !settings.onlyDissimilar || result.alerting;
            result.alert = result.alerting;
        }
    } else {
        if (hasPrevious)
            guards.newComparison();
        guards.firstFrame(result.frame);
    }

    previous = result.frame;
    previousSettings = settings;
    hasPrevious = true;
    return result;
}
