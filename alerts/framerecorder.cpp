#include "framerecorder.h"

QString recordFileName(const QDateTime &utc, quint32 counter)
{
    QString name = utc.toString(Qt::TextDate) + "_" + QString::number(counter);
    // Spaces first, then colons: the name must be valid on every file system.
    name.replace(" ", "_");
    name.replace(":", "-");
    return name;
}

QString recordFilePath(const QString &directoryText, const QDateTime &utc, quint32 counter)
{
    return directoryText + recordFileName(utc, counter) + ".jpg";
}

bool saveFrame(const QImage &frame, const QString &path)
{
    return frame.save(path, nullptr, -1);
}
