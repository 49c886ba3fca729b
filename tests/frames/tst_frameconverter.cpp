// GLib's headers use Qt's keywords as names: they come first.
#include "frameconverter.h"
#include "jpegdecoder.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <vector>

// Frames as the capture library hands them over: JPEG pictures decoded by the
// library itself against the stock decoding element's pictures converted the
// same way, and the reduced decoding of large pictures against the full one.
class tst_FrameConverter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { gst_init(nullptr, nullptr); }
    void scaleDenominator_data();
    void scaleDenominator();
    void jpegMatchesTheDecodingElement_data();
    void jpegMatchesTheDecodingElement();
    void damagedPictureIsRefused();
    void formatsMatchTheStockElements_data();
    void formatsMatchTheStockElements();
    void coloursComeOutAsTheyWent_data();
    void coloursComeOutAsTheyWent();
};

namespace
{

using Frame = std::vector<unsigned int>;

// The one sample a pipeline ending in "appsink name=out" gives.
SamplePtr pullSample(const QByteArray &launch, GstBuffer *input = nullptr)
{
    GstElement *pipeline = gst_parse_launch(launch.constData(), nullptr);
    if (!pipeline)
        return nullptr;
    GstElement *out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    if (input) {
        GstElement *in = gst_bin_get_by_name(GST_BIN(pipeline), "in");
        gst_app_src_push_buffer(GST_APP_SRC(in), gst_buffer_ref(input));
        gst_app_src_end_of_stream(GST_APP_SRC(in));
        gst_object_unref(in);
    }
    SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(out), 10 * GST_SECOND));
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(out);
    gst_object_unref(pipeline);
    return sample;
}

// sample through a converter to a 480 x 320 frame; empty when it refuses.
Frame convert(GstSample *sample)
{
    Frame frame(480 * 320);
    FrameConverter converter(frame.data(), 480, 320);
    return sample && converter.convert(sample) ? frame : Frame();
}

// Mean and largest difference of the two frames' colour bytes.
void compare(const Frame &a, const Frame &b, double &mean, int &largest)
{
    double sum = 0;
    largest = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8) {
            const int d = std::abs(int(a[i] >> shift & 0xFF) - int(b[i] >> shift & 0xFF));
            sum += d;
            largest = qMax(largest, d);
        }
    mean = sum / (3.0 * a.size());
}

} // namespace

void tst_FrameConverter::scaleDenominator_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("denominator");

    QTest::newRow("the frame itself") << 480 << 320 << 1;
    QTest::newRow("640 x 360") << 640 << 360 << 1;
    QTest::newRow("twice as wide only") << 960 << 600 << 1;
    QTest::newRow("just twice") << 960 << 640 << 2;
    QTest::newRow("twice, odd") << 959 << 639 << 2;
    QTest::newRow("1280 x 720") << 1280 << 720 << 2;
    QTest::newRow("1920 x 1080") << 1920 << 1080 << 2;
    QTest::newRow("2560 x 1440") << 2560 << 1440 << 4;
    QTest::newRow("eight times") << 3840 << 2560 << 8;
    QTest::newRow("smaller than the frame") << 160 << 120 << 1;
}

void tst_FrameConverter::scaleDenominator()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, denominator);
    QCOMPARE(jpegScaleDenominator(width, height, 480, 320), denominator);
}

