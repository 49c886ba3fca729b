#include "ignoremask.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace
{

// Pictures larger than this are no mask of ours: not worth the memory.
const int largestSide = 8192;
// Long names end in a digest, so the file name stays within what file
// systems take.
const int longestName = 120;

} // namespace

QString ignoreMaskFolder()
{
    const QFileInfo settings(QSettings("Kelvane", "Orvella").fileName());
    const QString folder =
        settings.isAbsolute() && QFileInfo(settings.absolutePath()).isDir()
            ? settings.absolutePath()
            : QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/Kelvane";
    return folder + "/Orvella-masks";
}

QString ignoreMaskPath(const QString &cameraName)
{
    // Letters, digits, '-', '_', and spaces and dots inside the name stay;
    // everything else becomes %XX of its UTF-8 bytes, '%' included.
    const QByteArray bytes = cameraName.toUtf8();
    QString name;
    for (int i = 0; i < bytes.size(); ++i) {
        const auto c = uchar(bytes[i]);
        const bool inside = i > 0 && i + 1 < bytes.size();
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                          ((c == ' ' || c == '.') && inside);
        name += safe ? QString(QChar(c)) : QString::asprintf("%%%02X", c);
    }
    if (name.isEmpty())
        name = "%";
    if (name.size() > longestName) {
        const QByteArray digest =
            QCryptographicHash::hash(cameraName.toUtf8(), QCryptographicHash::Sha1).toHex();
        name = name.left(longestName - 41) + "-" + QString::fromLatin1(digest);
    }
    return ignoreMaskFolder() + "/" + name + ".png";
}

MaskFile loadIgnoreMask(const QString &path, QSize frameSize, QImage *mask, QString *error)
{
    if (!QFileInfo::exists(path))
        return MaskFile::Missing;
    QImageReader reader(path);
    const QSize size = reader.size();
    QImage picture;
    if (size.isValid() && (size.width() > largestSide || size.height() > largestSide)) {
        *error = QString("the picture is %1 x %2 pixels, more than a mask can be")
                     .arg(size.width())
                     .arg(size.height());
        return MaskFile::Damaged;
    }
    if (!reader.read(&picture) || picture.isNull()) {
        *error = reader.errorString();
        return MaskFile::Damaged;
    }
    if (picture.size() != frameSize)
        picture = picture.scaled(frameSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    picture = picture.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < picture.height(); ++y) {
        uchar *line = picture.scanLine(y);
        for (int x = 0; x < picture.width(); ++x)
            line[x] = line[x] >= 128 ? 255 : 0;
    }
    *mask = picture;
    return MaskFile::Loaded;
}

bool saveIgnoreMask(const QString &path, const QImage &mask, QString *error)
{
    QImage picture = mask.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < picture.height(); ++y) {
        uchar *line = picture.scanLine(y);
        for (int x = 0; x < picture.width(); ++x)
            line[x] = line[x] ? 255 : 0;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = "the folder " + QFileInfo(path).absolutePath() + " could not be made";
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(picture)) {
        *error = writer.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
