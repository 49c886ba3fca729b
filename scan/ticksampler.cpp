#include "ticksampler.h"

void TickSampler::add(const QImage &frame, qint64 timeMs)
{
    if (!started) {
        started = true;
        nextTickMs = timeMs;
    }
    while (nextTickMs < timeMs) {
        tick(newest, nextTickMs);
        nextTickMs += interval;
    }
    newest = frame;
    newestMs = timeMs;
}

void TickSampler::finish()
{
    if (started && nextTickMs <= newestMs) {
        tick(newest, nextTickMs);
        nextTickMs += interval;
    }
}