void tst_FrameConverter::jpegMatchesTheDecodingElement_data()
{
    QTest::addColumn<QByteArray>("picture");
    QTest::addColumn<double>("meanBound");
    QTest::addColumn<int>("largestBound");

    // Decoded at full size into the planes the stock element gives: the
    // very same frame.
    const QByteArray bars = "videotestsrc pattern=smpte75 num-buffers=1 ! video/x-raw,";
    QTest::newRow("640 x 360 bars, 4:2:0") << bars + "format=I420,width=640,height=360" << 0.0 << 0;
    QTest::newRow("grey") << bars + "format=GRAY8,width=480,height=320" << 0.0 << 0;
    QTest::newRow("640 x 480 bars, 4:2:2") << bars + "format=Y42B,width=640,height=480" << 0.0 << 0;
    // The stock element thins 4:4:4 chroma out to 4:2:0 first: close, with
    // the chroma edges apart.
    QTest::newRow("odd size bars, 4:4:4")
        << bars + "format=Y444,width=333,height=201" << 2.0 << 128;
    // Decoded at half or a quarter of the size, then scaled, against the
    // full picture scaled: a smooth picture within rounding, sharp edges
    // apart by what the full picture's scaling skips over.
    const QByteArray gradient = "videotestsrc pattern=gradient num-buffers=1 ! video/x-raw,";
    QTest::newRow("1280 x 720 gradient, half")
        << gradient + "format=I420,width=1280,height=720" << 1.0 << 3;
    QTest::newRow("1920 x 1080 gradient, half")
        << gradient + "format=Y42B,width=1920,height=1080" << 1.0 << 3;
    QTest::newRow("2560 x 1440 gradient, quarter")
        << gradient + "format=I420,width=2560,height=1440" << 1.0 << 3;
    QTest::newRow("1280 x 720 bars, half")
        << bars + "format=I420,width=1280,height=720" << 1.0 << 32;
    QTest::newRow("1280 x 720 pinwheel, half")
        << QByteArray("videotestsrc pattern=pinwheel num-buffers=1 ! video/x-raw,format=I420,"
                      "width=1280,height=720")
        << 2.5 << 80;
}

void tst_FrameConverter::jpegMatchesTheDecodingElement()
{
    QFETCH(QByteArray, picture);
    QFETCH(double, meanBound);
    QFETCH(int, largestBound);

    SamplePtr jpeg = pullSample(picture + " ! jpegenc quality=85 ! appsink name=out");
    QVERIFY(jpeg);
    SamplePtr decoded = pullSample("appsrc name=in caps=image/jpeg ! jpegdec ! appsink name=out",
                                   gst_sample_get_buffer(jpeg.get()));
    QVERIFY(decoded);

    const Frame ours = convert(jpeg.get());
    const Frame reference = convert(decoded.get());
    QVERIFY(!ours.empty());
    QVERIFY(!reference.empty());
    double mean = 0;
    int largest = 0;
    compare(ours, reference, mean, largest);
    qInfo("mean difference %.3f, largest %d", mean, largest);
    QVERIFY2(mean <= meanBound, qPrintable(QString::number(mean)));
    QVERIFY2(largest <= largestBound, qPrintable(QString::number(largest)));
    for (unsigned int word : ours)
        QCOMPARE(word >> 24, 0xFFu);
}

void tst_FrameConverter::damagedPictureIsRefused()
{
    SamplePtr jpeg = pullSample("videotestsrc num-buffers=1 ! video/x-raw,width=320,height=240 ! "
                                "jpegenc ! appsink name=out");
    QVERIFY(jpeg);
    GstMapInfo map;
    QVERIFY(gst_buffer_map(gst_sample_get_buffer(jpeg.get()), &map, GST_MAP_READ));
    const QByteArray whole(reinterpret_cast<const char *>(map.data), int(map.size));
    gst_buffer_unmap(gst_sample_get_buffer(jpeg.get()), &map);

    // Not a picture at all, a header alone, a picture cut short.
    for (const QByteArray &bytes :
         {QByteArray("not a picture"), whole.left(20), whole.left(whole.size() / 2)}) {
        GstBuffer *buffer = gst_buffer_new_memdup(bytes.constData(), gsize(bytes.size()));
        SamplePtr sample(gst_sample_new(buffer, gst_sample_get_caps(jpeg.get()), nullptr, nullptr));
        gst_buffer_unref(buffer);
        Frame frame(480 * 320, 0x12345678u);
        FrameConverter converter(frame.data(), 480, 320);
        const bool taken = converter.convert(sample.get());
        // A picture cut short still decodes (libjpeg fills the rest); the
        // others leave the frame alone.
        if (bytes.size() < 100) {
            QVERIFY(!taken);
            QCOMPARE(frame.front(), 0x12345678u);
        }
    }
}

