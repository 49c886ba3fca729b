// The clip recorder on cameras made by the test: numbered pictures pushed as
// fast as the pipeline takes them, so minutes of a camera's stream pass in
// seconds, and every request is made at a picture's own time.
#include "cliprecorder.h"
#include "clipring.h"
#include "cliptest.h"
#include "clipwriter.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <sys/mount.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <memory>

namespace
{

constexpr int Rate = 10; // pictures a second of stream time

GstClockTime at(int number)
{
    return GstClockTime(number) * GST_SECOND / Rate;
}

// A camera of numbered pictures. With encoded set, it sends H.264 made by
// the test, which a decoder picked while it plays turns back into pictures.
class NumberedCamera
{
public:
    NumberedCamera(const std::shared_ptr<ClipRecorder> &recorder, bool encoded = false,
                   const char *framerate = "10/1")
    {
        const QByteArray caps =
            QByteArray("video/x-raw,format=I420,width=") + QByteArray::number(NumberedWidth) +
            ",height=" + QByteArray::number(NumberedHeight) + ",framerate=" + framerate;
        const QByteArray middle =
            encoded ? "x264enc speed-preset=ultrafast tune=zerolatency key-int-max=20 "
                      "option-string=scenecut=0 bitrate=300 ! queue ! decodebin ! videoconvert ! "
                    : "";
        const QByteArray launch =
            "appsrc name=src format=time block=true max-bytes=200000 caps=" + caps + " ! " +
            middle + "appsink name=sink sync=false max-buffers=1 drop=true";
        m_pipeline = gst_parse_launch(launch.constData(), nullptr);
        m_source = gst_bin_get_by_name(GST_BIN(m_pipeline), "src");
        GstElement *sink = gst_bin_get_by_name(GST_BIN(m_pipeline), "sink");
        recorder->attach(m_pipeline, sink);
        gst_object_unref(sink);
        gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
    }
    ~NumberedCamera()
    {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_source);
        gst_object_unref(m_pipeline);
    }

    // Picture number at its own time, or at time when given.
    void push(int number, GstClockTime time = GST_CLOCK_TIME_NONE)
    {
        const gsize size = gsize(NumberedWidth * NumberedHeight * 3 / 2);
        GstBuffer *buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_WRITE);
        drawNumber(map.data, number);
        gst_buffer_unmap(buffer, &map);
        GST_BUFFER_PTS(buffer) = GST_CLOCK_TIME_IS_VALID(time) ? time : at(number);
        GST_BUFFER_DURATION(buffer) = GST_SECOND / Rate;
        gst_app_src_push_buffer(GST_APP_SRC(m_source), buffer);
    }

    // Starts the camera's times again, as a file played again from its start
    // does.
    void restartTimes()
    {
        gst_element_send_event(m_source, gst_event_new_flush_start());
        gst_element_send_event(m_source, gst_event_new_flush_stop(TRUE));
    }

private:
    GstElement *m_pipeline;
    GstElement *m_source;
};

// Collects reports until count have come or timeoutMs passed.
QVector<ClipRecorder::Report> reports(ClipRecorder &recorder, int count, int timeoutMs = 60000)
{
    QVector<ClipRecorder::Report> taken;
    (void)QTest::qWaitFor(
        [&] {
            ClipRecorder::Report report;
            while (recorder.takeReport(report))
                taken.append(report);
            return taken.size() >= count;
        },
        timeoutMs);
    return taken;
}

// The report of the clip at path; clips written side by side may be done in
// any order.
ClipRecorder::Report reportOf(const QVector<ClipRecorder::Report> &done, const QString &path)
{
    for (const ClipRecorder::Report &report : done)
        if (QString::fromStdString(report.path) == path)
            return report;
    return {};
}

QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({"*.part*"}, QDir::Files | QDir::Hidden);
}

