#include "eventoutputs.h"

#include "pushdispatcher.h"

#include <QBuffer>
#include <QDir>

namespace
{

QDateTime utc(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

QByteArray jpeg(const QImage &frame)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    frame.save(&buffer, "JPEG");
    return bytes;
}

} // namespace

EventOutputs::EventOutputs(PushDispatcher &push, QObject *parent) : QObject(parent), push(push) {}

AlertEvent EventOutputs::notice(const WatchEvent &event) const
{
    AlertEvent notice;
    notice.camera = target.camera;
    notice.start = utc(event.startMs);
    notice.id = makeAlertEventId(notice.camera, notice.start);
    notice.peakLevel = event.peakLevel;
    notice.peakTime = utc(event.peakMs);
    notice.snapshot = jpeg(event.peakFrame);
    return notice;
}

void EventOutputs::started(const WatchEvent &event, const Target &target)
{
    this->target = target;
    recording = target.record;
    if (!recording)
        return;
    name = eventFileName(target.folder, target.camera, utc(event.startMs));
    push.eventStarted(notice(event));
}

void EventOutputs::updated(const WatchEvent &event)
{
    if (recording)
        push.eventUpdated(notice(event));
}

void EventOutputs::ended(const WatchEvent &event)
{
    EventRecord record;
    record.camera = target.camera;
    record.start = utc(event.startMs);
    record.end = utc(event.endMs);
    record.peakLevel = event.peakLevel;
    record.peakTime = utc(event.peakMs);
    if (!recording) {
        emit finished(record);
        return;
    }
    recording = false;
    AlertEvent end = notice(event);
    end.end = record.end;
    push.eventEnded(end);

    record.folder = target.folder;
    const QString snapshot = name + ".jpg";
    if (event.peakFrame.save(QDir(record.folder).filePath(snapshot), "JPEG"))
        record.snapshotFile = snapshot;
    else
        emit problem("Could not save the snapshot " +
                     QDir::toNativeSeparators(QDir(record.folder).filePath(snapshot)));
    QString error;
    if (!writeEventRecord(record, name, &error)) {
        emit problem("Could not save the event's record in " +
                     QDir::toNativeSeparators(record.folder) + ": " + error);
        record.folder.clear();
    }
    emit finished(record);
}
