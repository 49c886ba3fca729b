#ifndef ORVELLA_EVENTTRACKER_H
#define ORVELLA_EVENTTRACKER_H

#include <QImage>
#include <QtGlobal>

// One run of alerting ticks, none further than the quiet gap from the next.
// Times are milliseconds on the clock the ticks were given.
struct WatchEvent {
    int number = 0;     // 1 for the tracker's first event
    qint64 startMs = 0; // the first alerting tick
    qint64 endMs = 0;   // the last alerting tick so far
    qint64 peakMs = 0;  // the first tick with the highest level
    int peakLevel = 0;
    double peakDissimilarity = 0.0;
    quint64 peakTick = 0; // that tick's number
    QImage peakFrame;     // that tick's processed frame, for a snapshot
    int alertingTicks = 0;
};

// Groups alerting ticks into events. An event ends once the quiet gap has
// passed after its last alerting tick: the next tick's time tells, or
// expire() when no ticks come, or finish() when watching stops.
class EventTracker
{
public:
    void setQuietGapMs(qint64 ms) { quietGapMs = ms; }
    qint64 quietGap() const { return quietGapMs; }

    // Ends the open event if the quiet gap has passed by nowMs; true if it did.
    bool expire(qint64 nowMs);
    // Ends the open event now; true if there was one.
    bool finish();
    // An alerting tick: it joins the open event, or starts a new one (true)
    // after expire() has ended the last.
    bool alert(qint64 timeMs, int level, double dissimilarity, const QImage &frame, quint64 tick);

    bool isOpen() const { return open; }
    // The open event, or the last one when none is open.
    const WatchEvent &current() const { return event; }
    // The last event that ended.
    const WatchEvent &lastEnded() const { return ended; }
    int eventCount() const { return count; }

private:
    qint64 quietGapMs = 10000;
    bool open = false;
    int count = 0;
    WatchEvent event;
    WatchEvent ended;
};

#endif