// Where the numbered pictures of a clip start and end, and whether they
// follow each other without a gap.
struct Span {
    int first = -1;
    int last = -1;
    bool whole = false;
    double firstTime = 0;
    QVector<DecodedPicture> pictures;

    // Seconds in the clip from its first picture to picture number.
    double secondsTo(int number) const
    {
        for (const DecodedPicture &picture : pictures)
            if (picture.number == number)
                return picture.time - firstTime;
        return -1;
    }
};

Span spanOf(const QVector<DecodedPicture> &pictures)
{
    Span span;
    span.pictures = pictures;
    if (span.pictures.isEmpty())
        return span;
    span.first = span.pictures.first().number;
    span.last = span.pictures.last().number;
    span.firstTime = span.pictures.first().time;
    span.whole = true;
    for (int i = 1; i < span.pictures.size(); ++i)
        if (span.pictures[i].number != span.pictures[i - 1].number + 1)
            span.whole = false;
    return span;
}

Span spanOf(const QString &path)
{
    const QVector<QVector<DecodedPicture>> clips = decodeNumbered({path});
    return spanOf(clips.first());
}

ClipFrame frameAt(double seconds, bool key, gsize bytes = 100)
{
    ClipFrame frame;
    frame.buffer.reset(gst_buffer_new_allocate(nullptr, bytes, nullptr));
    frame.time = frame.decode = GstClockTime(seconds * GST_SECOND);
    frame.key = key;
    return frame;
}

// A tiny tmpfs, when this process may mount (root, as in CI, with the
// right to mount); unmounted when it goes.
class SmallDisk
{
public:
    SmallDisk(const QString &folder, const char *options) : m_folder(QFile::encodeName(folder))
    {
        QDir().mkpath(folder);
        m_mounted = mount("tmpfs", m_folder.constData(), "tmpfs", 0, options) == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            umount2(m_folder.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }

private:
    QByteArray m_folder;
    bool m_mounted = false;
};

} // namespace

class tst_ClipRecorder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void ringKeepsWholeGroups_data();
    void ringKeepsWholeGroups();
    void clipStartsAtTheRightKeyframe_data();
    void clipStartsAtTheRightKeyframe();

    void hundredEvents();
    void eventInPostrollExtendsTheClip();
    void nextClipStartsWhereTheLastEnded();
    void cameraStreamKeptAsItComes();
    void keyframeEverySecondAtAnyRate_data();
    void keyframeEverySecondAtAnyRate();
    void diskProblems_data();
    void diskProblems();
    void existingFileIsNotReplaced();
    void cameraStopsMidClip();
    void timesThatStartAgainCarryOn();
    void refusals();

private:
    QTemporaryDir m_dir;
};

void tst_ClipRecorder::initTestCase()
{
    gst_init(nullptr, nullptr);
    QVERIFY(m_dir.isValid());
    QVERIFY2(gst_element_factory_find("x264enc") || gst_element_factory_find("openh264enc"),
             "an H.264 encoder: gstreamer1.0-plugins-ugly or -bad");
    QVERIFY2(!QStandardPaths::findExecutable("ffprobe").isEmpty(), "ffprobe: Debian's ffmpeg");
}

void tst_ClipRecorder::ringKeepsWholeGroups_data()
{
    QTest::addColumn<double>("span");
    QTest::addColumn<QString>("frames"); // K keyframe, d other, one a second
    QTest::addColumn<int>("byteLimit");
    QTest::addColumn<int>("kept");

    QTest::newRow("starts at a keyframe") << 10.0 << "ddKdd" << 0 << 3;
    QTest::newRow("keeps the span") << 2.0 << "KdKdKdKd" << 0 << 4;
    QTest::newRow("a long group stays whole") << 2.0 << "KdddddKd" << 0 << 8;
    QTest::newRow("zero span keeps the newest group") << 0.0 << "KdKdKdd" << 0 << 3;
    QTest::newRow("byte limit drops old groups") << 100.0 << "KdKdKdKd" << 450 << 4;
    QTest::newRow("a group over the limit goes whole") << 100.0 << "Kddddd" << 450 << 0;
}

