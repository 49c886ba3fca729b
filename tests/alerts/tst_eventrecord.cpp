#include "eventrecord.h"
#include "outputsettings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// What the output folder keeps of events, and the output settings.
class TestEventRecord : public QObject
{
    Q_OBJECT

private slots:
    void namesNeverReuseAnEarlierEvents();
    void recordsReadBackOldestFirst();
    void damagedRecordsArePassedOver_data();
    void damagedRecordsArePassedOver();
    void outputSettings();
};

namespace
{

const QDateTime start(QDate(2026, 12, 7), QTime(19, 33, 46, 250), Qt::UTC);

bool touch(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

} // namespace

void TestEventRecord::namesNeverReuseAnEarlierEvents()
{
    QTemporaryDir dir;
    QCOMPARE(eventFileName(dir.path(), "Front Door", start), "Front Door_2026-12-07_19-33-46_UTC");
    // Local times are written in UTC.
    QCOMPARE(eventFileName(dir.path(), "Door", start.toOffsetFromUtc(3600)),
             "Door_2026-12-07_19-33-46_UTC");
    QCOMPARE(eventFileName(dir.path(), "a/b\\c:d*e?\"f<g>h|\ni", start),
             "a_b_c_d_e__f_g_h__i_2026-12-07_19-33-46_UTC");

    // Any file of the event, a clip still being written included, takes the name.
    for (const char *ending : {".json", ".jpg", ".mp4", ".mp4.part"}) {
        QTemporaryDir taken;
        QVERIFY(touch(taken.filePath(QString("Door_2026-12-07_19-33-46_UTC") + ending)));
        QCOMPARE(eventFileName(taken.path(), "Door", start), "Door_2026-12-07_19-33-46_UTC-2");
        QVERIFY(touch(taken.filePath("Door_2026-12-07_19-33-46_UTC-2.jpg")));
        QCOMPARE(eventFileName(taken.path(), "Door", start), "Door_2026-12-07_19-33-46_UTC-3");
    }
}

void TestEventRecord::recordsReadBackOldestFirst()
{
    QTemporaryDir dir;
    EventRecord later;
    later.camera = "Garden";
    later.start = start.addSecs(60);
    later.end = later.start.addMSecs(3500);
    later.peakLevel = 412;
    later.peakTime = later.start.addMSecs(1200);
    later.snapshotFile = "Garden.jpg";
    later.clipFile = "Garden.mp4";
    later.folder = dir.path();
    EventRecord earlier = later;
    earlier.camera = "Door";
    earlier.start = start;
    earlier.end = start;
    earlier.clipFile.clear();
    QString error;
    QVERIFY2(writeEventRecord(later, "b", &error), qPrintable(error));
    QVERIFY2(writeEventRecord(earlier, "a2", &error), qPrintable(error));

    const QVector<EventRecord> read = readEventRecords(dir.path());
    QCOMPARE(read.size(), 2);
    QCOMPARE(read[0].camera, QString("Door"));
    QCOMPARE(read[0].clipPath(), QString());
    QCOMPARE(read[1].camera, QString("Garden"));
    QCOMPARE(read[1].start, later.start);
    QCOMPARE(read[1].lengthMs(), 3500);
    QCOMPARE(read[1].peakLevel, 412);
    QCOMPARE(read[1].peakTime, later.peakTime);
    QCOMPARE(read[1].clipPath(), dir.filePath("Garden.mp4"));
    QCOMPARE(read[1].snapshotPath(), dir.filePath("Garden.jpg"));
}

void TestEventRecord::damagedRecordsArePassedOver_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("read");
    QTest::addColumn<QString>("clip");
    const QByteArray good = R"({"camera":"Door","start":"2026-12-07T19:33:46.250Z",)"
                            R"("end":"2026-12-07T19:33:50.000Z","peakLevel":30,)"
                            R"("peakTime":"2026-12-07T19:33:47.000Z")";
    QTest::newRow("whole") << good + R"(,"clip":"x.mp4"})" << true << "x.mp4";
    QTest::newRow("clip elsewhere") << good + R"(,"clip":"../x.mp4"})" << true << QString();
    QTest::newRow("clip absolute") << good + R"(,"clip":"/etc/x"})" << true << QString();
    QTest::newRow("cut short") << good.left(40) << false << QString();
    QTest::newRow("not JSON") << QByteArray("\x89PNG\r\n") << false << QString();
    QTest::newRow("level out of range")
        << QByteArray(good).replace("\"peakLevel\":30", "\"peakLevel\":1001") + "}" << false
        << QString();
    QTest::newRow("no start") << QByteArray(good).replace("\"start\"", "\"begin\"") + "}" << false
                              << QString();
}

void TestEventRecord::damagedRecordsArePassedOver()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, read);
    QFETCH(QString, clip);
    QTemporaryDir dir;
    QFile file(dir.filePath("event.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    const QVector<EventRecord> records = readEventRecords(dir.path());
    QCOMPARE(records.size(), read ? 1 : 0);
    if (read)
        QCOMPARE(records[0].clipFile, clip);
}

void TestEventRecord::outputSettings()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("o.conf"), QSettings::IniFormat);
    const OutputSettings defaults = OutputSettings::load(settings);
    QCOMPARE(defaults.kind, OutputSettings::Frames);
    QVERIFY(defaults.frames() && !defaults.clips());
    QCOMPARE(defaults.prerollSeconds, 5);

    OutputSettings both;
    both.kind = OutputSettings::FramesAndClips;
    both.prerollSeconds = 30;
    both.postrollSeconds = 0;
    both.save(settings);
    settings.sync();
    QSettings again(dir.filePath("o.conf"), QSettings::IniFormat);
    QCOMPARE(OutputSettings::load(again), both);

    again.setValue("output/kind", "films");
    again.setValue("output/preroll", 31);
    again.setValue("output/postroll", "x");
    const OutputSettings bad = OutputSettings::load(again);
    QCOMPARE(bad, OutputSettings());
}

QTEST_GUILESS_MAIN(TestEventRecord)
#include "tst_eventrecord.moc"
