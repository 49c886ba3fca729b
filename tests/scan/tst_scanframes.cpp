// GLib's headers use Qt's keywords as names: they come first.
#include "capturetest.h"
#include "clipdecoder.h"
#include "escapi.h"

#include <QtTest>

#include <QTemporaryDir>
#include <QUrl>

#include <cstring>
#include <vector>

// A clip scanned and the same clip played as a camera give the very same
// frames: both are made by the capture library's frame converter, for raw
// video of the usual formats, for others, and for JPEG pictures decoded
// smaller.
class TestScanFrames : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cameraAndScanGiveTheSameFrames_data();
    void cameraAndScanGiveTheSameFrames();

private:
    QTemporaryDir dir;
};

void TestScanFrames::initTestCase()
{
    QVERIFY(dir.isValid());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    initCOM();
    gst_init(nullptr, nullptr);
}

void TestScanFrames::cameraAndScanGiveTheSameFrames_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("picture");
    QTest::addColumn<QByteArray>("encoder");

    const QByteArray bars =
        "videotestsrc pattern=smpte num-buffers=5 ! video/x-raw,framerate=10/1,";
    QTest::newRow("MPEG-4 AVI, 4:2:0, scaled down")
        << "divx.avi" << bars + "width=768,height=576" << QByteArray("avenc_mpeg4 ! avimux");
    QTest::newRow("Motion JPEG, decoded at half")
        << "mjpeg.avi" << bars + "width=1280,height=720" << QByteArray("jpegenc ! avimux");
    QTest::newRow("Motion JPEG, scaled up")
        << "small.avi" << bars + "width=320,height=240" << QByteArray("jpegenc ! avimux");
    QTest::newRow("raw packed 4:2:2")
        << "yuy2.mkv" << bars + "format=YUY2,width=640,height=480" << QByteArray("matroskamux");
    QTest::newRow("raw RGB, another converter")
        << "rgb.mkv" << bars + "format=RGB,width=500,height=300" << QByteArray("matroskamux");
}

void TestScanFrames::cameraAndScanGiveTheSameFrames()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, picture);
    QFETCH(QByteArray, encoder);

    const QString path = dir.filePath(file);
    QVERIFY(runToEnd(picture + " ! " + encoder + " ! filesink location=" + path.toUtf8()));

    // Every frame the scan gives; the clip's pictures are all alike, so the
    // camera's frame must be one of them, whichever it is.
    ClipDecoder decoder;
    QVERIFY2(decoder.open(path, false), qPrintable(decoder.error()));
    std::vector<QImage> scanned;
    QImage frame;
    qint64 timeMs = 0;
    while (decoder.next(&frame, &timeMs))
        scanned.push_back(frame);
    QVERIFY2(!scanned.empty(), qPrintable(decoder.error()));

    const int device = useCaptureSources("Clip=" + QUrl::fromLocalFile(path).toEncoded());
    GuardedFrame camera(ClipDecoder::frameWidth, ClipDecoder::frameHeight);
    QCOMPARE(initCapture(device, &camera.params), 1);
    const bool captured = captureFrame(device, 5000);
    deinitCapture(device);
    QVERIFY(captured);
    QVERIFY(camera.guardIntact());

    bool same = false;
    for (const QImage &image : scanned)
        same = same || std::memcmp(image.constBits(), camera.words.data(),
                                   std::size_t(camera.pixelCount()) * 4) == 0;
    QVERIFY(same);
}

QTEST_GUILESS_MAIN(TestScanFrames)
#include "tst_scanframes.moc"
