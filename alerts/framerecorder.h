#ifndef ORVELLA_FRAMERECORDER_H
#define ORVELLA_FRAMERECORDER_H

#include <QDateTime>
#include <QImage>
#include <QString>

// "<UTC time stamp>_<counter>" with spaces made "_" and colons "-".
QString recordFileName(const QDateTime &utc, quint32 counter);

// The directory text as the chooser left it (ending in a separator), then
// the name, then ".jpg".
QString recordFilePath(const QString &directoryText, const QDateTime &utc, quint32 counter);

// Writes frame as JPEG at the writer's default quality; false when it could not.
bool saveFrame(const QImage &frame, const QString &path);

#endif
