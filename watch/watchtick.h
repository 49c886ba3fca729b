#ifndef ORVELLA_WATCHTICK_H
#define ORVELLA_WATCHTICK_H

#include "alertguards.h"
#include "alertsettings.h"
#include "eventtracker.h"

#include <QImage>
#include <QMetaType>

// The window's controls as one tick reads them.
struct WatchSettings {
    int filterChoice = 0;    // 0 none, 1 median, 2 mean, 3 median then mean
    int kernelSizeIndex = 0; // 0 3x3, 1 5x5, 2 7x7
    int brightness = 10;     // 1..20, 10 leaves the frame alone
    int threshold = 20;      // level at which a frame counts as dissimilar
    bool record = false;     // the master switch of recording and alerts
    bool onlyDissimilar = false;
    // How ticks over the threshold become alerts; off, every one alerts.
    AlertSettings alerts = AlertSettings::off();
};

// What one tick made of a camera frame.
struct TickResult {
    QImage frame;          // the processed frame, shown live
    bool opaque = false;   // every pixel of frame has alpha 0xFF
    bool compared = false; // false on the first frame of a comparison
    double dissimilarity = 0.0;
    int level = 0;       // 1000 * dissimilarity, truncated
    bool record = false; // save the processed frame
    bool alert = false;  // raise the sound and e-mail alerts

    // What the guards made of the tick; with every guard off, alerting is
    // level >= threshold.
    qint64 timeMs = 0;
    bool alerting = false;       // the level reached the threshold and the guards agree
    bool glitch = false;         // a camera's start, hiccup or one-colour frame
    bool frozen = false;         // nothing new since the tick before
    bool lightingChange = false; // over the threshold from a change of the whole picture's light
    bool waiting = false;        // over the threshold, not yet for the minimum duration
    bool eventStarted = false;   // this tick started an event: events().current()
    bool eventEnded = false;     // the last event ended before this tick: events().lastEnded()
};

Q_DECLARE_METATYPE(TickResult)

// The work of a capture tick, without widgets: processes each frame with the
// settings given, compares it with the previous processed frame and decides
// on recording and alerts. A new comparison, in which the next frame is only
// stored, starts after restart() and whenever the filter, the kernel size or
// the brightness differ from those the previous frame was processed with:
// frames processed differently are not compared.
class WatchTick
{
public:
    void restart()
    {
        hasPrevious = false;
        guards.start();
    }
    // The camera sends pictures again after a gap: its first frames start no event.
    void cameraBack() { guards.cameraBack(); }

    // Ticks at the current time since the epoch.
    TickResult process(const QImage &cameraFrame, const WatchSettings &settings);
    // A tick at timeMs, on any clock that does not go back.
    TickResult process(const QImage &cameraFrame, const WatchSettings &settings, qint64 timeMs);

    // The painted areas of the camera (Format_Grayscale8, nonzero where not
    // counted), or a null image for none.
    void setIgnoredArea(const QImage &mask) { guards.setIgnoredArea(mask); }
    // The places steady movement took out of the count, in the same form.
    const QImage &steadyArea() const { return guards.steadyArea(); }

    const EventTracker &events() const { return eventTracker; }
    // Ends the open event once the quiet gap has passed by nowMs, for when
    // no ticks come; true if it ended.
    bool expireEvent(qint64 nowMs) { return eventTracker.expire(nowMs); }
    // Ends the open event at once, as when watching stops; true if one was open.
    bool finishEvent() { return eventTracker.finish(); }

    // The last comparison's difference image; every pixel has alpha 0xFF.
    // Two images take turns, so the one on show stays untouched while the
    // next is written, and neither is ever copied or allocated again.
    const QImage &difference() const { return differenceImages[shownDifference]; }

private:
    bool hasPrevious = false;
    QImage previous;
    WatchSettings previousSettings;
    QImage differenceImages[2];
    int shownDifference = 0;
    AlertGuards guards;
    EventTracker eventTracker;
    quint64 tickCount = 0;
    qint64 lastTimeMs = 0;
};

#endif
