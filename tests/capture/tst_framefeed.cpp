#include "capturelibrary.h"
#include "fakeescapi.h"
#include "framefeed.h"
#include "requestlead.h"
#include "webcam.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// The frame feed against the scriptable library: requests, polling, a camera
// that goes quiet and comes back.
class TestFrameFeed : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { camera.reset(); }

    void oneFramePerTickInOrder();
    void oneRequestOpenAtATime();
    void tickDuringAnOpenRequestRunsWhenTheFrameIsIn();
    void lostAfterASecondAndBackWithTheNextFrame();
    void stopDropsTheOpenRequest();
    void requestLead_data();
    void requestLead();
    void waitingFramesKeepOneRequestATick();

private:
    void queue(unsigned int word)
    {
        const unsigned int frame[4] = {word, word, word, word};
        fakeEscapi_queueFrame(0, frame, 4);
    }

    std::unique_ptr<Webcam> camera;
};

void TestFrameFeed::init()
{
    fakeEscapi_reset();
    fakeEscapi_setDeviceCount(1);
    QCOMPARE(setupCaptureLibrary(), 1);
    camera.reset(new Webcam(0, 2, 2));
    QVERIFY(captureLibrary().initCapture(0, &camera->params));
    fakeEscapi_setRepeatLast(0, 0);
}

