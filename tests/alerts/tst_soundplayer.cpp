#include "soundplayer.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace
{

// A RIFF/WAVE file of 8-bit mono PCM at 8 kHz; declaredData may claim more
// samples than the file holds.
QByteArray waveFile(quint32 samples, quint32 declaredData)
{
    auto le32 = [](quint32 v) {
        QByteArray b(4, '\0');
        qToLittleEndian(v, b.data());
        return b;
    };
    auto le16 = [](quint16 v) {
        QByteArray b(2, '\0');
        qToLittleEndian(v, b.data());
        return b;
    };
    return "RIFF" + le32(36 + declaredData) + "WAVE" + "fmt " + le32(16) + le16(1) + le16(1) +
           le32(8000) + le32(8000) + le16(1) + le16(8) + "data" + le32(declaredData) +
           QByteArray(int(samples), char(0x80));
}

} // namespace

class TestSoundPlayer : public QObject
{
    Q_OBJECT
private slots:
    void routing_data();
    void routing();
};

void TestSoundPlayer::routing_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<bool>("byMediaPlayer");
    QTest::addColumn<bool>("garbage");
    QTest::newRow("ogg") << "alarm.ogg" << QByteArray("not a sound") << true << true;
    QTest::newRow("wav") << "alarm.wav" << waveFile(800, 800) << false << false;
    QTest::newRow("wav in capitals") << "ALARM.WAV" << waveFile(800, 800) << false << false;
    QTest::newRow("wav of garbage") << "bad.wav" << QByteArray("not a sound") << true << true;
    QTest::newRow("truncated wav") << "cut.wav" << waveFile(100, 8000) << true << false;
    QTest::newRow("missing") << "gone.ogg" << QByteArray() << false << false;
}

// None of these can be heard here: playing them must stay quiet, and the
// program must still end (the test has a time limit).
void TestSoundPlayer::routing()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(bool, byMediaPlayer);
    QFETCH(bool, garbage);
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    SoundPlayer player;
    player.play(path);
    const QUrl media = player.mediaPlayer().media().request().url();
    QCOMPARE(media, byMediaPlayer ? QUrl::fromLocalFile(path) : QUrl());
    // The media player finds out by itself and says nothing.
    if (garbage)
        QTRY_VERIFY(player.mediaPlayer().error() != QMediaPlayer::NoError ||
                    player.mediaPlayer().mediaStatus() == QMediaPlayer::InvalidMedia);
}

QTEST_MAIN(TestSoundPlayer)
#include "tst_soundplayer.moc"
