#ifndef ORVELLA_ALERTEVENT_H
#define ORVELLA_ALERTEVENT_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

// One event as the push channels tell it: alerting ticks closer together than
// the quiet gap, from its first tick to its last. Whoever detects events fills
// it; the same id comes with the start, every update and the end.
struct AlertEvent {
    QString camera;
    QString id;           // unique for this event, e.g. from makeAlertEventId
    QDateTime start;      // UTC, the first alerting tick
    QDateTime end;        // UTC, invalid while the event goes on
    int peakLevel = 0;    // the highest level so far, 0 to 1000
    QDateTime peakTime;   // UTC, the tick with that level
    QByteArray snapshot;  // that tick as JPEG, or empty and...
    QString snapshotPath; // ...a JPEG file holding it, or neither
    QString clipPath;     // where the event's clip is written, once known

    // The snapshot bytes: snapshot, else the file read, else empty.
    QByteArray snapshotJpeg() const;
};

// "<camera>-<start as yyyyMMddTHHmmsszzzZ>": unique per camera and start tick.
QString makeAlertEventId(const QString &camera, const QDateTime &start);

// ISO 8601 in UTC with milliseconds, e.g. 2026-12-06T07:01:36.250Z.
QString isoUtc(const QDateTime &time);

#endif