void TestFrameFeed::oneFramePerTickInOrder()
{
    for (unsigned int word : {0xFF111111u, 0xFF222222u, 0xFF333333u})
        queue(word);
    FrameFeed feed;
    QSignalSpy frames(&feed, &FrameFeed::frameArrived);
    QElapsedTimer elapsed;
    elapsed.start();
    feed.start(camera.get());
    QVERIFY(feed.isRunning());

    QTRY_COMPARE(frames.count(), 3);
    // Three ticks of the capture timer at the least.
    QVERIFY2(elapsed.elapsed() >= 250, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(frames.at(0).first().value<QImage>().pixel(0, 0), 0xFF111111u);
    QCOMPARE(frames.at(1).first().value<QImage>().pixel(1, 1), 0xFF222222u);
    QCOMPARE(frames.at(2).first().value<QImage>().pixel(0, 1), 0xFF333333u);
}

void TestFrameFeed::oneRequestOpenAtATime()
{
    FrameFeed feed;
    QSignalSpy lost(&feed, &FrameFeed::pictureLost);
    const QDateTime started = QDateTime::currentDateTime();
    feed.start(camera.get());

    QVERIFY(lost.wait(10000));
    // Ten ticks went by, but the first request stays open for its second.
    QVERIFY2(fakeEscapi_deviceCallCount("doCapture", 0) <= 2,
             qPrintable(QString::number(fakeEscapi_deviceCallCount("doCapture", 0))));
    // No frame ever came: the time is that of the first request.
    const QDateTime since = lost.first().first().toDateTime();
    QVERIFY(since >= started.addMSecs(-1) && since <= started.addMSecs(1000));
    // And it keeps asking.
    QTRY_VERIFY_WITH_TIMEOUT(fakeEscapi_deviceCallCount("doCapture", 0) >= 3, 10000);
    QCOMPARE(lost.count(), 1);
}

void TestFrameFeed::tickDuringAnOpenRequestRunsWhenTheFrameIsIn()
{
    FrameFeed feed;
    QSignalSpy frames(&feed, &FrameFeed::frameArrived);
    feed.start(camera.get());
    QTRY_COMPARE(fakeEscapi_deviceCallCount("doCapture", 0), 1);
    // Two more ticks pass while the camera takes its time.
    QVERIFY(!QTest::qWaitFor([] { return fakeEscapi_deviceCallCount("doCapture", 0) > 1; }, 250));

    queue(0xFF111111u);
    QVERIFY(frames.wait());
    // The waiting tick asked at once, and only once.
    QCOMPARE(fakeEscapi_deviceCallCount("doCapture", 0), 2);
}

void TestFrameFeed::lostAfterASecondAndBackWithTheNextFrame()
{
    queue(0xFF111111u);
    FrameFeed feed;
    QSignalSpy frames(&feed, &FrameFeed::frameArrived);
    QSignalSpy lost(&feed, &FrameFeed::pictureLost);
    QStringList events;
    connect(&feed, &FrameFeed::frameArrived, [&] { events << "frame"; });
    connect(&feed, &FrameFeed::pictureLost, [&] { events << "lost"; });
    connect(&feed, &FrameFeed::pictureBack, [&] { events << "back"; });
    feed.start(camera.get());

    QVERIFY(frames.wait());
    const QDateTime frameSeen = QDateTime::currentDateTime();
    QElapsedTimer quiet;
    quiet.start();
    QVERIFY(lost.wait(10000));
    QVERIFY2(quiet.elapsed() >= 900, qPrintable(QString::number(quiet.elapsed())));
    const QDateTime since = lost.first().first().toDateTime();
    QVERIFY(since <= frameSeen && since >= frameSeen.addMSecs(-500));

    queue(0xFF222222u);
    QTRY_COMPARE(frames.count(), 2);
    QCOMPARE(frames.at(1).first().value<QImage>().pixel(0, 0), 0xFF222222u);
    QCOMPARE(events, QStringList({"frame", "lost", "back", "frame"}));

    // The watch goes on: the next silence is reported again.
    QVERIFY(lost.wait(10000));
    QCOMPARE(events.last(), QString("lost"));
}

void TestFrameFeed::stopDropsTheOpenRequest()
{
    FrameFeed feed;
    QSignalSpy frames(&feed, &FrameFeed::frameArrived);
    QSignalSpy lost(&feed, &FrameFeed::pictureLost);
    feed.start(camera.get());
    QTRY_COMPARE(fakeEscapi_deviceCallCount("doCapture", 0), 1);

    feed.stop();
    QVERIFY(!feed.isRunning());
    // The library fills the request that was open; nobody asks for it now.
    queue(0xFF111111u);
    const int polls = fakeEscapi_deviceCallCount("isCaptureDone", 0);
    QVERIFY(!lost.wait(1500));
    QCOMPARE(frames.count(), 0);
    QCOMPARE(fakeEscapi_deviceCallCount("isCaptureDone", 0), polls);
    QCOMPARE(fakeEscapi_deviceCallCount("doCapture", 0), 1);
}

void TestFrameFeed::requestLead_data()
{
    QTest::addColumn<QList<int>>("waits");
    QTest::addColumn<int>("lead");

    QTest::newRow("none yet") << QList<int>() << 0;
    QTest::newRow("waiting frames step ahead") << QList<int>{0, 0, 0} << 30;
    // Asked 30 ms ahead, the frame came 12 ms later: ask 5 ms before that.
    QTest::newRow("fresh frame sets it") << QList<int>{0, 0, 0, 12} << 23;
    QTest::newRow("a long wait drops it") << QList<int>{0, 0, 700} << 0;
    // A tick of steps without a fresh frame: back to the last fresh one's.
    QTest::newRow("frames always waiting") << QList<int>(QVector<int>(10, 0).toList()) << 0;
    QTest::newRow("and it stays") << QList<int>{0, 12} + QList<int>(QVector<int>(20, 0).toList())
                                  << 3;
    QTest::newRow("until a fresh frame")
        << QList<int>(QVector<int>(10, 0).toList()) + QList<int>{2, 0} << 13;
}

void TestFrameFeed::requestLead()
{
    QFETCH(QList<int>, waits);
    QFETCH(int, lead);

    RequestLead subject(90);
    for (int waited : waits)
        subject.frameTaken(waited);
    QCOMPARE(subject.ms(), lead);
    subject.reset();
    QCOMPARE(subject.ms(), 0);
}

// A camera with a frame always waiting moves the requests ahead of the ticks,
// but never by more than a tick: on the whole one request a tick.
void TestFrameFeed::waitingFramesKeepOneRequestATick()
{
    fakeEscapi_setRepeatLast(0, 1);
    queue(0xFF111111u);
    FrameFeed feed;
    QSignalSpy frames(&feed, &FrameFeed::frameArrived);
    QElapsedTimer elapsed;
    feed.start(camera.get());
    elapsed.start();
    QVERIFY(frames.wait());
    QTRY_VERIFY_WITH_TIMEOUT(frames.count() >= 12, 10000);
    // Twelve ticks take 1200 ms less the lead built up, 90 ms at most.
    QVERIFY2(elapsed.elapsed() >= 1200 - 90 - 20, qPrintable(QString::number(elapsed.elapsed())));
}

QTEST_GUILESS_MAIN(TestFrameFeed)
#include "tst_framefeed.moc"
