#include "alertevent.h"

#include <QFile>

QByteArray AlertEvent::snapshotJpeg() const
{
    if (!snapshot.isEmpty() || snapshotPath.isEmpty())
        return snapshot;
    QFile file(snapshotPath);
    // A snapshot is a few hundred kilobytes at most; anything far larger is
    // not one.
    constexpr qint64 maxBytes = 16 * 1024 * 1024;
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxBytes)
        return QByteArray();
    return file.readAll();
}

QString makeAlertEventId(const QString &camera, const QDateTime &start)
{
    return camera + QLatin1Char('-') +
           start.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmsszzz'Z'"));
}

QString isoUtc(const QDateTime &time)
{
    if (!time.isValid())
        return QString();
    return time.toUTC().toString(Qt::ISODateWithMs);
}
