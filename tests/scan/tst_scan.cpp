#include "sampleframes.h"
#include "ticksampler.h"

#include <QtTest>

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <vector>

Q_DECLARE_METATYPE(std::vector<int>)

// orvella --scan, run as a user would, on clips made here with GStreamer.
class TestScan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void samplesTheNewestFrameEachTick_data();
    void samplesTheNewestFrameEachTick();
    void findsThePersonWalkingIn();
    void usesTheRememberedSettings();
    void maskLeavesItsAreasOut();
    void realtimeTakesTheClipsOwnTime();
    void fileCutShortIsScannedAsFarAsItGoes();
    void unplayableInput_data();
    void unplayableInput();
    void badCommandLines_data();
    void badCommandLines();

private:
    struct Run {
        int status = -1;
        QString out;
        QString err;
    };
    Run scan(const QStringList &arguments);
    bool writeClip(const QString &path, int seconds, const char *tail);

    QTemporaryDir dir;
    QString clip;
};

namespace
{

const int clipWidth = 160;
const int clipHeight = 120;

// 10 frames a second: a still room for 3 s, someone walking through it for
// 2 s, the still room again.
QImage clipFrame(int index)
{
    static const QImage room = cameraLikeFrame(clipWidth, clipHeight, 5);
    if (index < 30 || index >= 50)
        return room;
    return withPerson(room, QRect(-20 + 6 * (index - 30), 20, 28, 90));
}

} // namespace

void TestScan::initTestCase()
{
    QVERIFY(dir.isValid());
    gst_init(nullptr, nullptr);
    clip = dir.filePath("walk.mkv");
    QVERIFY(writeClip(clip, 7, "jpegenc ! matroskamux"));
}

