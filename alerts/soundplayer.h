#ifndef ORVELLA_SOUNDPLAYER_H
#define ORVELLA_SOUNDPLAYER_H

#include <QMediaPlayer>
#include <QObject>
#include <QString>

// Plays an alert sound in the background: whole WAV files through QSound,
// anything else (OGG, damaged files) through a media player, which fails
// quietly. A missing or unplayable file stays silent.
class SoundPlayer : public QObject
{
    Q_OBJECT
public:
    explicit SoundPlayer(QObject *parent = nullptr);

    void play(const QString &path);

    const QMediaPlayer &mediaPlayer() const { return m_player; }

private:
    QMediaPlayer m_player;
};

#endif