void tst_ClipRecorder::ringKeepsWholeGroups()
{
    QFETCH(double, span);
    QFETCH(QString, frames);
    QFETCH(int, byteLimit);
    QFETCH(int, kept);

    ClipRing ring;
    ring.setSpan(GstClockTime(span * GST_SECOND));
    if (byteLimit)
        ring.setByteLimit(std::size_t(byteLimit));
    for (int i = 0; i < frames.size(); ++i)
        ring.push(frameAt(i, frames[i] == 'K'));
    QCOMPARE(int(ring.size()), kept);
    QCOMPARE(ring.bytes(), std::size_t(kept) * 100);
    if (kept)
        QVERIFY(ring.from(0).front().key);
}

void tst_ClipRecorder::clipStartsAtTheRightKeyframe_data()
{
    QTest::addColumn<double>("latest");
    QTest::addColumn<double>("notBefore"); // below zero: none
    QTest::addColumn<double>("start");     // below zero: none yet

    // Keyframes at 0, 2, 4 and 6 s; pictures every second up to 7 s.
    QTest::newRow("last keyframe before") << 4.5 << -1.0 << 4.0;
    QTest::newRow("exactly on a keyframe") << 4.0 << -1.0 << 4.0;
    QTest::newRow("not reaching back that far") << -0.5 << -1.0 << 0.0;
    QTest::newRow("after the newest") << 30.0 << -1.0 << 6.0;
    QTest::newRow("previous clip ended later") << 1.0 << 4.0 << 4.0;
    QTest::newRow("previous clip ended earlier") << 4.5 << 2.0 << 4.0;
    QTest::newRow("previous clip ended after all") << 4.5 << 8.0 << -1.0;
}

void tst_ClipRecorder::clipStartsAtTheRightKeyframe()
{
    QFETCH(double, latest);
    QFETCH(double, notBefore);
    QFETCH(double, start);

    ClipRing ring;
    ring.setSpan(100 * GST_SECOND);
    for (int i = 0; i < 8; ++i)
        ring.push(frameAt(i, i % 2 == 0));
    const std::size_t index =
        ring.clipStart(latest < 0 ? 0 : GstClockTime(latest * GST_SECOND),
                       notBefore < 0 ? GST_CLOCK_TIME_NONE : GstClockTime(notBefore * GST_SECOND));
    if (start < 0) {
        QCOMPARE(index, ring.size());
    } else {
        QVERIFY(index < ring.size());
        QCOMPARE(ring.from(index).front().time, GstClockTime(start * GST_SECOND));
    }
}

