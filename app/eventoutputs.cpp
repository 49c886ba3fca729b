#include "eventoutputs.h"

#include "pushdispatcher.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>

#include <algorithm>

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

EventOutputs::EventOutputs(PushDispatcher &push, EventClips &clips, QObject *parent)
    : QObject(parent), push(push), clips(clips)
{
    connect(&clips, &EventClips::finished, this, &EventOutputs::clipDone);
}

void EventOutputs::clipDone(const EventClipResult &result)
{
    const QString path = QDir::toNativeSeparators(result.path);
    if (!result.written)
        emit problem("Could not save the clip " + path +
                     (result.message.isEmpty() ? QString() : ": " + result.message));
    else if (!result.message.isEmpty())
        emit problem("The clip " + path + " ended early: " + result.message);
}

AlertEvent EventOutputs::notice(const WatchEvent &event) const
{
    AlertEvent notice;
    notice.camera = target.camera;
    notice.start = utc(event.startMs);
    notice.id = makeAlertEventId(notice.camera, notice.start);
    notice.peakLevel = event.peakLevel;
    notice.peakTime = utc(event.peakMs);
    notice.snapshot = jpeg(event.peakFrame);
    // Where the clip will be once written; the webhook and MQTT carry it.
    if (!clipFile.isEmpty())
        notice.clipPath = QDir(target.folder).filePath(clipFile);
    return notice;
}

void EventOutputs::started(const WatchEvent &event, const Target &target)
{
    this->target = target;
    recording = target.record;
    clipFile.clear();
    if (recording) {
        name = eventFileName(target.folder, target.camera, utc(event.startMs));
        if (target.clips)
            startClip();
    }
    // The push channels have switches of their own: they go out with Record
    // off as well. Without any, no snapshot is encoded for them.
    if (push.settings().anyEnabled())
        push.eventStarted(notice(event));
}

void EventOutputs::startClip()
{
    const QString path = QDir(target.folder).filePath(name + ".mp4");
    switch (clips.start(target.device, path)) {
    case EventClips::Start::Started:
        clipFile = name + ".mp4";
        lastClipPath = path;
        break;
    case EventClips::Start::Joined:
        if (!lastClipPath.isEmpty())
            clipFile = QDir(target.folder).relativeFilePath(lastClipPath);
        break;
    case EventClips::Start::Refused:
        emit problem("No clip of this event: the camera does not keep its pictures for clips");
        break;
    }
}

void EventOutputs::updated(const WatchEvent &event)
{
    if (push.settings().anyEnabled())
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
    if (!clipFile.isEmpty()) {
        // The post-roll counts from the last alerting tick, which the quiet
        // gap may have passed already.
        const qint64 since = QDateTime::currentMSecsSinceEpoch() - event.endMs;
        clips.stop(target.device, int(std::max<qint64>(0, target.postrollMs - since)));
        record.clipFile = clipFile;
    }
    if (push.settings().anyEnabled()) {
        AlertEvent end = notice(event);
        end.end = record.end;
        push.eventEnded(end);
    }
    clipFile.clear();
    if (!recording) {
        emit finished(record);
        return;
    }
    recording = false;

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
