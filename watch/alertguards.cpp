#include "alertguards.h"

#include "framecomparison.h"
#include "framestatistics.h"
#include "lightingchange.h"
#include "movingarea.h"
#include "steadymovement.h"

#include <algorithm>
#include <cmath>

namespace
{

// Areas for the frame statistics, the moving area and steady movement: 30 x
// 20 of them in a 480 x 320 frame.
const int blockSize = 16;
// A pixel moved when its channels darkened by this much together (30 each),
// well above a camera's noise at night; an area moved when a quarter of its
// pixels did. Leaves stirring change scattered pixels, a person most of an
// area.
const int movedDarkening = 90;
const int movedPixels = blockSize * blockSize / 4;
// Block means this close together in every channel make a frame of one
// colour: what a camera sends while it starts or reconnects.
const int uniformTolerance = 4;
// Ticks after a start or a lost picture before an event may start: a
// camera's exposure and white balance settle within about a second.
const int settlingTickCount = 10;
// A frame with no more than this many pixels changed by more than the
// tolerance shows nothing new: a repeated frame of a camera slower than the
// ticks, as a video encoder stores it.
const int frozenTolerance = 10;
const int frozenShare = 4800; // 32 pixels of a 480 x 320 frame
// A picture frozen this long and then moving again is a camera's hiccup.
const qint64 frozenGlitchMs = 3000;
// Repeats for this long are a still scene rather than a slow camera.
const qint64 stillSceneMs = 1000;
// Ticks over the threshold this far apart, nothing new between them, are
// no run: a slow camera gives a new frame well within it.
const qint64 longestRunGapMs = 1000;
// Each tick at or over the threshold stands for the tick interval of change.
const qint64 tickIntervalMs = 100;
// Lighting: gains this close to 1 are no change of the light; a change that
// moved this share of the blocks is one of the whole picture.
const double smallestGainStep = 0.04;
const double wholePictureShare = 0.8;
// Steady movement: each new frame moves a block's activity 1/16 of the way
// towards moving or still, 1/128 while an event is open so that the person
// it is about does not become part of the scene. A block is steady from 30 %
// on, and again counted below 12 %.
const int watchingShift = 4;
const int eventShift = 7;
const int steadyOn = 65535 * 30 / 100;
const int steadyOff = 65535 * 12 / 100;

bool anySet(const QImage &grid)
{
    for (int y = 0; y < grid.height(); ++y) {
        const uchar *line = grid.constScanLine(y);
        if (std::any_of(line, line + grid.width(), [](uchar value) { return value != 0; }))
            return true;
    }
    return false;
}

double dissimilarity(const QImage &previous, const QImage &current, QImage &difference,
                     const QImage &uncounted, AlertSettings::Measure measure, QImage *blocks)
{
    const double darkening = compareFrames(previous, current, difference, uncounted);
    if (measure != AlertSettings::MovingArea)
        return darkening;
    *blocks = movedBlocks(difference, uncounted, blockSize, movedDarkening, movedPixels);
    return movedShare(*blocks);
}

} // namespace

void AlertGuards::start()
{
    cameraBack();
    activity = QImage();
    steadyBlocks = QImage();
    steadyGrid = QImage();
    steady = QImage();
    combinedValid = false;
}

void AlertGuards::cameraBack()
{
    newComparison();
    settlingTicks = settlingTickCount;
}

void AlertGuards::newComparison()
{
    identicalSinceMs = -1;
    stillSinceMs = -1;
    runStartMs = -1;
    currentMeans = QImage();
    currentUniform = false;
}

void AlertGuards::setIgnoredArea(const QImage &mask)
{
    ignored = mask.isNull() ? QImage() : mask.convertToFormat(QImage::Format_Grayscale8);
    combinedValid = false;
}

const QImage &AlertGuards::uncounted(const AlertSettings &settings)
{
    static const QImage none;
    const bool useIgnored = settings.ignoreAreas && !ignored.isNull();
    const bool useSteady = settings.steadyMovement && !steady.isNull();
    if (useIgnored && !useSteady)
        return ignored;
    if (useSteady && !useIgnored)
        return steady;
    if (!useIgnored)
        return none;
    if (!combinedValid) {
        combined = steady.copy();
        for (int y = 0; y < combined.height() && y < ignored.height(); ++y) {
            uchar *line = combined.scanLine(y);
            const uchar *painted = ignored.constScanLine(y);
            for (int x = 0; x < combined.width() && x < ignored.width(); ++x)
                line[x] |= painted[x];
        }
        combinedValid = true;
    }
    return combined;
}

double AlertGuards::measure(const QImage &previous, const QImage &current, QImage &difference,
                            const AlertSettings &settings)
{
    const double darkening = compareFrames(previous, current, difference, uncounted(settings));
    // The areas that moved outside the painted ones: what steady movement
    // learns from and, its own areas left out, the moving-area measure.
    // The steady areas are whole areas of the same grid.
    moved = settings.measure == AlertSettings::MovingArea || settings.steadyMovement
                ? movedBlocks(difference, painted(settings), blockSize, movedDarkening, movedPixels)
                : QImage();
    if (settings.measure != AlertSettings::MovingArea)
        return darkening;
    if (!settings.steadyMovement || steadyGrid.isNull())
        return movedShare(moved);
    QImage counted = moved.copy();
    for (int y = 0; y < counted.height(); ++y) {
        uchar *line = counted.scanLine(y);
        const uchar *still = steadyGrid.constScanLine(y);
        for (int x = 0; x < counted.width(); ++x)
            if (still[x])
                line[x] = 0;
    }
    return movedShare(counted);
}