// A hundred events over half an hour of a camera's stream: every clip is
// written, starts at least the pre-roll before its request as the clip's own
// times show, holds every picture from its start to the end of its
// post-roll, and shares none with the clips around it.
void tst_ClipRecorder::hundredEvents()
{
#ifdef __SANITIZE_THREAD__
    // ThreadSanitizer slows the pictures' every step some fiftyfold; a few
    // events check the threads as well as a hundred would.
    constexpr int Events = 4;
#else
    constexpr int Events = 100;
#endif
    constexpr int Preroll = 5 * Rate;
    constexpr int Postroll = 5 * Rate;
    const QString folder = m_dir.filePath("hundred");
    QVERIFY(QDir().mkpath(folder));
    auto recorder = ClipRecorder::create();
    recorder->keep(5 * GST_SECOND);

    struct Event {
        int start;
        int end;
        QString path;
    };
    QVector<Event> events;
    for (int k = 0; k < Events; ++k) {
        // Events of 0.5 to 4 s, the next one 11 s after this one's
        // post-roll at the earliest, as a 10 s quiet gap gives.
        const int start = 100 + 160 * k + (k * 7) % 10;
        events.append({start, start + 5 + (k * 37) % 36,
                       folder + QString("/event-%1.mp4").arg(k, 3, 10, QChar('0'))});
    }
    {
        NumberedCamera camera(recorder);
        int starting = 0;
        int ending = 0;
        for (int n = 0; n <= events.last().end + Postroll + 2 * Rate; ++n) {
            camera.push(n);
            if (starting < Events && n == events[starting].start)
                QCOMPARE(recorder->start(events[starting++].path.toStdString(), at(n)),
                         ClipRecorder::Start::Started);
            if (ending < Events && n == events[ending].end)
                QVERIFY(recorder->stop(Postroll * GST_SECOND / Rate, at(events[ending++].end)));
        }
        const QVector<ClipRecorder::Report> done = reports(*recorder, Events);
        QCOMPARE(done.size(), Events);
        for (const Event &event : events) {
            const ClipRecorder::Report report = reportOf(done, event.path);
            QVERIFY2(report.written, qPrintable(event.path + ": " + report.message.c_str()));
        }
    }
    QCOMPARE(leftovers(folder), QStringList());

    QStringList paths;
    for (const Event &event : events)
        paths << event.path;
    const QVector<QVector<DecodedPicture>> pictures = decodeNumbered(paths);

    QVector<double> prerolls;
    int previousLast = -1;
    for (int k = 0; k < Events; ++k) {
        const Event &event = events[k];
        QVERIFY2(indexFirst(event.path), qPrintable(topLevelBoxes(event.path).join(' ')));
        const Span span = spanOf(pictures[k]);
        QVERIFY2(span.whole, qPrintable(event.path));
        QVERIFY(span.first > previousLast);
        // The first picture of the event, Preroll pictures or more into the
        // clip by the clip's own times.
        const double preroll = span.secondsTo(event.start);
        QVERIFY2(preroll >= 5.0, qPrintable(QString("%1: %2 s").arg(event.path).arg(preroll)));
        QVERIFY(span.first <= event.start - Preroll);
        // Holds the post-roll: pictures up to 5 s after the event's end.
        QVERIFY2(span.last >= event.end + Postroll - 1, qPrintable(event.path));
        prerolls << preroll;
        previousLast = span.last;
    }
    std::sort(prerolls.begin(), prerolls.end());
    qInfo("pre-roll over %d events: min %.1f s, median %.1f s, max %.1f s", int(Events),
          prerolls.first(), prerolls[Events / 2], prerolls.last());

    // What a player sees, for the first and the last clip.
    for (const Event &event : {events.first(), events.last()}) {
        const ProbedClip clip = probeClip(event.path);
        QVERIFY2(clip.valid, qPrintable(clip.errors));
        QCOMPARE(clip.codec, QString("h264"));
        QCOMPARE(clip.width, NumberedWidth);
        QCOMPARE(clip.height, NumberedHeight);
        QCOMPARE(clip.frameRate, QString("10/1"));
        QCOMPARE(clip.start, 0.0);
        QCOMPARE(clip.duration, clip.packets / double(Rate));
        QCOMPARE(playProblems(event.path), QString());
    }
}

