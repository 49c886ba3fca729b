// Event clips through the capture library's entry points, from cameras the
// test serves on 127.0.0.1 and from the demo camera, checked as a player
// sees them.
// GLib's headers use Qt's keywords as names: they come first.
#ifdef ORVELLA_HAVE_RTSP_SERVER
#include "localrtspserver.h"
#endif

#include "capturetest.h"
#include "cliptest.h"
#include "escapi.h"
#include "escapiclips.h"
#include "mjpegserver.h"

#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <gst/gst.h>

#include <atomic>
#include <memory>

namespace
{

EventClipStatus statusOf(int device)
{
    EventClipStatus status{};
    getEventClipStatus(device, &status);
    return status;
}

bool reportArrives(int device, EventClipReport &report, int timeoutMs = 15000)
{
    return QTest::qWaitFor([&] { return takeEventClipReport(device, &report) == 1; }, timeoutMs);
}

bool near(unsigned int rgb, unsigned int want, int tolerance)
{
    for (int shift = 0; shift < 24; shift += 8)
        if (qAbs(int(rgb >> shift & 0xFF) - int(want >> shift & 0xFF)) > tolerance)
            return false;
    return true;
}

// Seconds from a clip's first picture to its first picture of colour want:
// the pre-roll as the clip itself shows it; below zero when never.
double secondsBefore(const QVector<DecodedColour> &pictures, unsigned int want)
{
    for (const DecodedColour &picture : pictures)
        if (near(picture.rgb, want, 40))
            return picture.time - pictures.first().time;
    return -1;
}

double longestKeyGap(const ProbedClip &clip)
{
    double longest = 0;
    for (int i = 1; i < clip.keyTimes.size(); ++i)
        longest = qMax(longest, clip.keyTimes[i] - clip.keyTimes[i - 1]);
    return longest;
}

} // namespace

class tst_EventClips : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void refusedWithoutClipsOrCamera();
    void clipsOfThreeCameras();
    void clipIntoAFolderThatCannotBeWritten();
    void eventInPostrollJoinsTheClip();
    void closingTheCameraEndsTheClip();

private:
    int ballCamera();

    QTemporaryDir m_dir;
    QList<int> m_opened;
};

void tst_EventClips::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toUtf8());
    initCOM();
    gst_init(nullptr, nullptr);
    QVERIFY2(!QStandardPaths::findExecutable("ffprobe").isEmpty(), "ffprobe: Debian's ffmpeg");
}

void tst_EventClips::cleanup()
{
    for (int device : m_opened) {
        deinitCapture(device);
        setEventClipPreroll(device, -1);
    }
    m_opened.clear();
}

// A camera of a moving ball, 320 x 240 at ten pictures a second.
int tst_EventClips::ballCamera()
{
    static int made = 0;
    const QByteArray name = "ClipBall" + QByteArray::number(++made);
    qputenv("ORVELLA_CAPTURE_SOURCES", name + "=videotestsrc is-live=true pattern=ball ! "
                                              "video/x-raw,width=320,height=240,framerate=10/1");
    return deviceNamed(name);
}

void tst_EventClips::refusedWithoutClipsOrCamera()
{
    const int device = ballCamera();
    QVERIFY(device >= 0);
    const QByteArray path = QFile::encodeName(m_dir.filePath("refused.mp4"));
    // Clips never turned on, then on for a device that is not open.
    QCOMPARE(startEventClip(device, path.constData()), 0);
    QCOMPARE(setEventClipPreroll(device, 2000), 1);
    QCOMPARE(startEventClip(device, path.constData()), 0);
    QCOMPARE(stopEventClip(device, 0), 0);
    // Values out of range.
    QCOMPARE(setEventClipPreroll(device, EVENT_CLIP_MAX_PREROLL_MS + 1), 0);
    QCOMPARE(setEventClipPreroll(device, -2), 0);
    QCOMPARE(setEventClipPreroll(-1, 1000), 0);
    QCOMPARE(stopEventClip(device, -1), 0);
    QCOMPARE(getEventClipStatus(device, nullptr), 0);
    const QByteArray tooLong(EVENT_CLIP_PATH_SIZE, 'x');
    QCOMPARE(startEventClip(device, tooLong.constData()), 0);
    QCOMPARE(startEventClip(device, nullptr), 0);
    // Nothing happened, so nothing to report.
    EventClipReport report;
    QCOMPARE(takeEventClipReport(device, &report), 0);
    QCOMPARE(statusOf(device).state, EVENT_CLIP_IDLE);
    QCOMPARE(setEventClipPreroll(device, -1), 1);
    QVERIFY(!QFile::exists(QFile::decodeName(path)));
}

