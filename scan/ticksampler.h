#ifndef ORVELLA_TICKSAMPLER_H
#define ORVELLA_TICKSAMPLER_H

#include <QImage>

#include <functional>

// Takes from a clip's frames the ones a watch would: one a tick, every
// intervalMs from the first frame's time, the newest frame at or before the
// tick's time. A clip slower than the ticks gives the same frame to several.
class TickSampler
{
public:
    using Tick = std::function<void(const QImage &frame, qint64 tickMs)>;

    explicit TickSampler(Tick tick, qint64 intervalMs = 100)
        : tick(std::move(tick)), interval(intervalMs)
    {
    }

    // A frame of the clip at timeMs; runs the ticks due before it.
    void add(const QImage &frame, qint64 timeMs);
    // The clip ended: runs the tick due at its last frame, if any.
    void finish();

private:
    Tick tick;
    qint64 interval;
    QImage newest;
    qint64 newestMs = 0;
    qint64 nextTickMs = 0;
    bool started = false;
};

#endif
