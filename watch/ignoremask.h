#ifndef ORVELLA_IGNOREMASK_H
#define ORVELLA_IGNOREMASK_H

#include <QImage>
#include <QSize>
#include <QString>

// The painted areas of a camera are kept as a PNG picture of the frame's
// size, one file per camera in a folder beside the settings file: white
// (grey 128 or more) where changes are ignored, black where they count.

// The folder, e.g. ~/.config/Kelvane/Orvella-masks.
QString ignoreMaskFolder();
// The file of the camera named cameraName in that folder. Characters that
// are not safe in a file name are written as %XX, so every name has a file
// of its own.
QString ignoreMaskPath(const QString &cameraName);

enum class MaskFile { Loaded, Missing, Damaged };

// Reads a mask file as a Format_Grayscale8 image of frameSize, 255 where
// ignored and 0 elsewhere; a picture of another size is scaled to it.
// Missing when there is no file; Damaged, with error saying why, when it
// cannot be read as a picture.
MaskFile loadIgnoreMask(const QString &path, QSize frameSize, QImage *mask, QString *error);
// Writes mask (nonzero where ignored) as a PNG, replacing the file whole or
// not at all; false, with error saying why, when it could not.
bool saveIgnoreMask(const QString &path, const QImage &mask, QString *error);

#endif