// An event that starts during the post-roll of the one before joins its
// clip, which then records until it is stopped again.
void tst_ClipRecorder::eventInPostrollExtendsTheClip()
{
    const QString folder = m_dir.filePath("extend");
    QVERIFY(QDir().mkpath(folder));
    auto recorder = ClipRecorder::create();
    recorder->keep(2 * GST_SECOND);
    const QString first = folder + "/first.mp4";
    {
        NumberedCamera camera(recorder);
        for (int n = 0; n < 200; ++n) {
            camera.push(n);
            if (n == 50)
                QCOMPARE(recorder->start(first.toStdString(), at(n)), ClipRecorder::Start::Started);
            if (n == 60) {
                QVERIFY(recorder->stop(3 * GST_SECOND, at(n)));
                QVERIFY(!recorder->stop(3 * GST_SECOND, at(n)));
                QCOMPARE(recorder->status().state, ClipRecorder::State::PostRoll);
            }
            if (n == 75) {
                QCOMPARE(recorder->start((folder + "/second.mp4").toStdString(), at(n)),
                         ClipRecorder::Start::Extended);
                QCOMPARE(recorder->status().state, ClipRecorder::State::Recording);
            }
            if (n == 100)
                QVERIFY(recorder->stop(3 * GST_SECOND, at(n)));
        }
        const QVector<ClipRecorder::Report> done = reports(*recorder, 1);
        QCOMPARE(done.size(), 1);
        QCOMPARE(QString::fromStdString(done[0].path), first);
        QVERIFY(done[0].written);
        QCOMPARE(reports(*recorder, 1, 200).size(), 0);
    }
    QVERIFY(!QFile::exists(folder + "/second.mp4"));
    const Span span = spanOf(first);
    QVERIFY(span.whole);
    QVERIFY(span.first <= 30);
    QVERIFY(span.last >= 129);
}

// A clip asked for right after the last one ended starts where that one
// ended: nothing twice, nothing lost, and a shorter pre-roll, said so.
void tst_ClipRecorder::nextClipStartsWhereTheLastEnded()
{
    const QString folder = m_dir.filePath("adjacent");
    QVERIFY(QDir().mkpath(folder));
    auto recorder = ClipRecorder::create();
    recorder->keep(5 * GST_SECOND);
    const QString one = folder + "/one.mp4";
    const QString two = folder + "/two.mp4";
    QVector<ClipRecorder::Report> done;
    {
        NumberedCamera camera(recorder);
        for (int n = 0; n < 300; ++n) {
            camera.push(n);
            if (n == 60)
                QCOMPARE(recorder->start(one.toStdString(), at(n)), ClipRecorder::Start::Started);
            if (n == 70)
                QVERIFY(recorder->stop(GST_SECOND, at(n)));
            if (n == 120)
                QCOMPARE(recorder->start(two.toStdString(), at(n)), ClipRecorder::Start::Started);
            if (n == 130)
                QVERIFY(recorder->stop(GST_SECOND, at(n)));
        }
        done = reports(*recorder, 2);
    }
    QCOMPARE(done.size(), 2);
    QVERIFY(reportOf(done, one).written && reportOf(done, two).written);
    const Span first = spanOf(one);
    const Span second = spanOf(two);
    QVERIFY(first.whole && second.whole);
    QCOMPARE(second.first, first.last + 1);
    QVERIFY(second.first > 120 - 50);
    QCOMPARE(reportOf(done, two).preroll,
             GstClockTimeDiff(at(120)) - GstClockTimeDiff(at(second.first)));
}

// A camera that sends H.264 is kept as it comes: the clip holds the
// camera's own pictures with the camera's own keyframes.
void tst_ClipRecorder::cameraStreamKeptAsItComes()
{
    const QString path = m_dir.filePath("kept.mp4");
    auto recorder = ClipRecorder::create();
    recorder->keep(3 * GST_SECOND);
    QVector<ClipRecorder::Report> done;
    {
        NumberedCamera camera(recorder, true);
        for (int n = 0; n < 150; ++n) {
            camera.push(n);
            if (n == 60) {
                QVERIFY(!recorder->status().encoding);
                QCOMPARE(recorder->start(path.toStdString(), at(n)), ClipRecorder::Start::Started);
            }
            if (n == 80)
                QVERIFY(recorder->stop(GST_SECOND, at(n)));
        }
        done = reports(*recorder, 1);
    }
    QCOMPARE(done.size(), 1);
    QVERIFY2(done[0].written, done[0].message.c_str());
    const ProbedClip clip = probeClip(path);
    QVERIFY2(clip.valid, qPrintable(clip.errors));
    // The camera's encoder makes a keyframe every 20 pictures, 2 s; this
    // recorder's own would make one every second.
    QVERIFY(clip.keyTimes.size() >= 2);
    for (int i = 1; i < clip.keyTimes.size(); ++i)
        QCOMPARE(clip.keyTimes[i] - clip.keyTimes[i - 1], 2.0);
    const Span span = spanOf(path);
    QVERIFY(span.whole);
    QVERIFY(span.first <= 30 && span.first % 20 == 0);
    QVERIFY(span.last >= 89);
    QCOMPARE(playProblems(path), QString());
}

