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
    void optionalEntryPointsBoundWhenPresent_data();
    void optionalEntryPointsBoundWhenPresent();
    void eventClipEntryPointsBoundTogether_data();
    void eventClipEntryPointsBoundTogether();

    void deviceName_data();
    void deviceName();

    void frameReadOutKeepsWordsAndAlpha();
    void closeOnlyWhenUsable();
    void takeFrameNeverWaits();
    void heldFramesKeepTheirPixels_data();
    void heldFramesKeepTheirPixels();
    void destructorAlwaysCloses();
    void errorText_data();
    void errorText();
    void frameDoneDescriptorOnlyFromTheLibrary();
};

void TestCapture::unusableLibraryCountsNoDevice_data()
{
    QTest::addColumn<bool>("loadable");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("missing");

    QTest::newRow("no library") << false << 0x200 << QString();
    QTest::newRow("version 0x100") << true << 0x100 << QString();
    QTest::newRow("version 0x201") << true << 0x201 << QString();
    for (const char *entry :
         {"countCaptureDevices", "initCapture", "deinitCapture", "doCapture", "isCaptureDone",
          "initCOM", "getCaptureDeviceName", "ESCAPIDLLVersion"})
        QTest::newRow(qPrintable(QString("missing ") + entry)) << true << 0x200 << QString(entry);
}

void TestCapture::unusableLibraryCountsNoDevice()
{
    QFETCH(bool, loadable);
    QFETCH(int, version);
    QFETCH(QString, missing);

    // A usable library first, so the failed run must say so itself.
    fakeEscapi_setDeviceCount(3);
    QCOMPARE(setupCaptureLibrary(), 3);
    QVERIFY(captureLibraryUsable());
    fakeEscapi_reset();

    fakeEscapi_setDeviceCount(3);
    fakeEscapi_setLoadable(loadable);
    fakeEscapi_setVersion(version);
    if (!missing.isEmpty())
        fakeEscapi_setMissing(missing.toLatin1().constData());

    QCOMPARE(setupCaptureLibrary(), 0);
    QVERIFY(!captureLibraryUsable());
    QCOMPARE(fakeEscapi_callCount("initCOM"), 0);
    QCOMPARE(fakeEscapi_callCount("countCaptureDevices"), 0);
    QCOMPARE(fakeEscapi_callCount("load"), loadable ? 1 : 0);
}

