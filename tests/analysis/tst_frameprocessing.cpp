#include "brightness.h"
#include "frameprocessing.h"
#include "imagefilter.h"
#include "sampleframes.h"

#include <QtTest>

class FrameProcessingTest : public QObject
{
    Q_OBJECT

private slots:
    void brightnessOffsets_data()
    {
        QTest::addColumn<int>("sliderValue");
        QTest::addColumn<int>("offset");
        const int offsets[] = {-229, -204, -178, -153, -127, -102, -76, -51, -25, 0,
                               25,   51,   76,   102,  127,  153,  178, 204, 229, 255};
        for (int v = 1; v <= 20; ++v)
            QTest::addRow("%d", v) << v << offsets[v - 1];
    }

    void brightnessOffsets()
    {
        QFETCH(int, sliderValue);
        QFETCH(int, offset);
        QCOMPARE(brightnessOffset(sliderValue), offset);
    }

    void offsetClampsAndMakesOpaque_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QRgb>("before");
        QTest::addColumn<QRgb>("after");
        QTest::newRow("up") << 76 << qRgba(10, 100, 200, 0) << qRgb(86, 176, 255);
        QTest::newRow("down") << -51 << qRgba(30, 51, 200, 17) << qRgb(0, 0, 149);
        QTest::newRow("zero") << 0 << qRgba(1, 2, 3, 4) << qRgb(1, 2, 3);
        QTest::newRow("all white") << 255 << qRgba(0, 0, 0, 0) << qRgb(255, 255, 255);
        QTest::newRow("lowest") << -229 << qRgb(229, 230, 255) << qRgb(0, 1, 26);
    }

    void offsetClampsAndMakesOpaque()
    {
        QFETCH(int, offset);
        QFETCH(QRgb, before);
        QFETCH(QRgb, after);
        QImage frame(7, 3, QImage::Format_ARGB32);
        frame.fill(before);
        applyBrightnessOffset(frame, offset);
        QImage expected(7, 3, QImage::Format_ARGB32);
        expected.fill(after);
        QCOMPARE(frame, expected);
    }

    void noFilterIgnoresKernelSize()
    {
        const QImage frame = cameraLikeFrame(60, 40, 1, true);
        for (int kernelIndex : {0, 1, 2, 7, -3})
            QCOMPARE(processFrame(frame, 0, kernelIndex, 10), frame);
    }

    void neutralBrightnessKeepsAlpha()
    {
        const QImage frame = cameraLikeFrame(60, 40, 2, true);
        QCOMPARE(processFrame(frame, 0, 0, 10), frame);
        // Only the processed pixels of the filter become opaque.
        const QImage filtered = processFrame(frame, 1, 0, 10);
        QCOMPARE(filtered.pixel(0, 0), frame.pixel(0, 0));
        QCOMPARE(filtered, filterImage(frame, 3, Median));
    }

    void filterChoices_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<int>("kernelIndex");
        for (int choice = 1; choice <= 3; ++choice)
            for (int kernelIndex = 0; kernelIndex <= 2; ++kernelIndex)
                QTest::addRow("choice %d, kernel %d", choice, kernelIndex) << choice << kernelIndex;
    }

    // Median then mean on the median's result, and the offset after both.
    void filterChoices()
    {
        QFETCH(int, choice);
        QFETCH(int, kernelIndex);
        const QImage frame = cameraLikeFrame(80, 50, 3, true);
        const unsigned kernelSize = 2 * kernelIndex + 3;
        QImage expected = frame;
        if (choice != 2)
            expected = filterImage(expected, kernelSize, Median);
        if (choice != 1)
            expected = filterImage(expected, kernelSize, Mean);
        QCOMPARE(processFrame(frame, choice, kernelIndex, 10), expected);
        applyBrightnessOffset(expected, brightnessOffset(14));
        QCOMPARE(processFrame(frame, choice, kernelIndex, 14), expected);
    }

    void brightnessWithoutFilter()
    {
        const QImage frame = cameraLikeFrame(20, 10, 4, true);
        const QImage processed = processFrame(frame, 0, 1, 20);
        QImage white(20, 10, QImage::Format_ARGB32);
        white.fill(0xFFFFFFFFu);
        QCOMPARE(processed, white);
    }
};

QTEST_GUILESS_MAIN(FrameProcessingTest)
#include "tst_frameprocessing.moc"