// One event on three cameras at once: a 1280 x 720 H.264 RTSP camera, kept
// as it comes, and an MJPEG camera and the demo camera, encoded by the
// library. Each clip has its camera's size, starts at least 5 s before the
// event as its own pictures show, and plays.
void tst_EventClips::clipsOfThreeCameras()
{
#ifdef __SANITIZE_THREAD__
    // Serving, decoding and encoding three cameras in this one process fall
    // far behind real time under ThreadSanitizer; the recorder's threads are
    // checked by the other clip tests.
    QSKIP("too slow under ThreadSanitizer");
#endif
#ifdef ORVELLA_HAVE_RTSP_SERVER
    QVERIFY2(gst_element_factory_find("x264enc"), "x264enc: gstreamer1.0-plugins-ugly");
    LocalRtspServer rtsp("( videotestsrc name=scene is-live=true pattern=green ! "
                         "video/x-raw,width=1280,height=720,framerate=25/1 ! "
                         "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=50 "
                         "option-string=scenecut=0 bitrate=2000 ! "
                         "rtph264pay name=pay0 pt=96 config-interval=1 )");
    QVERIFY(rtsp.listening());
    MjpegServer mjpeg;
    mjpeg.setColour(Qt::gray);
    QVERIFY(mjpeg.listen());
    qputenv("ORVELLA_CAPTURE_SOURCES",
            "ClipDoor=" + QByteArray::fromStdString(rtsp.address()) +
                ";ClipPorch=http://127.0.0.1:" + QByteArray::number(mjpeg.port()) +
                "/video.mjpg;ClipDemo=demo");
    const int door = deviceNamed("ClipDoor");
    const int porch = deviceNamed("ClipPorch");
    const int demo = deviceNamed("ClipDemo");
    QVERIFY(door >= 0 && porch >= 0 && demo >= 0);

    GuardedFrame doorFrame(480, 320), porchFrame(480, 320), demoFrame(480, 320);
    struct Camera {
        int device;
        SimpleCapParams *params;
        QString path;
    };
    const QVector<Camera> cameras = {{door, &doorFrame.params, m_dir.filePath("door.mp4")},
                                     {porch, &porchFrame.params, m_dir.filePath("porch.mp4")},
                                     {demo, &demoFrame.params, m_dir.filePath("demo.mp4")}};
    for (const Camera &camera : cameras) {
        // Turned on before the camera opens: it applies from the start.
        QCOMPARE(setEventClipPreroll(camera.device, 5000), 1);
        QVERIFY(openCamera(camera.device, camera.params));
        m_opened << camera.device;
    }
    const auto kept = [&] {
        return QByteArray("kept ms: door ") + QByteArray::number(statusOf(door).keptMs) +
               ", porch " + QByteArray::number(statusOf(porch).keptMs) + ", demo " +
               QByteArray::number(statusOf(demo).keptMs);
    };
    // Kept back from the newest picture, which the moment of the request
    // comes a little after: half a second more than the pre-roll.
    QTRY_VERIFY2_WITH_TIMEOUT(statusOf(door).keptMs >= 5500 && statusOf(porch).keptMs >= 5500 &&
                                  statusOf(demo).keptMs >= 5500,
                              kept().constData(), 15000);
    QCOMPARE(statusOf(door).encoding, 0);
    QCOMPARE(statusOf(porch).encoding, 1);
    QCOMPARE(statusOf(demo).encoding, 1);
    QVERIFY(statusOf(door).keptBytes > 0);

    // The event: the scenes change colour, then the clips are asked for.
    GstElement *scene = rtsp.element("scene");
    QVERIFY(scene);
    gst_util_set_object_arg(G_OBJECT(scene), "pattern", "red");
    gst_object_unref(scene);
    mjpeg.setColour(QColor(0xe0, 0x20, 0x20));
    for (const Camera &camera : cameras) {
        QCOMPARE(startEventClip(camera.device, QFile::encodeName(camera.path).constData()), 1);
        QCOMPARE(statusOf(camera.device).state, EVENT_CLIP_RECORDING);
        QCOMPARE(stopEventClip(camera.device, 1000), 1);
        QCOMPARE(statusOf(camera.device).state, EVENT_CLIP_POSTROLL);
    }
    QVector<EventClipReport> reports(cameras.size());
    for (int i = 0; i < cameras.size(); ++i) {
        QVERIFY2(reportArrives(cameras[i].device, reports[i], 30000), qPrintable(cameras[i].path));
        QVERIFY2(reports[i].written, reports[i].message);
        QCOMPARE(QFile::decodeName(reports[i].path), cameras[i].path);
        QVERIFY2(reports[i].prerollMs >= 5000, qPrintable(QString::number(reports[i].prerollMs)));
    }
    for (const Camera &camera : cameras)
        QCOMPARE(statusOf(camera.device).state, EVENT_CLIP_IDLE);

    for (const Camera &camera : cameras) {
        QVERIFY(indexFirst(camera.path));
        QCOMPARE(playProblems(camera.path), QString());
        QCOMPARE(QDir(m_dir.path()).entryList({"*.part*"}), QStringList());
    }
    const ProbedClip doorClip = probeClip(cameras[0].path);
    QVERIFY2(doorClip.valid, qPrintable(doorClip.errors));
    QCOMPARE(doorClip.codec, QString("h264"));
    QCOMPARE(doorClip.width, 1280);
    QCOMPARE(doorClip.height, 720);
    QVERIFY(qAbs(doorClip.packets / doorClip.duration - 25) < 1.5);
    // The camera's own keyframes, every 2 s: nothing was encoded again.
    QVERIFY(doorClip.keyTimes.size() >= 3);
    QVERIFY(qAbs(longestKeyGap(doorClip) - 2.0) < 0.1);
    const double doorPreroll = secondsBefore(decodeColours(cameras[0].path), 0xff0000);
    QVERIFY2(doorPreroll >= 5.0, qPrintable(QString::number(doorPreroll)));

    const ProbedClip porchClip = probeClip(cameras[1].path);
    QVERIFY2(porchClip.valid, qPrintable(porchClip.errors));
    QCOMPARE(porchClip.width, 160);
    QCOMPARE(porchClip.height, 120);
    // Pictures stamped as they arrive over the network: a little jitter.
    QVERIFY2(longestKeyGap(porchClip) <= 1.1,
             qPrintable(QString::number(longestKeyGap(porchClip))));
    const double porchPreroll = secondsBefore(decodeColours(cameras[1].path), 0xe02020);
    QVERIFY2(porchPreroll >= 5.0, qPrintable(QString::number(porchPreroll)));

    const ProbedClip demoClip = probeClip(cameras[2].path);
    QVERIFY2(demoClip.valid, qPrintable(demoClip.errors));
    QCOMPARE(demoClip.width, 480);
    QCOMPARE(demoClip.height, 320);
    QCOMPARE(demoClip.frameRate, QString("20/1"));
    QVERIFY(longestKeyGap(demoClip) <= 1.0 + 1e-6);
    // Pre-roll, then the post-roll of 1 s.
    QVERIFY2(demoClip.duration >= 6.0, qPrintable(QString::number(demoClip.duration)));
    QVERIFY(qAbs(demoClip.duration * 1000 - reports[2].durationMs) < 100);
#else
    QSKIP("built without the RTSP server library (libgstrtspserver-1.0-dev)");
#endif
}