void tst_ClipRecorder::keyframeEverySecondAtAnyRate_data()
{
    QTest::addColumn<QByteArray>("framerate");
    QTest::addColumn<QVector<int>>("stepsMs"); // between pictures, repeated

    QTest::newRow("10 a second") << QByteArray("10/1") << QVector<int>{100};
    QTest::newRow("30 a second") << QByteArray("30/1") << QVector<int>{33, 33, 34};
    QTest::newRow("7 a second") << QByteArray("7/1") << QVector<int>{143, 143, 142};
    QTest::newRow("uneven, rate unknown") << QByteArray("0/1") << QVector<int>{90, 250, 40, 400};
    QTest::newRow("bursts stamped alike") << QByteArray("0/1") << QVector<int>{0, 0, 0, 300};
}

// The recorder's own encoding has a keyframe at least every second,
// whatever the camera's rate, so a clip starts close to its pre-roll.
void tst_ClipRecorder::keyframeEverySecondAtAnyRate()
{
    QFETCH(QByteArray, framerate);
    QFETCH(QVector<int>, stepsMs);

    const QString path = m_dir.filePath("rate-" + QString(QTest::currentDataTag()) + ".mp4");
    auto recorder = ClipRecorder::create();
    recorder->keep(0);
    QVector<ClipRecorder::Report> done;
    {
        NumberedCamera camera(recorder, false, framerate.constData());
        GstClockTime time = 0;
        bool stopped = false;
        for (int n = 0; time < 7 * GST_SECOND; ++n) {
            camera.push(n, time);
            if (n == 0)
                QCOMPARE(recorder->start(path.toStdString(), 0), ClipRecorder::Start::Started);
            time += GstClockTime(stepsMs[n % stepsMs.size()]) * GST_MSECOND;
            if (n == 20)
                QVERIFY(recorder->status().encoding);
            if (!stopped && time >= 5 * GST_SECOND)
                stopped = recorder->stop(0, time);
        }
        QVERIFY(stopped);
        done = reports(*recorder, 1);
    }
    QCOMPARE(done.size(), 1);
    QVERIFY2(done[0].written, done[0].message.c_str());
    const ProbedClip clip = probeClip(path);
    QVERIFY2(clip.valid, qPrintable(clip.errors));
    QVERIFY(clip.keyTimes.size() >= 5);
    for (int i = 1; i < clip.keyTimes.size(); ++i)
        QVERIFY2(clip.keyTimes[i] - clip.keyTimes[i - 1] <= 1.0 + 1e-6,
                 qPrintable(QString::number(clip.keyTimes[i])));
    // Every picture at a time of its own, in order.
    QCOMPARE(playProblems(path), QString());
}

void tst_ClipRecorder::diskProblems_data()
{
    QTest::addColumn<QByteArray>("options");
    QTest::addColumn<QString>("reason");

    QTest::newRow("disk full") << QByteArray("size=64k") << "No space left";
    QTest::newRow("read-only folder") << QByteArray("size=1m,ro") << "Read-only file system";
}

