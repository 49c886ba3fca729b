#include "capturelibrary.h"
#include "fakeescapi.h"
#include "webcam.h"

#include <QElapsedTimer>
#include <QtTest>

#include <vector>

class TestCapture : public QObject
{
    Q_OBJECT

private slots:
    void init() { fakeEscapi_reset(); }

    void unusableLibraryCountsNoDevice_data();
    void unusableLibraryCountsNoDevice();
    void versionCheckedBeforeInitialising();
    void everyRunLoadsAndInitialisesAgain();
    void tableBoundInOrder();

    void deviceName_data();
    void deviceName();

    void frameReadOutKeepsWordsAndAlpha();
    void closeOnlyWhenUsable();
    void takeFrameNeverWaits();
    void destructorAlwaysCloses();
};

void TestCapture::unusableLibraryCountsNoDevice_data()
{
    QTest::addColumn<bool>("loadable");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("missing");

    QTest::newRow("no library") << false << 0x200 << QString();
    QTest::newRow("version 0x100") << true << 0x100 << QString();
    QTest::newRow("version 0x201") << true << 0x201 << QString();
    for (const char *entry : {"countCaptureDevices", "initCapture", "deinitCapture", "doCapture",
                              "isCaptureDone", "initCOM", "getCaptureDeviceName",
                              "ESCAPIDLLVersion"})
        QTest::newRow(qPrintable(QString("missing ") + entry)) << true << 0x200 << QString(entry);
}

void TestCapture::unusableLibraryCountsNoDevice()
{
    QFETCH(bool, loadable);
    QFETCH(int, version);
    QFETCH(QString, missing);

    fakeEscapi_setDeviceCount(3);
    fakeEscapi_setLoadable(loadable);
    fakeEscapi_setVersion(version);
    if (!missing.isEmpty())
        fakeEscapi_setMissing(missing.toLatin1().constData());

    QCOMPARE(setupCaptureLibrary(), 0);
    QCOMPARE(fakeEscapi_callCount("initCOM"), 0);
    QCOMPARE(fakeEscapi_callCount("countCaptureDevices"), 0);
    QCOMPARE(fakeEscapi_callCount("load"), loadable ? 1 : 0);
}

void TestCapture::versionCheckedBeforeInitialising()
{
    fakeEscapi_setDeviceCount(0);
    QCOMPARE(setupCaptureLibrary(), 0);
    QCOMPARE(QString(fakeEscapi_callLog()),
             QString("load() ESCAPIDLLVersion() initCOM() countCaptureDevices() "));
}

void TestCapture::everyRunLoadsAndInitialisesAgain()
{
    fakeEscapi_setDeviceCount(2);
    QCOMPARE(setupCaptureLibrary(), 2);
    QCOMPARE(setupCaptureLibrary(), 2);
    fakeEscapi_setDeviceCount(1);
    QCOMPARE(setupCaptureLibrary(), 1);
    QCOMPARE(fakeEscapi_callCount("load"), 3);
    QCOMPARE(fakeEscapi_callCount("initCOM"), 3);
}

void TestCapture::tableBoundInOrder()
{
    fakeEscapi_setDeviceCount(1);
    QCOMPARE(setupCaptureLibrary(), 1);
    const CaptureLibraryTable &lib = captureLibrary();
    QCOMPARE(reinterpret_cast<void *>(lib.initCapture), reinterpret_cast<void *>(&initCapture));
    QCOMPARE(reinterpret_cast<void *>(lib.getCaptureDeviceName),
             reinterpret_cast<void *>(&getCaptureDeviceName));
    QCOMPARE(reinterpret_cast<void *>(lib.ESCAPIDLLVersion),
             reinterpret_cast<void *>(&ESCAPIDLLVersion));
}

void TestCapture::deviceName_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");

    QByteArray threeLetters(512, 'x');
    threeLetters.replace(0, 4, QByteArray("Cam\0", 4));
    QTest::newRow("zero byte in the middle") << threeLetters << QString("Cam");

    QByteArray accented(512, '\0');
    accented.replace(0, 6, "Cam\xE9ra");
    QTest::newRow("byte 0xE9") << accented << QString::fromUtf8("Cam\xC3\xA9ra");

    QTest::newRow("empty") << QByteArray(512, '\0') << QString();
    QTest::newRow("no zero byte") << QByteArray(512, 'A') << QString(512, 'A');
}

void TestCapture::deviceName()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QCOMPARE(deviceNameFromBuffer(bytes.constData(), bytes.size()), name);
}

void TestCapture::frameReadOutKeepsWordsAndAlpha()
{
    fakeEscapi_setDeviceCount(1);
    QCOMPARE(setupCaptureLibrary(), 1);

    Webcam camera(0, 4, 3);
    std::vector<unsigned int> words(12);
    for (unsigned int i = 0; i < words.size(); ++i)
        words[i] = (i * 0x10u) << 24 | 0x00102030u * (i + 1);
    fakeEscapi_queueFrame(0, words.data(), int(words.size()));

    QVERIFY(captureLibrary().initCapture(0, &camera.params));
    camera.requestFrame();
    QVERIFY(camera.takeFrame());
    QCOMPARE(camera.image.format(), QImage::Format_ARGB32);
    QCOMPARE(camera.image.size(), QSize(4, 3));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            QCOMPARE(camera.image.pixel(x, y), words[size_t(y * 4 + x)]);
}

void TestCapture::closeOnlyWhenUsable()
{
    fakeEscapi_setDeviceCount(1);
    QCOMPARE(setupCaptureLibrary(), 1);
    Webcam camera(0, 8, 8);
    camera.usable = false;
    camera.close();
    QCOMPARE(fakeEscapi_deviceCallCount("deinitCapture", 0), 0);
    camera.usable = true;
    camera.close();
    QCOMPARE(fakeEscapi_deviceCallCount("deinitCapture", 0), 1);
}

void TestCapture::takeFrameNeverWaits()
{
    fakeEscapi_setDeviceCount(1);
    QCOMPARE(setupCaptureLibrary(), 1);
    Webcam camera(0, 2, 2);
    const unsigned int white[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    fakeEscapi_queueFrame(0, white, 4);
    QVERIFY(captureLibrary().initCapture(0, &camera.params));
    camera.requestFrame();
    QVERIFY(camera.takeFrame());

    fakeEscapi_setStalled(0, 1);
    camera.requestFrame();
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(!camera.takeFrame());
    QVERIFY(!camera.takeFrame());
    QVERIFY(elapsed.elapsed() < 500);
    QCOMPARE(camera.image.pixel(0, 0), 0xFFFFFFFFu);
    QCOMPARE(fakeEscapi_deviceCallCount("doCapture", 0), 2);

    // The open request is filled once the camera delivers again.
    const unsigned int black[4] = {0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000};
    fakeEscapi_clearFrames(0);
    fakeEscapi_queueFrame(0, black, 4);
    fakeEscapi_setStalled(0, 0);
    QVERIFY(camera.takeFrame());
    QCOMPARE(camera.image.pixel(0, 0), 0xFF000000u);
    QCOMPARE(fakeEscapi_deviceCallCount("doCapture", 0), 2);
}

void TestCapture::destructorAlwaysCloses()
{
    fakeEscapi_setDeviceCount(2);
    QCOMPARE(setupCaptureLibrary(), 2);
    { Webcam neverOpened(1, 8, 8); }
    QCOMPARE(fakeEscapi_deviceCallCount("deinitCapture", 1), 1);
}

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
