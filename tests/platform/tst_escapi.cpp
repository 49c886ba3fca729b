#include "capturetest.h"
#include "cliptest.h"
#include "escapi.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <gst/gst.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

class tst_Escapi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void listsExtraSourcesInOrder_data();
    void listsExtraSourcesInOrder();
    void namesFitTheBuffer_data();
    void namesFitTheBuffer();
    void deliversExactColours_data();
    void deliversExactColours();
    void scalesToRequestedSize_data();
    void scalesToRequestedSize();
    void refusesSourcesThatDoNotStart_data();
    void refusesSourcesThatDoNotStart();
    void errorTextIsCutWhole_data();
    void errorTextIsCutWhole();
    void refusesBadRequests();
    void closingIsHarmless();
    void initOnWorkerThread();
    void doneDescriptorFollowsTheFrame();
    void framesGoIntoTheBufferLastGiven();
    void loopsVideoFileAtItsOwnRate();
    void failedSourceIsRebuilt();
    void demoCameraMovesAndRests();
    void exitWithPipelinesRunning_data();
    void exitWithPipelinesRunning();

private:
    QTemporaryDir m_config;
    int m_opened = -1;
};

void tst_Escapi::initTestCase()
{
    // No cameras file but the test's own.
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    QCOMPARE(ESCAPIDLLVersion(), ESCAPI_REQUIRED_VERSION);
    initCOM();
    initCOM();
    gst_init(nullptr, nullptr);
}

void tst_Escapi::cleanup()
{
    if (m_opened >= 0)
        deinitCapture(m_opened);
    m_opened = -1;
}

void tst_Escapi::listsExtraSourcesInOrder_data()
{
    QTest::addColumn<QByteArray>("sources");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("none") << QByteArray() << QStringList();
    QTest::newRow("in order given")
        << QByteArray(
               "Ball=videotestsrc pattern=ball;Demo=demo;Clip=filesrc location=/x.mp4 ! decodebin")
        << QStringList{"Ball", "Demo", "Clip"};
    QTest::newRow("malformed skipped")
        << QByteArray(";no equals sign;=videotestsrc;Empty=;  =  ;A=videotestsrc;;B = demo ;")
        << QStringList{"A", "B"};
    QTest::newRow("first equals splits")
        << QByteArray("X=videotestsrc pattern=snow") << QStringList{"X"};
}

void tst_Escapi::listsExtraSourcesInOrder()
{
    QFETCH(QByteArray, sources);
    QFETCH(QStringList, names);

    // Every row names sources not seen before, so they come last.
    qputenv("ORVELLA_CAPTURE_SOURCES", sources);
    const int before = countCaptureDevices();
    const int first = before - names.size();
    QCOMPARE(countCaptureDevices(), before);
    for (int i = 0; i < names.size(); ++i) {
        char name[512];
        getCaptureDeviceName(first + i, name, sizeof name);
        QCOMPARE(QString::fromLatin1(name), names[i]);
    }
}

void tst_Escapi::namesFitTheBuffer_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray longName(600, 'n');
    QTest::newRow("long name cut") << longName << 512 << longName.left(511);
    QTest::newRow("short buffer") << QByteArray("Camera") << 4 << QByteArray("Cam");
    QTest::newRow("room for the zero only") << QByteArray("Camera") << 1 << QByteArray();
    QTest::newRow("exact fit") << QByteArray("Cam") << 4 << QByteArray("Cam");
    QTest::newRow("accents to latin-1")
        << QByteArray("Cam\xc3\xa9ra") << 512 << QByteArray("Cam\xe9ra");
    QTest::newRow("outside latin-1") << QByteArray("K\xe2\x82\xac") << 512 << QByteArray("K?");
}

void tst_Escapi::namesFitTheBuffer()
{
    QFETCH(QByteArray, name);
    QFETCH(int, length);
    QFETCH(QByteArray, expected);

    // The row's source is the newest one, or the same as the last row's.
    qputenv("ORVELLA_CAPTURE_SOURCES", name + "=videotestsrc");
    const int device = countCaptureDevices() - 1;
    QByteArray buffer(1024, '#');
    getCaptureDeviceName(device, buffer.data(), length);
    QCOMPARE(QByteArray(buffer.constData()), expected);
    QVERIFY(buffer.indexOf('\0') < length);
    QCOMPARE(buffer.mid(length), QByteArray(1024 - length, '#'));
}

