#include "soundplayer.h"

#include <QFile>
#include <QFileInfo>
#include <QSound>
#include <QUrl>
#include <QtEndian>

namespace
{

// A RIFF/WAVE file holding at least the length its header declares. QSound
// waits for the rest of a shorter one forever, and then blocks the program
// at exit, so such files go to the media player instead.
bool isWholeWaveFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(12);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return false;
    const quint32 riffSize = qFromLittleEndian<quint32>(head.constData() + 4);
    const qint64 minimumHeader = 44;
    return file.size() >= minimumHeader && qint64(riffSize) + 8 <= file.size();
}

} // namespace

SoundPlayer::SoundPlayer(QObject *parent) : QObject(parent) {}

void SoundPlayer::play(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return;
    if (path.endsWith(QStringLiteral(".wav"), Qt::CaseInsensitive) && isWholeWaveFile(path)) {
        QSound::play(path);
        return;
    }
    const QUrl url = QUrl::fromLocalFile(path);
    if (m_player.media().request().url() != url)
        m_player.setMedia(url);
    // A sound still playing from the previous tick plays on.
    if (m_player.state() != QMediaPlayer::PlayingState)
        m_player.play();
}
