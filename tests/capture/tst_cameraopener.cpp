#include "cameraopener.h"
#include "capturelibrary.h"
#include "fakeescapi.h"
#include "webcam.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// Opening cameras off the caller's thread, against the scriptable library.
class TestCameraOpener : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { camera.reset(); }

    void opensOnTheWorker();
    void failedOpenThenSuccessfulOpen();
    void slowOpenLeavesTheThreadFree();
    void cancelWhileOpeningClosesOnTheWorker();
    void openAgainRightAfterCancelWaitsItsTurn();
    void cancelAfterOpenReturnedClosesHere();
    void destructionWaitsForTheOpen();

private:
    QString logSince(int start) const { return QString(fakeEscapi_callLog() + start); }

    std::unique_ptr<Webcam> camera;
    int logStart = 0;
};

void TestCameraOpener::init()
{
    fakeEscapi_reset();
    fakeEscapi_setDeviceCount(2);
    QCOMPARE(setupCaptureLibrary(), 2);
    camera.reset(new Webcam(1, 8, 8));
    logStart = int(qstrlen(fakeEscapi_callLog()));
}

void TestCameraOpener::opensOnTheWorker()
{
    CameraOpener opener;
    QSignalSpy opened(&opener, &CameraOpener::opened);
    opener.open(camera.get());
    QVERIFY(opener.isOpening());

    QVERIFY(opened.wait());
    QCOMPARE(opened.count(), 1);
    QCOMPARE(opened.first().first().toBool(), true);
    QVERIFY(!opener.isOpening());
    QVERIFY(camera->usable);
    QVERIFY(fakeEscapi_isOpen(1));
    QCOMPARE(fakeEscapi_offThreadCallCount("initCapture"), 1);
    QCOMPARE(logSince(logStart), QString("initCapture(1) "));
}

void TestCameraOpener::failedOpenThenSuccessfulOpen()
{
    CameraOpener opener;
    QSignalSpy opened(&opener, &CameraOpener::opened);
    camera->usable = true;
    fakeEscapi_setInitResult(1, 0);
    opener.open(camera.get());
    QVERIFY(opened.wait());
    QCOMPARE(opened.takeFirst().first().toBool(), false);
    QVERIFY(!camera->usable);

    // The device has been freed in the meantime.
    fakeEscapi_setInitResult(1, 1);
    opener.open(camera.get());
    QVERIFY(opened.wait());
    QCOMPARE(opened.takeFirst().first().toBool(), true);
    QVERIFY(camera->usable);
    QCOMPARE(fakeEscapi_deviceCallCount("initCapture", 1), 2);
}

void TestCameraOpener::slowOpenLeavesTheThreadFree()
{
    fakeEscapi_setInitDelay(1, 600);
    CameraOpener opener;
    QSignalSpy opened(&opener, &CameraOpener::opened);
    int probes = 0;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] { probes += opened.isEmpty() ? 1 : 0; });
    probe.start(10);

    QElapsedTimer call;
    call.start();
    opener.open(camera.get());
    QVERIFY(call.elapsed() < 300);
    QVERIFY(opened.wait(10000));
    QCOMPARE(opened.first().first().toBool(), true);
    // The thread's own timer kept firing all through the open.
    QVERIFY2(probes >= 10, qPrintable(QString::number(probes)));
}

void TestCameraOpener::cancelWhileOpeningClosesOnTheWorker()
{
    fakeEscapi_setInitDelay(1, 400);
    CameraOpener opener;
    QSignalSpy opened(&opener, &CameraOpener::opened);
    opener.open(camera.get());
    opener.cancel();
    QVERIFY(!opener.isOpening());
    QCOMPARE(fakeEscapi_deviceCallCount("deinitCapture", 1), 0);

    QTRY_COMPARE(fakeEscapi_deviceCallCount("deinitCapture", 1), 1);
    opener.waitForWorker();
    QCoreApplication::processEvents();
    QCOMPARE(opened.count(), 0);
    QVERIFY(!fakeEscapi_isOpen(1));
    QCOMPARE(fakeEscapi_offThreadCallCount("deinitCapture"), 1);
    QCOMPARE(fakeEscapi_overlapCount(), 0);
    QCOMPARE(logSince(logStart), QString("initCapture(1) deinitCapture(1) "));
}

void TestCameraOpener::openAgainRightAfterCancelWaitsItsTurn()
{
    fakeEscapi_setInitDelay(1, 300);
    CameraOpener opener;
    QSignalSpy opened(&opener, &CameraOpener::opened);
    opener.open(camera.get());
    opener.cancel();
    opener.open(camera.get());

    QVERIFY(opened.wait(10000));
    QCOMPARE(opened.count(), 1);
    QCOMPARE(opened.first().first().toBool(), true);
    QVERIFY(fakeEscapi_isOpen(1));
    QCOMPARE(fakeEscapi_overlapCount(), 0);
    QCOMPARE(logSince(logStart), QString("initCapture(1) deinitCapture(1) initCapture(1) "));
}

void TestCameraOpener::cancelAfterOpenReturnedClosesHere()
{
    CameraOpener opener;
    QSignalSpy opened(&opener, &CameraOpener::opened);
    opener.open(camera.get());
    // The open is done and its report waits in the event queue.
    opener.waitForWorker();
    QVERIFY(opener.isOpening());
    opener.cancel();

    QCOMPARE(fakeEscapi_deviceCallCount("deinitCapture", 1), 1);
    QCOMPARE(fakeEscapi_offThreadCallCount("deinitCapture"), 0);
    QVERIFY(!fakeEscapi_isOpen(1));
    QCoreApplication::processEvents();
    QCOMPARE(opened.count(), 0);
}

void TestCameraOpener::destructionWaitsForTheOpen()
{
    fakeEscapi_setInitDelay(1, 300);
    {
        CameraOpener opener;
        opener.open(camera.get());
    }
    QCOMPARE(logSince(logStart), QString("initCapture(1) deinitCapture(1) "));
    QVERIFY(!fakeEscapi_isOpen(1));
}

QTEST_GUILESS_MAIN(TestCameraOpener)
#include "tst_cameraopener.moc"