void tst_Escapi::deliversExactColours_data()
{
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<unsigned int>("expected");
    QTest::addColumn<int>("tolerance");

    QTest::newRow("solid BGRA")
        << QByteArray("videotestsrc pattern=solid-color foreground-color=0xff336699 ! "
                      "video/x-raw,format=BGRA")
        << 0xff336699u << 0;
    QTest::newRow("solid RGB")
        << QByteArray("videotestsrc pattern=solid-color foreground-color=0xff336699 ! "
                      "video/x-raw,format=RGB")
        << 0xff336699u << 0;
    QTest::newRow("red") << QByteArray("videotestsrc pattern=red ! video/x-raw,format=BGRA")
                         << 0xffff0000u << 0;
    QTest::newRow("green") << QByteArray("videotestsrc pattern=green ! video/x-raw,format=RGB")
                           << 0xff00ff00u << 0;
    QTest::newRow("blue") << QByteArray("videotestsrc pattern=blue ! video/x-raw,format=xRGB")
                          << 0xff0000ffu << 0;
    QTest::newRow("from YUV")
        << QByteArray("videotestsrc pattern=solid-color foreground-color=0xff336699 ! "
                      "video/x-raw,format=I420")
        << 0xff336699u << 4;
}

void tst_Escapi::deliversExactColours()
{
    QFETCH(QByteArray, description);
    QFETCH(unsigned int, expected);
    QFETCH(int, tolerance);

    const int device = useCaptureSources("Colour=" + description);
    GuardedFrame frame(480, 320);
    QVERIFY(initCapture(device, &frame.params));
    m_opened = device;
    QVERIFY(captureFrame(device));
    for (int i = 0; i < frame.pixelCount(); ++i) {
        const unsigned int word = frame.words[i];
        for (int shift = 0; shift < 32; shift += 8) {
            const int delta = int(word >> shift & 0xFF) - int(expected >> shift & 0xFF);
            if (qAbs(delta) > tolerance)
                QFAIL(qPrintable(QStringLiteral("pixel %1 is %2").arg(i).arg(word, 8, 16)));
        }
    }
    QVERIFY(frame.guardIntact());
}

void tst_Escapi::scalesToRequestedSize_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");

    QTest::newRow("program's size") << 480 << 320;
    QTest::newRow("odd size") << 101 << 37;
    QTest::newRow("one pixel") << 1 << 1;
    QTest::newRow("larger than source") << 640 << 480;
}

void tst_Escapi::scalesToRequestedSize()
{
    QFETCH(int, width);
    QFETCH(int, height);

    const int device =
        useCaptureSources("Small=videotestsrc pattern=solid-color foreground-color=0xff20a0e0 ! "
                          "video/x-raw,format=RGB,width=64,height=48");
    GuardedFrame frame(width, height);
    QVERIFY(initCapture(device, &frame.params));
    m_opened = device;
    QVERIFY(captureFrame(device));
    for (int i = 0; i < frame.pixelCount(); ++i)
        QCOMPARE(frame.words[i], 0xff20a0e0u);
    QVERIFY(frame.guardIntact());
}

void tst_Escapi::refusesSourcesThatDoNotStart_data()
{
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<QByteArray>("reason");

    QTest::newRow("unknown element")
        << QByteArray("nosuchelement ! videoconvert") << QByteArray("no element \"nosuchelement\"");
    QTest::newRow("element of a package not installed")
        << QByteArray("videotestsrc ! avdec_orvella")
        << QByteArray("no element \"avdec_orvella\"; the Debian package gstreamer1.0-libav "
                      "provides it");
    QTest::newRow("syntax error") << QByteArray("videotestsrc ! ! videoconvert")
                                  << QByteArray("syntax error");
    QTest::newRow("bad property value") << QByteArray("videotestsrc pattern=nosuchpattern")
                                        << QByteArray("could not set property \"pattern\"");
    QTest::newRow("not video") << QByteArray("audiotestsrc") << QByteArray("could not link");
    QTest::newRow("never delivers") << QByteArray("appsrc") << QByteArray("no picture within 4 s");
    QTest::newRow("missing file") << QByteArray(
                                         "filesrc location=/nonexistent/clip.avi ! decodebin")
                                  << QByteArray("Resource not found.");
}

void tst_Escapi::refusesSourcesThatDoNotStart()
{
    QFETCH(QByteArray, description);
    QFETCH(QByteArray, reason);

    StderrCapture errors;
    const int device = useCaptureSources("Broken=" + description);
    GuardedFrame frame(480, 320);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(initCapture(device, &frame.params), 0);
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    doCapture(device);
    QCOMPARE(isCaptureDone(device), 0);
    QVERIFY(std::all_of(frame.words.begin(), frame.words.end(),
                        [](unsigned int w) { return w == GuardedFrame::Guard; }));
    QVERIFY2(errors.text().contains("orvella: camera \"Broken\" did not start: " + reason),
             errors.text().constData());

    // The program can read the same line.
    char text[512];
    const int length = getCaptureErrorText(device, text, sizeof text);
    QVERIFY2(QByteArray(text).startsWith("camera \"Broken\" did not start: " + reason), text);
    QCOMPARE(length, int(std::strlen(text)));
    QVERIFY(errors.text().contains("orvella: " + QByteArray(text) + "\n"));
}

