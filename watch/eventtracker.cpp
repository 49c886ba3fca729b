#include "eventtracker.h"

bool EventTracker::expire(qint64 nowMs)
{
    if (!open || nowMs - event.endMs < quietGapMs)
        return false;
    return finish();
}

bool EventTracker::finish()
{
    if (!open)
        return false;
    open = false;
    ended = event;
    return true;
}

bool EventTracker::alert(qint64 timeMs, int level, double dissimilarity, const QImage &frame,
                         quint64 tick)
{
    expire(timeMs);
    const bool started = !open;
    if (started) {
        event = WatchEvent();
        event.number = ++count;
        event.startMs = timeMs;
        open = true;
    }
    event.endMs = timeMs;
    ++event.alertingTicks;
    if (started || level > event.peakLevel) {
        event.peakMs = timeMs;
        event.peakLevel = level;
        event.peakDissimilarity = dissimilarity;
        event.peakTick = tick;
        event.peakFrame = frame;
    }
    return started;
}