void tst_FrameConverter::formatsMatchTheStockElements_data()
{
    QTest::addColumn<QByteArray>("caps");

    // Colour bars, scaled down or up: the usual formats take a way of
    // their own (planes swapped or a wrong matrix would be far off), others
    // GStreamer's converter.
    for (const char *format :
         {"I420", "YV12", "Y42B", "Y444", "NV12", "NV21", "YUY2", "UYVY", "GRAY8", "BGRA"})
        for (const char *size : {"width=640,height=360", "width=320,height=240"})
            QTest::newRow(qPrintable(QString("%1, %2").arg(format, size)))
                << QByteArray("format=") + format + "," + size;
    QTest::newRow("I420, BT.709") << QByteArray("format=I420,width=1280,height=720,"
                                                "colorimetry=bt709");
    QTest::newRow("I420, full range") << QByteArray("format=I420,width=640,height=480,"
                                                    "colorimetry=1:4:0:0");
    QTest::newRow("RGB, the converter's way") << QByteArray("format=RGB,width=640,height=480");
}

void tst_FrameConverter::formatsMatchTheStockElements()
{
    QFETCH(QByteArray, caps);

    const QByteArray source = "videotestsrc pattern=smpte75 num-buffers=1 ! video/x-raw," + caps;
    SamplePtr frame = pullSample(source + " ! appsink name=out");
    SamplePtr reference = pullSample(
        source + " ! videoconvert ! videoscale ! video/x-raw,format=BGRA,width=480,height=320 "
                 "! appsink name=out");
    QVERIFY(frame);
    QVERIFY(reference);
    const Frame ours = convert(frame.get());
    QVERIFY(!ours.empty());
    Frame theirs(480 * 320);
    GstMapInfo map;
    QVERIFY(gst_buffer_map(gst_sample_get_buffer(reference.get()), &map, GST_MAP_READ));
    std::memcpy(theirs.data(), map.data, theirs.size() * 4);
    gst_buffer_unmap(gst_sample_get_buffer(reference.get()), &map);

    double mean = 0;
    int largest = 0;
    compare(ours, theirs, mean, largest);
    qInfo("mean difference %.3f, largest %d", mean, largest);
    // Each rounds its own way (the stock converter within four steps of the
    // exact colour, see below), and chroma edges are drawn apart.
    QVERIFY2(mean <= 3.0, qPrintable(QString::number(mean)));
    for (unsigned int word : ours)
        QCOMPARE(word >> 24, 0xFFu);
}

void tst_FrameConverter::coloursComeOutAsTheyWent_data()
{
    QTest::addColumn<QByteArray>("caps");
    QTest::addColumn<unsigned int>("colour");

    const QByteArray sd = "width=640,height=360";
    for (unsigned int colour : {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u, 0xFF808080u,
                                0xFF102030u, 0xFFF0E0D0u}) {
        const QString name = QString::number(colour, 16);
        QTest::newRow(qPrintable("I420 BT.601 " + name)) << "format=I420," + sd << colour;
        // JPEG pictures decode to full-range samples.
        QTest::newRow(qPrintable("JPEG " + name))
            << "format=BGRx," + sd +
                   " ! videoconvert ! video/x-raw,format=I420,colorimetry=1:4:0:0 ! jpegenc "
                   "quality=100"
            << colour;
        QTest::newRow(qPrintable("I420 BT.709 " + name))
            << "format=I420,colorimetry=bt709," + sd << colour;
        QTest::newRow(qPrintable("NV12 " + name)) << "format=NV12," + sd << colour;
        QTest::newRow(qPrintable("YUY2 " + name)) << "format=YUY2," + sd << colour;
    }
    QTest::newRow("grey") << "format=GRAY8," + sd << 0xFF606060u;
}

// Within five steps of each colour, as close as the stock converter comes.
void tst_FrameConverter::coloursComeOutAsTheyWent()
{
    QFETCH(QByteArray, caps);
    QFETCH(unsigned int, colour);

    SamplePtr frame = pullSample(
        "videotestsrc pattern=solid-color foreground-color=" + QByteArray::number(colour) +
        " num-buffers=1 ! video/x-raw," + caps + " ! appsink name=out");
    QVERIFY(frame);
    const Frame ours = convert(frame.get());
    QVERIFY(!ours.empty());
    const Frame exact(ours.size(), colour);
    double mean = 0;
    int largest = 0;
    compare(ours, exact, mean, largest);
    QVERIFY2(largest <= 5, qPrintable(QString::number(ours[1000], 16)));
}

QTEST_GUILESS_MAIN(tst_FrameConverter)
#include "tst_frameconverter.moc"
