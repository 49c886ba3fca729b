#include "alertsettings.h"
#include "ignoremask.h"

#include <QtTest>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

// What alerts keep on disk: their settings beside the window's, and each
// camera's painted areas in a picture file.
class TestAlertFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void settingsRoundTrip();
    void missingSettingsAreANewUsersDefaults();
    void malformedSettingsFallBackAndAreNamed_data();
    void malformedSettingsFallBackAndAreNamed();
    void maskRoundTrip();
    void maskOfAnotherSizeIsScaled();
    void damagedMasksAreReportedNotRead_data();
    void damagedMasksAreReportedNotRead();
    void maskFileNamesAreSafeAndDistinct();

private:
    QTemporaryDir home;
};

namespace
{

const QSize frame(480, 320);

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

quint32 crc32Of(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

QByteArray chunk(const char *type, const QByteArray &data)
{
    QByteArray bytes;
    QDataStream length(&bytes, QIODevice::WriteOnly);
    length << quint32(data.size());
    const QByteArray body = QByteArray(type) + data;
    QByteArray tail;
    QDataStream(&tail, QIODevice::WriteOnly) << crc32Of(body);
    return bytes + body + tail;
}

// A PNG that announces a picture of width x height and holds no pixels.
QByteArray pngHeaderOnly(quint32 width, quint32 height)
{
    QByteArray header;
    QDataStream out(&header, QIODevice::WriteOnly);
    out << width << height << quint8(8) << quint8(0) << quint8(0) << quint8(0) << quint8(0);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IEND", QByteArray());
}

} // namespace

void TestAlertFiles::init()
{
    QVERIFY(home.isValid());
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    QSettings("Kelvane", "Orvella").clear();
}

void TestAlertFiles::settingsRoundTrip()
{
    AlertSettings written;
    written.quietGapSeconds = 42;
    written.ignoreAreas = false;
    written.lightingChanges = false;
    written.steadyMovement = false;
    written.minimumDuration = true;
    written.minimumDurationMs = 700;
    written.cameraGlitches = false;
    written.measure = AlertSettings::Darkening;
    {
        QSettings settings("Kelvane", "Orvella");
        saveAlertSettings(settings, written);
    }
    // Read back from the file, where every value is text.
    QSettings settings("Kelvane", "Orvella");
    QStringList problems;
    QCOMPARE(loadAlertSettings(settings, &problems), written);
    QVERIFY(problems.isEmpty());
    QCOMPARE(settings.value("alerts/measure").toString(), QString("darkening"));
}

void TestAlertFiles::missingSettingsAreANewUsersDefaults()
{
    QSettings settings("Kelvane", "Orvella");
    settings.setValue("threshold", 35); // the window's, not ours
    QStringList problems;
    const AlertSettings loaded = loadAlertSettings(settings, &problems);
    QCOMPARE(loaded, AlertSettings());
    QVERIFY(problems.isEmpty());
    QVERIFY(loaded.steadyMovement && loaded.lightingChanges && loaded.cameraGlitches);
    QCOMPARE(loaded.measure, AlertSettings::MovingArea);
    QVERIFY(AlertSettings::off() != AlertSettings());
}

void TestAlertFiles::malformedSettingsFallBackAndAreNamed_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("gap not a number") << "quietGap"
                                      << "soon";
    QTest::newRow("gap too long") << "quietGap"
                                  << "601";
    QTest::newRow("gap zero") << "quietGap"
                              << "0";
    QTest::newRow("flag") << "steadyMovement"
                          << "yes";
    QTest::newRow("duration negative") << "minimumDurationMs"
                                       << "-5";
    QTest::newRow("measure") << "measure"
                             << "colour";
}

void TestAlertFiles::malformedSettingsFallBackAndAreNamed()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QString path = QSettings("Kelvane", "Orvella").fileName();
    QDir().mkpath(QFileInfo(path).absolutePath());
    writeFile(path, QString("[alerts]\nlightingChanges=false\n%1=%2\n").arg(key, value).toUtf8());
    QSettings settings("Kelvane", "Orvella");
    QStringList problems;
    const AlertSettings loaded = loadAlertSettings(settings, &problems);
    QCOMPARE(problems, QStringList{"alerts/" + key});
    // The good key still counts, the bad one takes its default.
    QVERIFY(!loaded.lightingChanges);
    AlertSettings expected;
    expected.lightingChanges = false;
    QCOMPARE(loaded, expected);
}