void tst_Escapi::errorTextIsCutWhole_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("expected");

    // camera "Caméra" did not start: ...
    QTest::newRow("no room") << 0 << QByteArray();
    QTest::newRow("room for the zero only") << 1 << QByteArray();
    QTest::newRow("before the accent") << 12 << QByteArray("camera \"Cam");
    QTest::newRow("inside the accent") << 13 << QByteArray("camera \"Cam");
    QTest::newRow("after the accent") << 14 << QByteArray("camera \"Cam\xc3\xa9");
}

void tst_Escapi::errorTextIsCutWhole()
{
    QFETCH(int, length);
    QFETCH(QByteArray, expected);

    // Named in UTF-8, which the device list gives as Latin-1: the newest
    // source, or the same as the last row's.
    qputenv("ORVELLA_CAPTURE_SOURCES", "Cam\xc3\xa9ra=nosuchelement ! videoconvert");
    const int device = countCaptureDevices() - 1;
    GuardedFrame frame(64, 64);
    {
        StderrCapture errors;
        QCOMPARE(initCapture(device, &frame.params), 0);
    }
    char whole[512];
    const int size = getCaptureErrorText(device, whole, sizeof whole);
    QVERIFY(QByteArray(whole).startsWith("camera \"Cam\xc3\xa9ra\" did not start: "));

    QByteArray buffer(64, '#');
    QCOMPARE(getCaptureErrorText(device, buffer.data(), length), size);
    if (length > 0)
        QCOMPARE(QByteArray(buffer.constData()), expected);
    QCOMPARE(buffer.mid(length), QByteArray(64 - length, '#'));
    // Nothing to say about a device that does not exist.
    QCOMPARE(getCaptureErrorText(device + 100, buffer.data(), 64), 0);
    QCOMPARE(buffer.at(0), '\0');
}

void tst_Escapi::refusesBadRequests()
{
    const int device = useCaptureSources("Bars=videotestsrc");
    GuardedFrame frame(480, 320);
    QCOMPARE(initCapture(device + 1, &frame.params), 0);
    QCOMPARE(initCapture(-1, &frame.params), 0);
    QCOMPARE(initCapture(device, nullptr), 0);
    SimpleCapParams noBuffer{nullptr, 480, 320};
    QCOMPARE(initCapture(device, &noBuffer), 0);
    SimpleCapParams empty{frame.words.data(), 0, 320};
    QCOMPARE(initCapture(device, &empty), 0);

    char name[8];
    std::memset(name, '#', sizeof name);
    getCaptureDeviceName(device + 1, name, sizeof name);
    QCOMPARE(name[0], '\0');
}

void tst_Escapi::closingIsHarmless()
{
    const int device = useCaptureSources("Bars=videotestsrc");
    deinitCapture(device);
    deinitCapture(device + 5);
    deinitCapture(-1);

    GuardedFrame frame(480, 320);
    QVERIFY(initCapture(device, &frame.params));
    QVERIFY(captureFrame(device));
    deinitCapture(device);
    deinitCapture(device);
    doCapture(device);
    QCOMPARE(isCaptureDone(device), 0);

    // A closed device opens again.
    QVERIFY(initCapture(device, &frame.params));
    m_opened = device;
    QVERIFY(captureFrame(device));
}

void tst_Escapi::initOnWorkerThread()
{
    // The program opens a camera on a worker thread while its GUI thread
    // goes on with another: neither waits for the other.
    qputenv("ORVELLA_CAPTURE_SOURCES", "Running=videotestsrc;Stuck=appsrc");
    const int stuck = countCaptureDevices() - 1;
    const int running = stuck - 1;
    GuardedFrame frame(480, 320);
    QVERIFY(initCapture(running, &frame.params));
    m_opened = running;

    GuardedFrame stuckFrame(480, 320);
    std::atomic<int> opened{-1};
    std::thread worker([&] {
        opened = initCapture(stuck, &stuckFrame.params);
        deinitCapture(stuck);
    });
    QElapsedTimer timer;
    timer.start();
    qint64 slowest = 0;
    int frames = 0;
    while (opened.load() < 0 && timer.elapsed() < 10000) {
        QElapsedTimer call;
        call.start();
        doCapture(running);
        char name[64];
        getCaptureDeviceName(stuck, name, sizeof name);
        countCaptureDevices();
        slowest = qMax(slowest, call.elapsed());
        frames += captureFrame(running, 1000);
    }
    worker.join();
    QCOMPARE(opened.load(), 0);
    QVERIFY2(slowest < 500, qPrintable(QString::number(slowest)));
    QVERIFY2(frames > 10, qPrintable(QString::number(frames)));
    QVERIFY(stuckFrame.guardIntact());
}

