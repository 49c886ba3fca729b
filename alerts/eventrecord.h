#ifndef ORVELLA_EVENTRECORD_H
#define ORVELLA_EVENTRECORD_H

#include <QDateTime>
#include <QString>
#include <QVector>

// What the output folder keeps of one event, beside its snapshot and clip:
// "<name>.json", where name is eventFileName() of its camera and start.
struct EventRecord {
    QString camera;
    QDateTime start; // UTC, the first alerting tick
    QDateTime end;   // UTC, the last alerting tick
    int peakLevel = 0;
    QDateTime peakTime;   // UTC
    QString snapshotFile; // file names in the same folder; empty: none
    QString clipFile;
    QString folder; // where it was read from or is written to

    qint64 lengthMs() const { return start.msecsTo(end); }
    QString snapshotPath() const;
    QString clipPath() const;
};

// "<camera>_<yyyy-MM-dd_HH-mm-ss>_UTC", with characters that file names
// cannot hold written as "_"; when a file of that name and any of the
// event's endings (.json, .jpg, .mp4) is in folder, "-2", "-3", ... follow,
// so nothing of an earlier event is ever overwritten.
QString eventFileName(const QString &folder, const QString &camera, const QDateTime &start);

// Writes record as "<name>.json" in record.folder, replacing it whole; false
// with error saying why when it could not.
bool writeEventRecord(const EventRecord &record, const QString &name, QString *error);

// Every record in folder that can be read, oldest first; damaged ones are
// passed over.
QVector<EventRecord> readEventRecords(const QString &folder);

#endif