void TestAlertFiles::maskRoundTrip()
{
    QImage painted(frame, QImage::Format_Grayscale8);
    painted.fill(0);
    for (int y = 100; y < 200; ++y)
        std::fill_n(painted.scanLine(y) + 50, 100, uchar(7)); // any nonzero is painted
    const QString path = ignoreMaskPath("Front Door");
    QVERIFY(path.startsWith(ignoreMaskFolder() + "/"));
    QVERIFY(QFileInfo(ignoreMaskFolder()).absolutePath() ==
            QFileInfo(QSettings("Kelvane", "Orvella").fileName()).absolutePath());
    QString error;
    QVERIFY2(saveIgnoreMask(path, painted, &error), qPrintable(error));
    QImage loaded;
    QCOMPARE(loadIgnoreMask(path, frame, &loaded, &error), MaskFile::Loaded);
    QCOMPARE(loaded.format(), QImage::Format_Grayscale8);
    QCOMPARE(loaded.size(), frame);
    QCOMPARE(loaded.pixelColor(60, 150).red(), 255);
    QCOMPARE(loaded.pixelColor(49, 150).red(), 0);
    QCOMPARE(loaded.pixelColor(60, 200).red(), 0);
    QCOMPARE(loadIgnoreMask(ignoreMaskPath("Back Door"), frame, &loaded, &error),
             MaskFile::Missing);
}

void TestAlertFiles::maskOfAnotherSizeIsScaled()
{
    // Painted by hand at another size, in colour: white is ignored.
    QImage picture(96, 64, QImage::Format_RGB32);
    picture.fill(Qt::black);
    for (int y = 0; y < 64; ++y)
        for (int x = 48; x < 96; ++x)
            picture.setPixel(x, y, qRgb(250, 250, 250));
    const QString path = home.path() + "/hand.png";
    QVERIFY(picture.save(path));
    QImage loaded;
    QString error;
    QCOMPARE(loadIgnoreMask(path, frame, &loaded, &error), MaskFile::Loaded);
    QCOMPARE(loaded.size(), frame);
    QCOMPARE(loaded.pixelColor(239, 10).red(), 0);
    QCOMPARE(loaded.pixelColor(240, 10).red(), 255);
}

void TestAlertFiles::damagedMasksAreReportedNotRead_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QImage good(frame, QImage::Format_Grayscale8);
    good.fill(255);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(good.save(&buffer, "PNG"));
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not a picture") << QByteArray("camera=front\n");
    QTest::newRow("cut off") << png.left(png.size() / 2);
    QTest::newRow("header only") << pngHeaderOnly(480, 320);
    QTest::newRow("huge") << pngHeaderOnly(100000, 100000);
}

void TestAlertFiles::damagedMasksAreReportedNotRead()
{
    QFETCH(QByteArray, bytes);
    const QString path = home.path() + "/damaged.png";
    writeFile(path, bytes);
    QImage loaded(4, 4, QImage::Format_Grayscale8);
    QString error;
    QCOMPARE(loadIgnoreMask(path, frame, &loaded, &error), MaskFile::Damaged);
    QVERIFY(!error.isEmpty());
    // What the caller had stays as it was.
    QCOMPARE(loaded.size(), QSize(4, 4));
}

void TestAlertFiles::maskFileNamesAreSafeAndDistinct()
{
    const QStringList names = {"Front Door",
                               "Front/Door",
                               "Front%2FDoor",
                               "..",
                               ".hidden",
                               "",
                               "Tür",
                               "con",
                               " lead",
                               "trail ",
                               QString(300, 'x'),
                               QString(300, 'x') + "y"};
    QSet<QString> files;
    for (const QString &name : names) {
        const QString path = ignoreMaskPath(name);
        const QString file = QFileInfo(path).fileName();
        QCOMPARE(QFileInfo(path).absolutePath(), ignoreMaskFolder());
        QVERIFY2(!file.startsWith('.') && !file.contains('/') && file.endsWith(".png"),
                 qPrintable(file));
        QVERIFY(file.size() <= 130);
        files.insert(file);
    }
    QCOMPARE(files.size(), names.size());
    QCOMPARE(QFileInfo(ignoreMaskPath("Front Door")).fileName(), QString("Front Door.png"));
    // Each can be written where it says.
    QString error;
    QImage mask(frame, QImage::Format_Grayscale8);
    mask.fill(0);
    for (const QString &name : names)
        QVERIFY2(saveIgnoreMask(ignoreMaskPath(name), mask, &error), qPrintable(error));
}

QTEST_MAIN(TestAlertFiles)
#include "tst_alertfiles.moc"