void tst_Escapi::doneDescriptorFollowsTheFrame()
{
    const int device = useCaptureSources("Bars=videotestsrc");
    const int descriptor = getCaptureDoneDescriptor(device);
    QVERIFY(descriptor >= 0);
    QCOMPARE(getCaptureDoneDescriptor(device), descriptor);
    QCOMPARE(getCaptureDoneDescriptor(device + 100), -1);
    QCOMPARE(getCaptureDoneDescriptor(-1), -1);
    const auto readable = [descriptor](int timeoutMs) {
        pollfd wait{descriptor, POLLIN, 0};
        return ::poll(&wait, 1, timeoutMs) == 1 && (wait.revents & POLLIN);
    };

    GuardedFrame frame(480, 320);
    QVERIFY(initCapture(device, &frame.params));
    m_opened = device;
    QVERIFY(!readable(0));
    // Readable means done, and a request clears it until its frame is in.
    for (int i = 0; i < 10; ++i) {
        doCapture(device);
        QVERIFY(readable(3000));
        QCOMPARE(isCaptureDone(device), 1);
        QVERIFY(readable(0));
    }
    // A closed device never wakes anybody, and keeps its descriptor.
    deinitCapture(device);
    m_opened = -1;
    QVERIFY(!readable(0));
    doCapture(device);
    QVERIFY(!readable(200));
    QCOMPARE(getCaptureDoneDescriptor(device), descriptor);
    QVERIFY(initCapture(device, &frame.params));
    m_opened = device;
    doCapture(device);
    QVERIFY(readable(3000));
    QCOMPARE(isCaptureDone(device), 1);
}

void tst_Escapi::framesGoIntoTheBufferLastGiven()
{
    const int device =
        useCaptureSources("Solid=videotestsrc pattern=solid-color foreground-color=0xff336699 ! "
                          "video/x-raw,format=BGRA");
    GuardedFrame first(48, 32);
    GuardedFrame second(48, 32);
    QCOMPARE(setCaptureBuffer(device, second.words.data()), 0); // not open yet
    QVERIFY(initCapture(device, &first.params));
    m_opened = device;
    QCOMPARE(setCaptureBuffer(device, nullptr), 0);
    QVERIFY(setCaptureBuffer(device, second.words.data()));
    std::fill_n(first.words.begin(), first.pixelCount(), 0u);
    QVERIFY(captureFrame(device));
    QVERIFY(captureFrame(device));
    for (int i = 0; i < first.pixelCount(); ++i) {
        QCOMPARE(second.words[i], 0xff336699u);
        QCOMPARE(first.words[i], 0u);
    }
    QVERIFY(first.guardIntact());
    QVERIFY(second.guardIntact());

    // Opening again starts with the record's buffer.
    deinitCapture(device);
    QVERIFY(initCapture(device, &first.params));
    QVERIFY(captureFrame(device));
    QCOMPARE(first.words[0], 0xff336699u);
}

