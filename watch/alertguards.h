#ifndef ORVELLA_ALERTGUARDS_H
#define ORVELLA_ALERTGUARDS_H

#include "alertsettings.h"

#include <QImage>

// What the guards made of one comparing tick.
struct GuardVerdict {
    bool alerting = false;       // at or over the threshold, and every guard agrees
    bool glitch = false;         // the frame may be the camera's, not the scene's
    bool frozen = false;         // nothing new since the tick before: never alerts
    bool lightingChange = false; // at or over the threshold from a change of the light
    bool waiting = false;        // at or over the threshold, not yet for the minimum duration
};

// The state the guards keep between ticks: how long ago the camera started
// or came back, how long its picture has been frozen, the run of ticks at or
// over the threshold, the painted areas and the learned places of steady
// movement.
class AlertGuards
{
public:
    // Watching starts: the camera's first frames may still be settling, and
    // the places of steady movement are learned anew.
    void start();
    // The camera sends pictures again after a gap: its first frames may
    // still be settling.
    void cameraBack();
    // A new comparison starts with the same camera (new filter or brightness).
    void newComparison();

    // The painted areas not to count (Format_Grayscale8, nonzero where
    // ignored); a null image when there are none.
    void setIgnoredArea(const QImage &mask);
    const QImage &ignoredArea() const { return ignored; }
    // The places steady movement has taken out of the count, as a
    // Format_Grayscale8 image (255 where not counted); null when none.
    const QImage &steadyArea() const { return steady; }

    // The pixels a comparison leaves out under settings; null for none.
    const QImage &uncounted(const AlertSettings &settings);

    // The dissimilarity between previous and current under settings' measure,
    // over the pixels not left out; difference is filled as compareFrames()
    // fills it.
    double measure(const QImage &previous, const QImage &current, QImage &difference,
                   const AlertSettings &settings);

    // A frame that only starts a comparison.
    void firstFrame(const QImage &frame);
    // Judges a comparing tick whose level measure() gave.
    GuardVerdict judge(const QImage &previous, const QImage &current, const QImage &difference,
                       int level, int threshold, const AlertSettings &settings, bool inEvent,
                       qint64 timeMs);

private:
    void observe(const QImage &frame);
    const QImage &painted(const AlertSettings &settings) const;
    void learn(const QImage &difference, const AlertSettings &settings, int rateShift);
    bool isLightingChange(const QImage &previous, const QImage &current, int threshold,
                          const AlertSettings &settings);

    QImage ignored;
    QImage steady;
    QImage combined;
    bool combinedValid = false;

    QImage activity;     // how often each block moved lately
    QImage steadyBlocks; // the blocks of steady movement
    QImage steadyGrid;   // those and their neighbours: the blocks left out
    QImage moved;        // the blocks outside the painted areas that moved, for learning
    QImage residual;     // the difference left after a change of light

    QImage previousMeans;
    QImage currentMeans;
    bool previousUniform = false;
    bool currentUniform = false;
    int settlingTicks = 0;
    qint64 identicalSinceMs = -1; // the camera has sent the same frame since
    qint64 stillSinceMs = -1;     // nothing new has come since
    qint64 runStartMs = -1;       // the first tick of the run at or over the threshold
    qint64 lastOverMs = -1;       // the run's last tick at or over the threshold
};

#endif