// A folder that cannot be written: the report says so and names the clip,
// nothing is left behind, and the next clip is written.
void tst_EventClips::clipIntoAFolderThatCannotBeWritten()
{
    const int device = ballCamera();
    GuardedFrame frame(480, 320);
    QCOMPARE(setEventClipPreroll(device, 0), 1);
    QVERIFY(openCamera(device, &frame.params));
    m_opened << device;
    const QString missing = m_dir.filePath("gone/clip.mp4");
    QCOMPARE(startEventClip(device, QFile::encodeName(missing).constData()), 1);
    EventClipReport report;
    QVERIFY(reportArrives(device, report));
    QCOMPARE(report.written, 0);
    QVERIFY2(QString(report.message).contains(missing), report.message);
    QVERIFY2(QString(report.message).contains("No such file or directory"), report.message);
    QVERIFY(!QDir(m_dir.filePath("gone")).exists());

    const QString good = m_dir.filePath("after-failure.mp4");
    QCOMPARE(startEventClip(device, QFile::encodeName(good).constData()), 1);
    QCOMPARE(stopEventClip(device, 0), 1);
    QVERIFY(reportArrives(device, report));
    QVERIFY2(report.written, report.message);
    const ProbedClip clip = probeClip(good);
    QVERIFY2(clip.valid, qPrintable(clip.errors));
    QCOMPARE(clip.width, 320);
    QCOMPARE(clip.height, 240);
}