void tst_Escapi::loopsVideoFileAtItsOwnRate()
{
    // One second of video at ten frames a second, every frame different.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString clip = dir.filePath("clip.avi");
    const QByteArray encode =
        "videotestsrc num-buffers=10 pattern=snow ! "
        "video/x-raw,width=160,height=120,framerate=10/1 ! jpegenc ! avimux ! "
        "filesink location=" +
        clip.toUtf8();
    GstElement *writer = gst_parse_launch(encode.constData(), nullptr);
    QVERIFY(writer);
    gst_element_set_state(writer, GST_STATE_PLAYING);
    GstBus *bus = gst_element_get_bus(writer);
    GstMessage *end = gst_bus_timed_pop_filtered(
        bus, 20 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool written = end && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS;
    if (end)
        gst_message_unref(end);
    gst_object_unref(bus);
    gst_element_set_state(writer, GST_STATE_NULL);
    gst_object_unref(writer);
    QVERIFY(written);

    const int device = useCaptureSources("Clip=filesrc location=" + clip.toUtf8() + " ! decodebin");
    GuardedFrame frame(480, 320);
    QVERIFY(initCapture(device, &frame.params));
    m_opened = device;

    // Three times the clip's length: a clip that did not loop would stop at
    // ten frames, one played as fast as it decodes would give hundreds.
    QElapsedTimer timer;
    timer.start();
    int frames = 0;
    std::vector<unsigned int> previous;
    while (timer.elapsed() < 3000) {
        QVERIFY(captureFrame(device));
        QVERIFY(frame.words != previous);
        previous = frame.words;
        ++frames;
    }
    QVERIFY2(frames >= 18 && frames <= 50, qPrintable(QString::number(frames)));
}

void tst_Escapi::failedSourceIsRebuilt()
{
    StderrCapture errors;
    const int device = useCaptureSources(
        "Failing=videotestsrc ! video/x-raw,framerate=30/1 ! identity error-after=5");
    GuardedFrame frame(480, 320);
    QVERIFY(initCapture(device, &frame.params));
    m_opened = device;

    // Five frames, then the error: the request stays open, and is answered
    // by the pipeline built again after two seconds.
    QElapsedTimer timer;
    timer.start();
    int frames = 0;
    while (captureFrame(device, 1000))
        QVERIFY(++frames <= 5);
    QVERIFY(errors.text().contains("orvella: camera \"Failing\" stopped, trying again every 2 s: "
                                   "Failed after iterations as requested.\n"));
    QVERIFY(!errors.text().contains("running again"));
    QVERIFY(captureFrame(device, 4000));
    QVERIFY2(timer.elapsed() > 1500, qPrintable(QString::number(timer.elapsed())));
    // Said before the rebuilt pipeline's first frame is handed out.
    QVERIFY(errors.text().contains("orvella: camera \"Failing\" is running again\n"));
    QVERIFY(frame.guardIntact());
}

void tst_Escapi::demoCameraMovesAndRests()
{
    const int device = useCaptureSources("Demo=demo");
    GuardedFrame frame(480, 320);
    QVERIFY(initCapture(device, &frame.params));
    m_opened = device;

    // The demo plays at twice the program's rate, so every second frame is
    // what the program sees at its 100 ms ticks. Waiting for a rest, a walk
    // and a rest again takes less than one period of the scene.
    std::vector<std::vector<unsigned int>> recent;
    enum { Resting, Walking, RestingAgain } seen = Resting;
    bool restSeen = false;
    double highest = 0;
    QElapsedTimer timer;
    timer.start();
    while (seen != RestingAgain && timer.elapsed() < 12000) {
        QVERIFY(captureFrame(device));
        QVERIFY(frame.guardIntact());
        recent.push_back(frame.words);
        if (recent.size() < 3)
            continue;
        const double level = darkeningLevel(recent[0].data(), recent[2].data(), frame.pixelCount());
        recent.erase(recent.begin());
        highest = qMax(highest, level);
        if (level < 5 && seen == Resting)
            restSeen = true;
        else if (level > 20 && restSeen && seen == Resting)
            seen = Walking;
        else if (level < 5 && seen == Walking)
            seen = RestingAgain;
    }
    QVERIFY2(seen == RestingAgain, qPrintable(QStringLiteral("highest level %1").arg(highest)));

    // A light scene.
    qint64 sum = 0;
    for (int i = 0; i < frame.pixelCount(); ++i)
        sum +=
            (frame.words[i] >> 16 & 0xFF) + (frame.words[i] >> 8 & 0xFF) + (frame.words[i] & 0xFF);
    QVERIFY(sum / (3 * frame.pixelCount()) > 150);
}

void tst_Escapi::exitWithPipelinesRunning_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("clip");

    QTest::newRow("one device") << QStringList{"1", "done"} << false;
    QTest::newRow("frame requested") << QStringList{"1", "pending"} << false;
    QTest::newRow("three devices") << QStringList{"3", "pending"} << false;
    QTest::newRow("clip recording") << QStringList{"2", "done"} << true;
}

void tst_Escapi::exitWithPipelinesRunning()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, clip);

    QTemporaryDir clips;
    const QString path = clips.filePath("at-exit.mp4");
    if (clip)
        arguments << path;
    QProcess helper;
    helper.start(QStringLiteral(ESCAPI_EXIT_HELPER), arguments);
    QVERIFY(helper.waitForFinished(30000));
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.exitCode(), 0);
    // A clip still recording is finished on the way out: whole, with its
    // index, and nothing temporary left.
    if (clip) {
        QVERIFY(indexFirst(path));
        QCOMPARE(QDir(clips.path()).entryList(QDir::Files), QStringList{"at-exit.mp4"});
    }
}

QTEST_GUILESS_MAIN(tst_Escapi)
#include "tst_escapi.moc"