void AlertGuards::observe(const QImage &frame)
{
    previousMeans = currentMeans;
    previousUniform = currentUniform;
    // Every other row is plenty for a block's mean brightness.
    currentMeans = blockMeans(frame, blockSize, 2);
    currentUniform = isUniform(currentMeans, uniformTolerance);
}

void AlertGuards::firstFrame(const QImage &frame)
{
    observe(frame);
    if (settlingTicks > 0)
        --settlingTicks;
}

const QImage &AlertGuards::painted(const AlertSettings &settings) const
{
    static const QImage none;
    return settings.ignoreAreas ? ignored : none;
}

void AlertGuards::learn(const QImage &difference, const AlertSettings &settings, int rateShift)
{
    if (moved.isNull())
        moved = movedBlocks(difference, painted(settings), blockSize, movedDarkening, movedPixels);
    updateActivity(activity, moved, rateShift);
    const QImage before = steadyBlocks;
    updateSteadyBlocks(steadyBlocks, activity, steadyOn, steadyOff);
    if (steadyBlocks == before)
        return;
    // A block next to steady ones is likely to stir as well. No steady block
    // leaves no mask, so that the comparison takes its plain way.
    steadyGrid = anySet(steadyBlocks) ? growBlocks(steadyBlocks) : QImage();
    steady = steadyGrid.isNull() ? QImage()
                                 : blocksToPixels(steadyGrid, blockSize, difference.size(), false);
    combinedValid = false;
}

bool AlertGuards::isLightingChange(const QImage &previous, const QImage &current, int threshold,
                                   const AlertSettings &settings)
{
    const LightChange change = measureLightChange(previousMeans, currentMeans);
    double step = 0.0;
    for (double gain : change.gains)
        step = std::max(step, std::abs(gain - 1.0));
    if (!change.valid || step < smallestGainStep)
        return false;
    if (change.wholeShare >= wholePictureShare)
        return true;
    // What is left once the previous frame is seen in the new light: a
    // person walking in while the lamp goes off is still there.
    QImage blocks;
    const double rest = dissimilarity(relit(previous, change), current, residual,
                                      uncounted(settings), settings.measure, &blocks);
    return dissimilarityLevel(rest) < threshold;
}

GuardVerdict AlertGuards::judge(const QImage &previous, const QImage &current,
                                const QImage &difference, int level, int threshold,
                                const AlertSettings &settings, bool inEvent, qint64 timeMs)
{
    GuardVerdict verdict;
    if (!settings.cameraGlitches && !settings.lightingChanges && !settings.steadyMovement &&
        !settings.minimumDuration) {
        verdict.alerting = level >= threshold;
        return verdict;
    }
    const bool settling = settlingTicks > 0;
    if (settling)
        --settlingTicks;
    verdict.frozen = sameFrame(previous, current, frozenTolerance,
                               current.width() * current.height() / frozenShare);
    if (verdict.frozen) {
        // A frozen camera repeats its frame exactly; a still scene, or a
        // slow camera's repeat as an encoder stores it, differs a little.
        if (!sameFrame(previous, current, 0, 0))
            identicalSinceMs = -1;
        else if (identicalSinceMs < 0)
            identicalSinceMs = timeMs;
        if (stillSinceMs < 0)
            stillSinceMs = timeMs;
        // Nothing new to judge: the run of ticks over the threshold and the
        // learned places stay as they are, so a camera slower than the ticks
        // is judged by its own frames. Still for a while, the scene is calm
        // and places of steady movement calm down with it.
        if (settings.steadyMovement && timeMs - stillSinceMs >= stillSceneMs)
            learn(difference, settings, inEvent ? eventShift : watchingShift);
        return verdict;
    }
    const bool afterFreeze = identicalSinceMs >= 0 && timeMs - identicalSinceMs >= frozenGlitchMs;
    identicalSinceMs = -1;
    stillSinceMs = -1;

    if (settings.cameraGlitches || settings.lightingChanges)
        observe(current);
    // A frame of one colour, or the jump after a long freeze, says nothing
    // about the scene; the frames of a camera still settling do, and steady
    // movement learns from them.
    const bool broken =
        settings.cameraGlitches && (afterFreeze || currentUniform || previousUniform);
    verdict.glitch = broken || (settings.cameraGlitches && settling);
    const bool over = level >= threshold;
    if (over && !broken && settings.lightingChanges)
        verdict.lightingChange = isLightingChange(previous, current, threshold, settings);
    if (settings.steadyMovement && !broken && !verdict.lightingChange)
        learn(difference, settings, inEvent ? eventShift : watchingShift);

    if (!over || verdict.glitch || verdict.lightingChange) {
        runStartMs = -1;
        return verdict;
    }
    if (settings.minimumDuration && !inEvent) {
        if (runStartMs < 0 || timeMs - lastOverMs > longestRunGapMs)
            runStartMs = timeMs;
        lastOverMs = timeMs;
        if (timeMs - runStartMs + tickIntervalMs < settings.minimumDurationMs) {
            verdict.waiting = true;
            return verdict;
        }
    }
    verdict.alerting = true;
    return verdict;
}
