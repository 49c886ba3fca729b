#include "eventrecord.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

namespace
{

const char *const endings[] = {".json", ".jpg", ".mp4", ".mp4.part"};

QString iso(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime fromIso(const QJsonValue &value)
{
    QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
}

// A name of a file in the record's own folder, and nothing else.
QString plainFileName(const QJsonValue &value)
{
    const QString name = value.toString();
    if (name.isEmpty() || name.contains('/') || name.contains('\\') || name == "." || name == "..")
        return QString();
    return name;
}

} // namespace

QString EventRecord::snapshotPath() const
{
    return snapshotFile.isEmpty() ? QString() : QDir(folder).filePath(snapshotFile);
}

QString EventRecord::clipPath() const
{
    return clipFile.isEmpty() ? QString() : QDir(folder).filePath(clipFile);
}

QString eventFileName(const QString &folder, const QString &camera, const QDateTime &start)
{
    QString safe;
    for (const QChar c : camera)
        safe += c.unicode() < 0x20 || QString("/\\:*?\"<>|").contains(c) ? QChar('_') : c;
    const QString base = safe + "_" + start.toUTC().toString("yyyy-MM-dd_HH-mm-ss") + "_UTC";
    const QDir dir(folder);
    for (int n = 1;; ++n) {
        const QString name = n == 1 ? base : base + "-" + QString::number(n);
        if (std::none_of(std::begin(endings), std::end(endings),
                         [&](const char *ending) { return dir.exists(name + ending); }))
            return name;
    }
}

bool writeEventRecord(const EventRecord &record, const QString &name, QString *error)
{
    QJsonObject json;
    json["camera"] = record.camera;
    json["start"] = iso(record.start);
    json["end"] = iso(record.end);
    json["peakLevel"] = record.peakLevel;
    json["peakTime"] = iso(record.peakTime);
    if (!record.snapshotFile.isEmpty())
        json["snapshot"] = record.snapshotFile;
    if (!record.clipFile.isEmpty())
        json["clip"] = record.clipFile;
    QSaveFile file(QDir(record.folder).filePath(name + ".json"));
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(json).toJson()) < 0 ||
        !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

QVector<EventRecord> readEventRecords(const QString &folder)
{
    QVector<EventRecord> records;
    const QDir dir(folder);
    for (const QString &name : dir.entryList({"*.json"}, QDir::Files)) {
        QFile file(dir.filePath(name));
        // Records are small; anything large is not one of them.
        if (file.size() > 64 * 1024 || !file.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
        EventRecord record;
        record.camera = json["camera"].toString();
        record.start = fromIso(json["start"]);
        record.end = fromIso(json["end"]);
        record.peakLevel = json["peakLevel"].toInt(-1);
        record.peakTime = fromIso(json["peakTime"]);
        record.snapshotFile = plainFileName(json["snapshot"]);
        record.clipFile = plainFileName(json["clip"]);
        record.folder = folder;
        if (record.camera.isEmpty() || !record.start.isValid() || !record.end.isValid() ||
            record.peakLevel < 0 || record.peakLevel > 1000)
            continue;
        records.append(record);
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const EventRecord &a, const EventRecord &b) { return a.start < b.start; });
    return records;
}