void TestCapture::versionCheckedBeforeInitialising()
{
    fakeEscapi_setDeviceCount(0);
    QCOMPARE(setupCaptureLibrary(), 0);
    QVERIFY(captureLibraryUsable()); // no cameras, but usable
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

void TestCapture::eventClipEntryPointsBoundTogether_data()
{
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<bool>("clips");

    QTest::newRow("all five") << QStringList() << true;
    QTest::newRow("none") << QStringList{"setEventClipPreroll", "startEventClip", "stopEventClip",
                                         "getEventClipStatus", "takeEventClipReport"}
                          << false;
    QTest::newRow("one missing") << QStringList{"takeEventClipReport"} << false;
}

// Clips are offered only with all five; the library is used as before with
// any of them missing.
void TestCapture::eventClipEntryPointsBoundTogether()
{
    QFETCH(QStringList, missing);
    QFETCH(bool, clips);

    fakeEscapi_setDeviceCount(1);
    for (const QString &entry : missing)
        fakeEscapi_setMissing(entry.toLatin1().constData());
    QCOMPARE(setupCaptureLibrary(), 1);
    const CaptureLibraryTable &lib = captureLibrary();
    QCOMPARE(lib.hasEventClips(), clips);
    const QList<QPair<const char *, void *>> entries = {
        {"setEventClipPreroll", reinterpret_cast<void *>(lib.setEventClipPreroll)},
        {"startEventClip", reinterpret_cast<void *>(lib.startEventClip)},
        {"stopEventClip", reinterpret_cast<void *>(lib.stopEventClip)},
        {"getEventClipStatus", reinterpret_cast<void *>(lib.getEventClipStatus)},
        {"takeEventClipReport", reinterpret_cast<void *>(lib.takeEventClipReport)}};
    for (const auto &entry : entries)
        QCOMPARE(entry.second == nullptr, missing.contains(entry.first));
    // Binding calls none of them.
    QCOMPARE(QString(fakeEscapi_callLog()),
             QString("load() ESCAPIDLLVersion() initCOM() countCaptureDevices() "));
    if (!clips)
        return;
    // They reach the library: a clip of an open device, reported when done.
    SimpleCapParams params{nullptr, 480, 320};
    QCOMPARE(lib.startEventClip(0, "/clips/a.mp4"), 0);
    QCOMPARE(lib.setEventClipPreroll(0, 5000), 1);
    QCOMPARE(lib.initCapture(0, &params), 1);
    QCOMPARE(lib.startEventClip(0, "/clips/a.mp4"), 1);
    QCOMPARE(lib.stopEventClip(0, 5000), 1);
    EventClipStatus status{};
    QCOMPARE(lib.getEventClipStatus(0, &status), 1);
    QCOMPARE(status.state, EVENT_CLIP_POSTROLL);
    fakeEscapi_finishClips(0, 1, "");
    EventClipReport report{};
    QCOMPARE(lib.takeEventClipReport(0, &report), 1);
    QCOMPARE(QString(report.path), QString("/clips/a.mp4"));
    QCOMPARE(report.written, 1);
    QCOMPARE(lib.takeEventClipReport(0, &report), 0);
}

void TestCapture::optionalEntryPointsBoundWhenPresent_data()
{
    QTest::addColumn<QStringList>("missing");

    QTest::newRow("both") << QStringList();
    QTest::newRow("no error text") << QStringList{"getCaptureErrorText"};
    QTest::newRow("no descriptor") << QStringList{"getCaptureDoneDescriptor"};
    QTest::newRow("neither") << QStringList{"getCaptureErrorText", "getCaptureDoneDescriptor"};
    QTest::newRow("no buffer for each frame") << QStringList{"setCaptureBuffer"};
}

void TestCapture::optionalEntryPointsBoundWhenPresent()
{
    QFETCH(QStringList, missing);

    fakeEscapi_setDeviceCount(2);
    for (const QString &entry : missing)
        fakeEscapi_setMissing(entry.toLatin1().constData());

    // Without them the library is used exactly as before.
    QCOMPARE(setupCaptureLibrary(), 2);
    QCOMPARE(QString(fakeEscapi_callLog()),
             QString("load() ESCAPIDLLVersion() initCOM() countCaptureDevices() "));
    const CaptureLibraryTable &lib = captureLibrary();
    QCOMPARE(reinterpret_cast<void *>(lib.getCaptureErrorText),
             missing.contains("getCaptureErrorText")
                 ? nullptr
                 : reinterpret_cast<void *>(&getCaptureErrorText));
    QCOMPARE(reinterpret_cast<void *>(lib.getCaptureDoneDescriptor),
             missing.contains("getCaptureDoneDescriptor")
                 ? nullptr
                 : reinterpret_cast<void *>(&getCaptureDoneDescriptor));
    QCOMPARE(reinterpret_cast<void *>(lib.setCaptureBuffer),
             missing.contains("setCaptureBuffer") ? nullptr
                                                  : reinterpret_cast<void *>(&setCaptureBuffer));

    // A later run binds them again, present or not.
    fakeEscapi_reset();
    fakeEscapi_setDeviceCount(2);
    QCOMPARE(setupCaptureLibrary(), 2);
    QVERIFY(captureLibrary().getCaptureErrorText);
    QVERIFY(captureLibrary().getCaptureDoneDescriptor);
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

void TestCapture::heldFramesKeepTheirPixels_data()
{
    QTest::addColumn<bool>("ownBuffers");
    QTest::newRow("a buffer for each frame") << true;
    QTest::newRow("the record's buffer") << false;
}

// Frames are handed on without copying where the library takes a buffer for
// each: none held anywhere may be written over by a later one, whether the
// holder lets go soon (the comparison's previous frame) or never.
void TestCapture::heldFramesKeepTheirPixels()
{
    QFETCH(bool, ownBuffers);
    fakeEscapi_setDeviceCount(1);
    if (!ownBuffers)
        fakeEscapi_setMissing("setCaptureBuffer");
    QCOMPARE(setupCaptureLibrary(), 1);
    QCOMPARE(captureLibrary().setCaptureBuffer != nullptr, ownBuffers);
    Webcam camera(0, 3, 2);
    QVERIFY(captureLibrary().initCapture(0, &camera.params));
    fakeEscapi_setRepeatLast(0, 0);

    QList<QImage> kept;
    QImage previous;
    for (unsigned int i = 1; i <= 12; ++i) {
        const std::vector<unsigned int> words(6, 0xFF000000u | i);
        fakeEscapi_queueFrame(0, words.data(), int(words.size()));
        camera.requestFrame();
        QVERIFY(camera.takeFrame());
        QCOMPARE(camera.image.pixel(2, 1), 0xFF000000u | i);
        if (!previous.isNull())
            QCOMPARE(previous.pixel(0, 0), 0xFF000000u | (i - 1));
        previous = camera.image;
        if (i % 3 == 0)
            kept.append(camera.image);
    }
    for (int k = 0; k < kept.size(); ++k)
        QCOMPARE(kept[k].pixel(1, 1), 0xFF000000u | unsigned(3 * (k + 1)));
}

void TestCapture::destructorAlwaysCloses()
{
    fakeEscapi_setDeviceCount(2);
    QCOMPARE(setupCaptureLibrary(), 2);
    {
        Webcam neverOpened(1, 8, 8);
    }
    QCOMPARE(fakeEscapi_deviceCallCount("deinitCapture", 1), 1);
}

void TestCapture::errorText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("bound");
    QTest::addColumn<QString>("expected");

    QTest::newRow("none") << QByteArray() << true << QString();
    const QByteArray line = "camera \"Clip\" did not start: Your GStreamer installation is "
                            "missing a plug-in.";
    QTest::newRow("one line") << line << true << QString::fromUtf8(line);
    QTest::newRow("UTF-8") << QByteArray("Kamera \xe2\x80\x9eT\xc3\xbcr\xe2\x80\x9c stopped")
                           << true << QString::fromUtf8("Kamera \u201eT\u00fcr\u201c stopped");
    // Longer than the first buffer the program offers.
    const QByteArray longLine = "camera \"Long\" did not start: " + QByteArray(2000, 'x');
    QTest::newRow("long") << longLine << true << QString::fromUtf8(longLine);
    QTest::newRow("library without it") << line << false << QString();
}

void TestCapture::errorText()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, bound);
    QFETCH(QString, expected);

    fakeEscapi_setDeviceCount(2);
    if (!bound)
        fakeEscapi_setMissing("getCaptureErrorText");
    QCOMPARE(setupCaptureLibrary(), 2);
    fakeEscapi_setErrorText(1, text.constData());
    fakeEscapi_setErrorText(0, "the other camera's");
    Webcam camera(1, 8, 8);
    QCOMPARE(camera.errorText(), expected);
    QCOMPARE(fakeEscapi_deviceCallCount("getCaptureErrorText", 0), 0);
}

void TestCapture::frameDoneDescriptorOnlyFromTheLibrary()
{
    fakeEscapi_setDeviceCount(2);
    QCOMPARE(setupCaptureLibrary(), 2);
    Webcam camera(1, 8, 8);
    const int descriptor = camera.frameDoneDescriptor();
    QVERIFY(descriptor >= 0);
    QCOMPARE(descriptor, getCaptureDoneDescriptor(1));
    QVERIFY(descriptor != getCaptureDoneDescriptor(0));

    fakeEscapi_setMissing("getCaptureDoneDescriptor");
    QCOMPARE(setupCaptureLibrary(), 2);
    QCOMPARE(camera.frameDoneDescriptor(), -1);
}

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