// A clip that cannot be written says why, leaves nothing behind, and the
// next clip, into a folder that works, is written.
void tst_ClipRecorder::diskProblems()
{
    QFETCH(QByteArray, options);
    QFETCH(QString, reason);

    const QString small = m_dir.filePath("small-" + QString(QTest::currentDataTag()).remove(' '));
    SmallDisk disk(small, options.constData());
    if (!disk.mounted()) {
        // Without the right to mount: a file size limit makes every write
        // past 64 KiB fail instead, and a folder that is gone stands for
        // one that cannot be written to.
        if (reason.startsWith("No space")) {
            reason = "File too large";
        } else {
            reason = "No such file or directory";
            QDir(small).removeRecursively();
        }
    }
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    const bool limit = !disk.mounted() && reason == "File too large";
    if (limit) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &small);
    }

    const QString broken = small + "/broken.mp4";
    const QString good =
        m_dir.filePath("after-" + QString(QTest::currentDataTag()).remove(' ') + ".mp4");
    auto recorder = ClipRecorder::create();
    recorder->keep(GST_SECOND);
    QVector<ClipRecorder::Report> done;
    {
        NumberedCamera camera(recorder);
        int n = 0;
        for (; n < 20; ++n)
            camera.push(n);
        QCOMPARE(recorder->start(broken.toStdString(), at(n)), ClipRecorder::Start::Started);
        // Noise is costly to encode: a few seconds of it fill the disk.
        for (; n < 400; ++n) {
            camera.push(n * 7919 % 65536);
            if (recorder->status().state == ClipRecorder::State::Idle)
                break;
        }
        done = reports(*recorder, 1);
        if (limit)
            setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(done.size(), 1);
        QCOMPARE(recorder->status().state, ClipRecorder::State::Idle);
        QCOMPARE(recorder->start(good.toStdString(), at(n)), ClipRecorder::Start::Started);
        for (const int end = n + 40; n < end; ++n)
            camera.push(n);
        QVERIFY(recorder->stop(0, at(n)));
        for (const int end = n + 20; n < end; ++n)
            camera.push(n);
        done += reports(*recorder, 1);
    }
    if (limit)
        setrlimit(RLIMIT_FSIZE, &saved);
    QCOMPARE(done.size(), 2);
    QVERIFY(!done[0].written);
    QVERIFY2(QString::fromStdString(done[0].message).contains(reason), done[0].message.c_str());
    QVERIFY2(QString::fromStdString(done[0].message).contains(broken), done[0].message.c_str());
    QVERIFY(!QFile::exists(broken));
    QCOMPARE(leftovers(small), QStringList());
    QVERIFY2(done[1].written, done[1].message.c_str());
    QVERIFY(probeClip(good).valid);
}

void tst_ClipRecorder::existingFileIsNotReplaced()
{
    const QString path = m_dir.filePath("taken.mp4");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("someone else's");
    }
    auto recorder = ClipRecorder::create();
    recorder->keep(GST_SECOND);
    QVector<ClipRecorder::Report> done;
    {
        NumberedCamera camera(recorder);
        for (int n = 0; n < 60; ++n) {
            camera.push(n);
            if (n == 20)
                QCOMPARE(recorder->start(path.toStdString(), at(n)), ClipRecorder::Start::Started);
        }
        done = reports(*recorder, 1);
    }
    QCOMPARE(done.size(), 1);
    QVERIFY(!done[0].written);
    QVERIFY2(QString::fromStdString(done[0].message).contains("exists already"),
             done[0].message.c_str());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("someone else's"));
}