bool TestScan::writeClip(const QString &path, int seconds, const char *tail)
{
    const QString description =
        QString("appsrc name=src format=time caps=video/x-raw,format=BGRA,width=%1,height=%2,"
                "framerate=10/1 ! videoconvert ! %3 ! filesink location=\"%4\"")
            .arg(clipWidth)
            .arg(clipHeight)
            .arg(tail, path);
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(description.toUtf8().constData(), &error);
    if (!pipeline) {
        qWarning() << (error ? error->message : "no pipeline");
        g_clear_error(&error);
        return false;
    }
    GstElement *source = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    for (int i = 0; i < 10 * seconds; ++i) {
        const QImage frame = clipFrame(i).convertToFormat(QImage::Format_ARGB32);
        const gsize size = gsize(frame.sizeInBytes());
        GstBuffer *buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
        gst_buffer_fill(buffer, 0, frame.constBits(), size);
        GST_BUFFER_PTS(buffer) = GstClockTime(i) * GST_SECOND / 10;
        GST_BUFFER_DURATION(buffer) = GST_SECOND / 10;
        gst_app_src_push_buffer(GST_APP_SRC(source), buffer);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(source));
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *message = gst_bus_timed_pop_filtered(
        bus, 30 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (message)
        gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(source);
    gst_object_unref(pipeline);
    return ok;
}

TestScan::Run TestScan::scan(const QStringList &arguments)
{
    QProcess process;
    // A scan needs no display, and reads its settings from a home of its own.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("HOME", dir.path());
    environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    process.setProcessEnvironment(environment);
    process.start(ORVELLA_PROGRAM, arguments);
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void TestScan::samplesTheNewestFrameEachTick_data()
{
    QTest::addColumn<std::vector<int>>("frameTimes");
    QTest::addColumn<std::vector<int>>("picked"); // the frame each tick takes
    QTest::newRow("25 frames a second")
        << std::vector<int>{0, 40, 80, 120, 160, 200, 240} << std::vector<int>{0, 80, 200};
    QTest::newRow("slower than the ticks")
        << std::vector<int>{0, 250, 500} << std::vector<int>{0, 0, 0, 250, 250, 500};
    QTest::newRow("starting late")
        << std::vector<int>{1000, 1100, 1150, 1300} << std::vector<int>{1000, 1100, 1150, 1300};
    QTest::newRow("one frame") << std::vector<int>{500} << std::vector<int>{500};
}

void TestScan::samplesTheNewestFrameEachTick()
{
    QFETCH(std::vector<int>, frameTimes);
    QFETCH(std::vector<int>, picked);
    std::vector<int> got;
    std::vector<qint64> ticks;
    TickSampler sampler([&](const QImage &frame, qint64 tickMs) {
        got.push_back(frame.text("time").toInt());
        ticks.push_back(tickMs);
    });
    for (int time : frameTimes) {
        QImage frame(1, 1, QImage::Format_ARGB32);
        frame.setText("time", QString::number(time));
        sampler.add(frame, time);
    }
    sampler.finish();
    QCOMPARE(got, picked);
    for (size_t i = 0; i < ticks.size(); ++i)
        QCOMPARE(ticks[i], frameTimes.front() + 100 * qint64(i));
}

void TestScan::findsThePersonWalkingIn()
{
    const Run run = scan({"--scan", clip, "--json"});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    const QJsonObject event = QJsonDocument::fromJson(lines[0].toUtf8()).object();
    QCOMPARE(event.value("event").toInt(), 1);
    // In from 3.0 s; the defaults alert within the first second.
    QVERIFY2(event.value("start").toDouble() >= 3.0 && event.value("start").toDouble() <= 4.0,
             qPrintable(lines[0]));
    QVERIFY(event.value("end").toDouble() >= 4.5 && event.value("end").toDouble() <= 5.2);
    QVERIFY(event.value("peakLevel").toInt() >= 20);
    const QJsonObject summary = QJsonDocument::fromJson(lines[1].toUtf8()).object();
    QVERIFY(summary.value("summary").toBool());
    QCOMPARE(summary.value("events").toInt(), 1);
    QCOMPARE(summary.value("ticks").toInt(), 70);

    // The same in words, with the threshold given: too high for the person.
    const Run words = scan({"--scan", clip});
    QCOMPARE(words.status, 0);
    QVERIFY2(words.out.startsWith("event 1: 0:00:03."), qPrintable(words.out));
    QVERIFY(words.out.contains("\n1 event in 0:00:07.0 (70 ticks"));
    const Run high = scan({"--scan", clip, "--threshold", "95", "--measure", "darkening"});
    QCOMPARE(high.status, 0);
    QVERIFY2(high.out.startsWith("0 events in 0:00:07.0"), qPrintable(high.out));
}

void TestScan::usesTheRememberedSettings()
{
    const QString settings = dir.filePath("config/Kelvane/Orvella.conf");
    QVERIFY(QDir().mkpath(QFileInfo(settings).absolutePath()));
    QFile file(settings);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nthreshold=95\nfilter=7\n[alerts]\nmeasure=darkening\nquietGap=soon\n");
    file.close();
    const Run run = scan({"--scan", clip});
    QFile::remove(settings);
    QCOMPARE(run.status, 0);
    // Darkening at 95: the person is not enough.
    QVERIFY2(run.out.startsWith("0 events"), qPrintable(run.out));
    QVERIFY2(run.err.contains("the remembered filter is not valid; using 0"), qPrintable(run.err));
    QVERIFY2(run.err.contains("the remembered alerts/quietGap is not valid"), qPrintable(run.err));
    // An option given wins over what is remembered.
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nthreshold=95\n[alerts]\nmeasure=darkening\n");
    file.close();
    const Run given = scan({"--scan", clip, "--measure", "area", "--threshold", "20"});
    QFile::remove(settings);
    QVERIFY2(given.out.startsWith("event 1: "), qPrintable(given.out));
}

void TestScan::maskLeavesItsAreasOut()
{
    // All but a strip at the top, where nobody walks, painted out.
    QImage painted(480, 320, QImage::Format_Grayscale8);
    painted.fill(0);
    for (int y = 40; y < 320; ++y)
        std::fill_n(painted.scanLine(y), 480, uchar(255));
    const QString mask = dir.filePath("walkway.png");
    QVERIFY(painted.save(mask));
    const Run run = scan({"--scan", clip, "--mask", mask});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.startsWith("0 events"), qPrintable(run.out));
    // Told not to use it, the scan sees the person again.
    const Run off = scan({"--scan", clip, "--mask", mask, "--ignore-areas", "off"});
    QVERIFY2(off.out.startsWith("event 1: "), qPrintable(off.out));

    const QString damaged = dir.filePath("damaged.png");
    QFile file(damaged);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\x89PNG\r\n\x1a\nnot really");
    file.close();
    const Run bad = scan({"--scan", clip, "--mask", damaged});
    QCOMPARE(bad.status, 1);
    QVERIFY2(bad.err.contains("the mask " + damaged + " could not be read"), qPrintable(bad.err));
}

void TestScan::realtimeTakesTheClipsOwnTime()
{
    const QString shortClip = dir.filePath("short.mkv");
    QVERIFY(writeClip(shortClip, 1, "jpegenc ! matroskamux"));
    QElapsedTimer timer;
    timer.start();
    const Run run = scan({"--scan", shortClip, "--realtime"});
    QCOMPARE(run.status, 0);
    QVERIFY(timer.elapsed() >= 800);
    QVERIFY(run.out.startsWith("0 events in 0:00:01.0 (10 ticks"));
}

void TestScan::fileCutShortIsScannedAsFarAsItGoes()
{
    QFile whole(clip);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    const QString cut = dir.filePath("cut.mkv");
    QFile part(cut);
    QVERIFY(part.open(QIODevice::WriteOnly));
    // The person's walk begins in the part that is left.
    part.write(bytes.left(bytes.size() * 3 / 5));
    part.close();
    const Run run = scan({"--scan", cut});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.err.contains("stopped playing at") && run.err.contains(cut), qPrintable(run.err));
    QVERIFY2(run.out.startsWith("event 1: 0:00:03."), qPrintable(run.out));
    QVERIFY(!run.out.contains("in 0:00:07.0"));
}

