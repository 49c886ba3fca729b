#include "eventclips.h"

#include "capturelibrary.h"

#include <QVector>

#include <algorithm>

EventClips::EventClips(QObject *parent) : QObject(parent)
{
    // Clips are written in the background some seconds after they end;
    // nothing in the program waits for them.
    poll.setInterval(500);
    connect(&poll, &QTimer::timeout, this, &EventClips::collect);
}

bool EventClips::available()
{
    return captureLibrary().hasEventClips();
}

void EventClips::keep(int device, int prerollMs)
{
    if (!available() || device < 0)
        return;
    const int value = prerollMs < 0 ? -1 : std::min(prerollMs, EVENT_CLIP_MAX_PREROLL_MS);
    if (kept.value(device, -1) == value)
        return;
    if (captureLibrary().setEventClipPreroll(device, value))
        kept[device] = value;
}

EventClips::Start EventClips::start(int device, const QString &path)
{
    if (!available() || device < 0)
        return Start::Refused;
    const QByteArray bytes = path.toUtf8();
    switch (captureLibrary().startEventClip(device, bytes.constData())) {
    case 1:
        ++outstanding[device];
        poll.start();
        return Start::Started;
    case 2:
        return Start::Joined;
    default:
        return Start::Refused;
    }
}

bool EventClips::stop(int device, int postrollMs)
{
    return available() && device >= 0 &&
           captureLibrary().stopEventClip(device, std::max(0, postrollMs)) == 1;
}

void EventClips::collect()
{
    // Emitted after the walk: a receiver may start the next clip.
    QVector<EventClipResult> done;
    for (auto it = outstanding.begin(); it != outstanding.end();) {
        EventClipReport report;
        while (it.value() > 0 && captureLibrary().takeEventClipReport(it.key(), &report)) {
            --it.value();
            EventClipResult result;
            result.device = it.key();
            result.path = QString::fromUtf8(report.path);
            result.written = report.written != 0;
            result.prerollMs = report.prerollMs;
            result.durationMs = report.durationMs;
            result.message = QString::fromUtf8(report.message);
            done.append(result);
        }
        it = it.value() > 0 ? std::next(it) : outstanding.erase(it);
    }
    if (outstanding.isEmpty())
        poll.stop();
    for (const EventClipResult &result : done)
        emit finished(result);
}