// An event during the post-roll joins the clip: one file, one report.
void tst_EventClips::eventInPostrollJoinsTheClip()
{
    const int device = ballCamera();
    GuardedFrame frame(480, 320);
    QCOMPARE(setEventClipPreroll(device, 0), 1);
    QVERIFY(openCamera(device, &frame.params));
    m_opened << device;
    const QString first = m_dir.filePath("joined.mp4");
    const QString second = m_dir.filePath("never.mp4");
    QCOMPARE(startEventClip(device, QFile::encodeName(first).constData()), 1);
    QCOMPARE(stopEventClip(device, 5000), 1);
    QCOMPARE(stopEventClip(device, 5000), 0);
    QCOMPARE(startEventClip(device, QFile::encodeName(second).constData()), 2);
    QCOMPARE(statusOf(device).state, EVENT_CLIP_RECORDING);
    QCOMPARE(stopEventClip(device, 0), 1);
    EventClipReport report;
    QVERIFY(reportArrives(device, report));
    QVERIFY2(report.written, report.message);
    QCOMPARE(QFile::decodeName(report.path), first);
    QVERIFY(!reportArrives(device, report, 300));
    QVERIFY(!QFile::exists(second));
}

// Closing the camera ends its clip with the last picture; the clip is still
// written and its report says why it ended.
void tst_EventClips::closingTheCameraEndsTheClip()
{
    const int device = ballCamera();
    GuardedFrame frame(480, 320);
    QCOMPARE(setEventClipPreroll(device, 1000), 1);
    QVERIFY(openCamera(device, &frame.params));
    QTRY_VERIFY_WITH_TIMEOUT(statusOf(device).keptMs >= 1000, 5000);
    const QString path = m_dir.filePath("closed.mp4");
    QCOMPARE(startEventClip(device, QFile::encodeName(path).constData()), 1);
    deinitCapture(device);
    EventClipReport report;
    QVERIFY(reportArrives(device, report));
    QVERIFY2(report.written, report.message);
    QCOMPARE(QString(report.message), QString("the camera was closed"));
    QVERIFY(report.prerollMs >= 1000);
    QVERIFY(probeClip(path).valid);
    QCOMPARE(statusOf(device).state, EVENT_CLIP_IDLE);
    QCOMPARE(startEventClip(device, QFile::encodeName(path + "2").constData()), 0);
    QCOMPARE(stopEventClip(device, 0), 0);
    setEventClipPreroll(device, -1);
}

QTEST_GUILESS_MAIN(tst_EventClips)
#include "tst_eventclips.moc"