void TestScan::unplayableInput_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "missing.avi" << QByteArray() << "no such file";
    QTest::newRow("text") << "notes.avi" << QByteArray("camera=front door\n") << "";
    QTest::newRow("empty") << "empty.mkv" << QByteArray("") << "";
    QTest::newRow("sound only") << "tone.wav" << QByteArray() << "it has no video";
    QTest::newRow("a folder") << "folder" << QByteArray() << "not a file";
}

void TestScan::unplayableInput()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const QString path = dir.filePath(name);
    if (name == "tone.wav") {
        GError *error = nullptr;
        GstElement *pipeline = gst_parse_launch(
            QString("audiotestsrc num-buffers=20 ! wavenc ! filesink location=\"%1\"")
                .arg(path)
                .toUtf8()
                .constData(),
            &error);
        QVERIFY(pipeline);
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        GstBus *bus = gst_element_get_bus(pipeline);
        gst_message_unref(gst_bus_timed_pop_filtered(
            bus, 10 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        gst_object_unref(bus);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    } else if (name == "folder") {
        QVERIFY(QDir().mkpath(path));
    } else if (name != "missing.avi") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const Run run = scan({"--scan", path});
    QCOMPARE(run.status, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.startsWith("orvella: " + path + " cannot be played: "), qPrintable(run.err));
    QVERIFY2(run.err.contains(reason), qPrintable(run.err));
}

void TestScan::badCommandLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "Unknown option 'bogus'";
    QTest::newRow("threshold out of range")
        << QStringList{"--threshold", "200"} << "--threshold takes a whole number from 5 to 95";
    QTest::newRow("even kernel") << QStringList{"--kernel", "4"} << "--kernel takes 3, 5 or 7";
    QTest::newRow("guard neither on nor off")
        << QStringList{"--steady-guard", "maybe"} << "--steady-guard takes on or off";
    QTest::newRow("measure") << QStringList{"--measure", "colour"}
                             << "--measure takes darkening or area";
    QTest::newRow("missing mask") << QStringList{"--mask", "/nonexistent.png"}
                                  << "there is no mask /nonexistent.png";
}

void TestScan::badCommandLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const Run run = scan(QStringList{"--scan", clip} + arguments);
    QCOMPARE(run.status, 1);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TestScan)
#include "tst_scan.moc"