// A camera that fails mid-clip ends the clip with its last picture; a clip
// asked for while it is being rebuilt starts with its first picture back.
void tst_ClipRecorder::cameraStopsMidClip()
{
    const QString cut = m_dir.filePath("cut.mp4");
    const QString after = m_dir.filePath("after-restart.mp4");
    auto recorder = ClipRecorder::create();
    recorder->keep(2 * GST_SECOND);
    QVector<ClipRecorder::Report> done;
    {
        NumberedCamera camera(recorder);
        for (int n = 0; n < 60; ++n) {
            camera.push(n);
            if (n == 40)
                QCOMPARE(recorder->start(cut.toStdString(), at(n)), ClipRecorder::Start::Started);
        }
        QTRY_COMPARE(recorder->status().newest, at(59));
    }
    recorder->detach("the camera stopped: gone", false);
    QCOMPARE(recorder->start(after.toStdString()), ClipRecorder::Start::Started);
    QCOMPARE(recorder->status().state, ClipRecorder::State::Recording);
    {
        NumberedCamera camera(recorder);
        for (int n = 1000; n < 1060; ++n) {
            camera.push(n, at(n - 1000));
            if (n == 1030)
                QVERIFY(recorder->stop(0, at(30)));
        }
        done = reports(*recorder, 2);
    }
    QCOMPARE(done.size(), 2);
    QVERIFY(reportOf(done, cut).written);
    QCOMPARE(QString::fromStdString(reportOf(done, cut).message),
             QString("the camera stopped: gone"));
    const Span first = spanOf(cut);
    QVERIFY(first.whole);
    QVERIFY(first.first <= 20);
    QCOMPARE(first.last, 59);
    QVERIFY(reportOf(done, after).written);
    const Span second = spanOf(after);
    QVERIFY(second.whole);
    QCOMPARE(second.first, 1000);
}

// A file camera plays again from its start with its times from zero; a clip
// across that point goes on in order, every picture in it.
void tst_ClipRecorder::timesThatStartAgainCarryOn()
{
    const QString path = m_dir.filePath("looped.mp4");
    auto recorder = ClipRecorder::create();
    recorder->keep(2 * GST_SECOND);
    QVector<ClipRecorder::Report> done;
    {
        NumberedCamera camera(recorder);
        for (int n = 0; n < 50; ++n) {
            camera.push(n);
            if (n == 40)
                QCOMPARE(recorder->start(path.toStdString(), at(n)), ClipRecorder::Start::Started);
        }
        QTRY_COMPARE(recorder->status().newest, at(49));
        camera.restartTimes();
        for (int n = 50; n < 100; ++n) {
            camera.push(n, at(n - 50));
            // On the recorder's clock, which carried on past 4.9 s.
            if (n == 70)
                QVERIFY(recorder->stop(0, at(n)));
        }
        done = reports(*recorder, 1);
    }
    QCOMPARE(done.size(), 1);
    QVERIFY2(done[0].written, done[0].message.c_str());
    const Span span = spanOf(path);
    QVERIFY(span.whole);
    QVERIFY(span.first <= 20);
    QVERIFY(span.last >= 69);
    for (int i = 1; i < span.pictures.size(); ++i)
        QVERIFY(span.pictures[i].time > span.pictures[i - 1].time);
    QCOMPARE(playProblems(path), QString());
}

void tst_ClipRecorder::refusals()
{
    auto recorder = ClipRecorder::create();
    // Not attached to any camera.
    recorder->keep(GST_SECOND);
    QCOMPARE(recorder->start(m_dir.filePath("none.mp4").toStdString(), 0),
             ClipRecorder::Start::Refused);
    QVERIFY(!recorder->stop(0, 0));
    NumberedCamera camera(recorder);
    camera.push(0);
    QCOMPARE(recorder->start(std::string(), 0), ClipRecorder::Start::Refused);
    recorder->stopKeeping();
    QCOMPARE(recorder->start(m_dir.filePath("off.mp4").toStdString(), 0),
             ClipRecorder::Start::Refused);
    QCOMPARE(recorder->status().state, ClipRecorder::State::Idle);
    recorder->detach("closed", true);
    recorder->keep(GST_SECOND);
    QCOMPARE(recorder->start(m_dir.filePath("closed.mp4").toStdString(), 0),
             ClipRecorder::Start::Refused);
}

QTEST_GUILESS_MAIN(tst_ClipRecorder)
#include "tst_cliprecorder.moc"
