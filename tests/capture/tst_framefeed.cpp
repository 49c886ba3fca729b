#include "capturelibrary.h"
#include "fakeescapi.h"
#include "framefeed.h"
#include "webcam.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// The frame feed against the scriptable library: requests, waiting for the
// frame, a camera that goes quiet and comes back. Every case runs with the
// library's frame-done descriptor and without it.
class TestFrameFeed : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data();
    void init();
    void cleanup() { camera.reset(); }

    void oneFramePerTickInOrder();
    void oneRequestOpenAtATime();
    void tickDuringAnOpenRequestRunsWhenTheFrameIsIn();
    void lostAfterASecondAndBackWithTheNextFrame();
    void stopDropsTheOpenRequest();
    void asksOnlyWhenWokenByTheDescriptor();
    void descriptorReadableWithoutAFrameDoesNotSpin();
    void lateFrameMovesTheTicksAfterIt();

private:
    void queue(unsigned int word)
    {
        const unsigned int frame[4] = {word, word, word, word};
        fakeEscapi_queueFrame(0, frame, 4);
    }

    std::unique_ptr<Webcam> camera;
};

void TestFrameFeed::initTestCase_data()
{
    QTest::addColumn<bool>("descriptor");
    QTest::newRow("descriptor") << true;
    QTest::newRow("polling") << false;
}

void TestFrameFeed::init()
{
    QFETCH_GLOBAL(bool, descriptor);
    fakeEscapi_reset();
    if (!descriptor)
        fakeEscapi_setMissing("getCaptureDoneDescriptor");
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

void TestFrameFeed::asksOnlyWhenWokenByTheDescriptor()
{
    QFETCH_GLOBAL(bool, descriptor);
    FrameFeed feed;
    QSignalSpy frames(&feed, &FrameFeed::frameArrived);
    QSignalSpy lost(&feed, &FrameFeed::pictureLost);
    feed.start(camera.get());

    // A second without a frame: with the descriptor the library is asked once
    // a request, else on the short timer all along.
    QVERIFY(lost.wait(10000));
    const int asked = fakeEscapi_deviceCallCount("isCaptureDone", 0);
    if (descriptor)
        QVERIFY2(asked <= 2, qPrintable(QString::number(asked)));
    else
        QVERIFY2(asked >= 20, qPrintable(QString::number(asked)));

    // The frame wakes the feed as soon as it is in.
    queue(0xFF111111u);
    QVERIFY(frames.wait());
    QCOMPARE(frames.first().first().value<QImage>().pixel(0, 0), 0xFF111111u);
    if (descriptor)
        QVERIFY2(fakeEscapi_deviceCallCount("isCaptureDone", 0) <= asked + 2,
                 qPrintable(QString::number(fakeEscapi_deviceCallCount("isCaptureDone", 0))));
}

void TestFrameFeed::descriptorReadableWithoutAFrameDoesNotSpin()
{
    QFETCH_GLOBAL(bool, descriptor);
    if (!descriptor)
        QSKIP("only a descriptor can be readable");
    fakeEscapi_setDescriptorStuck(0, 1);
    FrameFeed feed;
    QSignalSpy frames(&feed, &FrameFeed::frameArrived);
    QSignalSpy lost(&feed, &FrameFeed::pictureLost);
    feed.start(camera.get());

    // Woken at once again and again, the feed would ask tens of thousands
    // of times a second; it goes over to the timer instead.
    QVERIFY(lost.wait(10000));
    const int asked = fakeEscapi_deviceCallCount("isCaptureDone", 0);
    QVERIFY2(asked < 1000, qPrintable(QString::number(asked)));
    queue(0xFF111111u);
    QVERIFY(frames.wait());
}

void TestFrameFeed::lateFrameMovesTheTicksAfterIt()
{
    const int interval = FrameFeed::captureIntervalMs;
    // The case needs the late frame taken before the next tick is due. A
    // machine too busy to run the feed for 60 ms takes it after that tick,
    // which is another case (a tick waiting on its frame): then it is tried
    // again.
    for (int attempt = 1;; ++attempt) {
        FrameFeed feed;
        QElapsedTimer clock;
        QVector<qint64> arrivals;
        connect(&feed, &FrameFeed::frameArrived, this, [&] { arrivals << clock.elapsed(); });
        clock.start();
        feed.start(camera.get());
        // The first tick asks at one interval; its frame comes 40 ms after
        // that, and the next ones are in before their ticks.
        QTimer::singleShot(interval + 40, this, [this] {
            queue(0xFF111111u);
            queue(0xFF222222u);
            queue(0xFF333333u);
        });
        QTRY_COMPARE(arrivals.size(), 3);
        const bool takenInTime = arrivals[0] < 2 * interval - 5;
        if (!takenInTime && attempt < 5)
            continue;
        QVERIFY2(takenInTime, qPrintable(QString::number(arrivals[0])));

        // The tick after the late frame comes a whole interval after it, and
        // the margin; the next keeps that rhythm.
        const qint64 afterLate = arrivals[1] - arrivals[0];
        const qint64 next = arrivals[2] - arrivals[1];
        QVERIFY2(afterLate >= interval + FrameFeed::phaseMarginMs - 2,
                 qPrintable(QString::number(afterLate)));
        QVERIFY2(next >= interval - 2, qPrintable(QString::number(next)));
        return;
    }
}

QTEST_GUILESS_MAIN(TestFrameFeed)
#include "tst_framefeed.moc"
