#include "framecomparison.h"
#include "framestatistics.h"
#include "lightingchange.h"
#include "movingarea.h"
#include "sampleframes.h"
#include "steadymovement.h"

#include <QtTest>

#include <algorithm>
#include <cstring>
#include <random>

// The image measures the alert guards judge by.
class AlertMeasuresTest : public QObject
{
    Q_OBJECT

private:
    static quint64 bitsOf(double value)
    {
        quint64 bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    }

    // The level over the counted pixels the plain way: the same terms in
    // the same order, skipping the ignored pixels.
    static double plainCountedCompare(const QImage &previous, const QImage &current,
                                      const QImage &ignored)
    {
        double sum = 0.0;
        int counted = 0;
        for (int y = 0; y < previous.height(); ++y) {
            for (int x = 0; x < previous.width(); ++x) {
                if (ignored.valid(x, y) && ignored.constScanLine(y)[x])
                    continue;
                ++counted;
                const QRgb p = previous.pixel(x, y), c = current.pixel(x, y);
                sum += double(std::max(0, qRed(p) - qRed(c))) / 255 / 3;
                sum += double(std::max(0, qGreen(p) - qGreen(c))) / 255 / 3;
                sum += double(std::max(0, qBlue(p) - qBlue(c))) / 255 / 3;
            }
        }
        return counted ? sum / counted : 0.0;
    }

    static QImage mask(QSize size, const QRect &painted)
    {
        QImage image(size, QImage::Format_Grayscale8);
        image.fill(0);
        for (int y = painted.top(); y <= painted.bottom(); ++y)
            for (int x = painted.left(); x <= painted.right(); ++x)
                if (image.valid(x, y))
                    image.scanLine(y)[x] = 255;
        return image;
    }

    // How many pixels of each area moved, and how many count, the plain way.
    static QVector<QPoint> plainMovedCounts(const QImage &difference, const QImage &ignored,
                                            int blockSize, int minimum)
    {
        const int columns = (difference.width() + blockSize - 1) / blockSize;
        const int rows = (difference.height() + blockSize - 1) / blockSize;
        QVector<QPoint> counts(columns * rows); // x moved, y counted
        for (int y = 0; y < difference.height(); ++y) {
            for (int x = 0; x < difference.width(); ++x) {
                if (ignored.valid(x, y) && ignored.constScanLine(y)[x])
                    continue;
                QPoint &count = counts[y / blockSize * columns + x / blockSize];
                count.ry() += 1;
                const QRgb d = difference.pixel(x, y);
                count.rx() += qRed(d) + qGreen(d) + qBlue(d) >= minimum ? 1 : 0;
            }
        }
        return counts;
    }

private slots:
    void noMaskIsTheFullComparisonBitForBit_data()
    {
        QTest::addColumn<QImage>("previous");
        QTest::addColumn<QImage>("current");
        const QImage room = cameraLikeFrame(480, 320, 11);
        QTest::newRow("person walks in") << room << withPerson(room, QRect(100, 60, 80, 220));
        QTest::newRow("noise") << noiseFrame(480, 320, 1) << noiseFrame(480, 320, 2);
        QTest::newRow("odd size") << cameraLikeFrame(37, 23, 3) << cameraLikeFrame(37, 23, 4);
    }

    void noMaskIsTheFullComparisonBitForBit()
    {
        QFETCH(QImage, previous);
        QFETCH(QImage, current);
        QImage full, none, empty;
        const double plain = compareFrames(previous, current, full);
        QCOMPARE(bitsOf(compareFrames(previous, current, none, QImage())), bitsOf(plain));
        // A mask that leaves nothing out takes the counted way and still
        // lands on the same bits.
        QCOMPARE(bitsOf(compareFrames(previous, current, empty, mask(previous.size(), QRect()))),
                 bitsOf(plain));
        QCOMPARE(none, full);
        QCOMPARE(empty, full);
    }

    void maskedLevelCountsOnlyTheCountedPixels_data()
    {
        QTest::addColumn<QRect>("painted");
        QTest::newRow("left half") << QRect(0, 0, 240, 320);
        QTest::newRow("ragged patch") << QRect(13, 7, 101, 211);
        QTest::newRow("one pixel") << QRect(479, 319, 1, 1);
        QTest::newRow("over the edge") << QRect(400, 300, 200, 200);
    }

    void maskedLevelCountsOnlyTheCountedPixels()
    {
        QFETCH(QRect, painted);
        const QImage previous = noiseFrame(480, 320, 5);
        const QImage current = noiseFrame(480, 320, 6);
        const QImage ignored = mask(previous.size(), painted);
        QImage difference, full;
        const double counted = compareFrames(previous, current, difference, ignored);
        QCOMPARE(bitsOf(counted), bitsOf(plainCountedCompare(previous, current, ignored)));
        // The difference image still shows every pixel.
        compareFrames(previous, current, full);
        QCOMPARE(difference, full);
    }

    void maskedLevelEdgeCases()
    {
        const QImage white = filledFrame(48, 32, 0xFFFFFFFF);
        const QImage half = withPerson(white, QRect(0, 0, 24, 32), qRgb(0, 0, 0));
        QImage difference;
        // The change lies wholly in the painted half: nothing counts.
        QCOMPARE(compareFrames(white, half, difference, mask(white.size(), QRect(0, 0, 24, 32))),
                 0.0);
        // Everything painted: nothing to count, level 0, no division by zero.
        QCOMPARE(compareFrames(white, filledFrame(48, 32, 0xFF000000), difference,
                               mask(white.size(), QRect(0, 0, 48, 32))),
                 0.0);
        // A mask smaller than the frame: the pixels past it count.
        const double smaller = compareFrames(white, filledFrame(48, 32, 0xFF000000), difference,
                                             mask(QSize(24, 32), QRect(0, 0, 24, 32)));
        QVERIFY(dissimilarityLevel(smaller) >= 999);
        // A mask in a format other than grey bytes is no mask.
        QImage wrong(48, 32, QImage::Format_ARGB32);
        wrong.fill(0xFFFFFFFF);
        QCOMPARE(bitsOf(compareFrames(white, half, difference, wrong)),
                 bitsOf(compareFrames(white, half, difference)));
    }

    void movedAreas_data()
    {
        QTest::addColumn<QRect>("body");
        QTest::addColumn<QRect>("painted");
        QTest::addColumn<double>("share");
        // 30 x 20 areas of 16 x 16 in a 480 x 320 frame.
        QTest::newRow("two whole areas") << QRect(32, 32, 32, 16) << QRect() << 2.0 / 600;
        QTest::newRow("a quarter of an area") << QRect(32, 32, 16, 4) << QRect() << 1.0 / 600;
        QTest::newRow("less than a quarter") << QRect(32, 32, 16, 3) << QRect() << 0.0;
        QTest::newRow("painted out") << QRect(32, 32, 32, 16) << QRect(0, 0, 480, 64) << 0.0;
        // Painted areas leave the share's whole as well.
        QTest::newRow("half painted")
            << QRect(320, 32, 32, 16) << QRect(0, 0, 240, 320) << 2.0 / 300;
    }

    void movedAreas()
    {
        QFETCH(QRect, body);
        QFETCH(QRect, painted);
        QFETCH(double, share);
        const QImage white = filledFrame(480, 320, 0xFFFFFFFF);
        QImage difference;
        compareFrames(white, withPerson(white, body, qRgb(0, 0, 0)), difference);
        const QImage blocks = movedBlocks(
            difference, painted.isNull() ? QImage() : mask(white.size(), painted), 16, 90, 64);
        QCOMPARE(blocks.size(), QSize(30, 20));
        QCOMPARE(movedShare(blocks), share);
    }

    // Any size, block size and mask, with darkenings around the minimum.
    void movedBlocksMatchPlainCount_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<QSize>("maskSize");
        const QSize none;
        QTest::newRow("camera, no mask") << QSize(480, 320) << 16 << none;
        QTest::newRow("camera, mask") << QSize(480, 320) << 16 << QSize(480, 320);
        QTest::newRow("odd size, blocks of 7") << QSize(37, 23) << 7 << none;
        QTest::newRow("odd size, narrower mask") << QSize(101, 45) << 20 << QSize(50, 30);
        QTest::newRow("wider mask") << QSize(40, 40) << 16 << QSize(60, 20);
        QTest::newRow("one pixel") << QSize(1, 1) << 16 << none;
    }

    void movedBlocksMatchPlainCount()
    {
        QFETCH(QSize, size);
        QFETCH(int, blockSize);
        QFETCH(QSize, maskSize);
        std::mt19937 random(quint32(size.width() * 7 + blockSize));
        QImage difference(size, QImage::Format_ARGB32);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                difference.setPixel(
                    x, y, qRgb(int(random() % 61), int(random() % 61), int(random() % 61)));
        QImage ignored;
        if (maskSize.isValid()) {
            ignored = QImage(maskSize, QImage::Format_Grayscale8);
            for (int y = 0; y < maskSize.height(); ++y)
                for (int x = 0; x < maskSize.width(); ++x)
                    ignored.scanLine(y)[x] = random() % 3 == 0 ? 255 : 0;
            // A stretch painted whole and one left whole.
            if (maskSize.height() > 2)
                std::fill_n(ignored.scanLine(1), maskSize.width(), uchar(255));
        }
        // The verdicts agree for every number of pixels an area needs
        // exactly when the counts agree.
        const QVector<QPoint> counts = plainMovedCounts(difference, ignored, blockSize, 90);
        for (int minimumPixels = 1; minimumPixels <= blockSize * blockSize; ++minimumPixels) {
            const QImage blocks = movedBlocks(difference, ignored, blockSize, 90, minimumPixels);
            for (int i = 0; i < counts.size(); ++i) {
                const QPoint count = counts[i];
                const int expected = count.y() == 0 ? 0 : count.x() >= minimumPixels ? 255 : 1;
                QCOMPARE(int(blocks.constScanLine(i / blocks.width())[i % blocks.width()]),
                         expected);
            }
        }
    }

    void scatteredChangesMoveNoArea()
    {
        // Leaves stirring: a few scattered pixels in every area change a lot.
        const QImage scene = filledFrame(480, 320, 0xFF808080);
        QImage stirred = scene.copy();
        for (int y = 0; y < 320; y += 5)
            for (int x = (y / 5) % 4; x < 480; x += 4)
                stirred.setPixel(x, y, 0xFF000000);
        QImage difference;
        compareFrames(scene, stirred, difference);
        QVERIFY(dissimilarityLevel(compareFrames(scene, stirred, difference)) > 20);
        QCOMPARE(movedShare(movedBlocks(difference, QImage(), 16, 90, 64)), 0.0);
        // Noise of a few grey levels never counts as moved at all.
        compareFrames(withNoise(scene, 12, 1), withNoise(scene, 12, 2), difference);
        QCOMPARE(movedShare(movedBlocks(difference, QImage(), 16, 90, 1)), 0.0);
    }

    void blockMeansOfEveryRowOrSome()
    {
        // Stripes: even rows black, odd rows grey 200; 20 x 18 in blocks of 8.
        QImage stripes(20, 18, QImage::Format_ARGB32);
        for (int y = 0; y < 18; ++y)
            for (int x = 0; x < 20; ++x)
                stripes.setPixel(x, y, y % 2 ? 0xFFC8C8C8 : 0xFF000000);
        const QImage all = blockMeans(stripes, 8);
        QCOMPARE(all.size(), QSize(3, 3));
        QCOMPARE(all.pixel(0, 0), 0xFF646464u);
        // The last row of blocks holds rows 16 and 17 only.
        QCOMPARE(all.pixel(2, 2), 0xFF646464u);
        QCOMPARE(blockMeans(stripes, 8, 2).pixel(1, 1), 0xFF000000u);
        QCOMPARE(blockMeans(stripes, 8, 2).pixel(2, 2), 0xFF000000u);
        QCOMPARE(blockMeans(stripes.copy(0, 1, 20, 17), 8, 2).pixel(1, 1), 0xFFC8C8C8u);
    }

    void uniformAndSameFrames()
    {
        QVERIFY(isUniform(blockMeans(filledFrame(480, 320, 0xFF808080), 16), 4));
        QVERIFY(isUniform(blockMeans(withNoise(filledFrame(480, 320, 0xFF000000), 3, 1), 16), 4));
        QVERIFY(!isUniform(blockMeans(cameraLikeFrame(480, 320, 1), 16), 4));
        QVERIFY(!isUniform(QImage(), 4));

        const QImage room = cameraLikeFrame(480, 320, 2);
        QVERIFY(sameFrame(room, room.copy(), 10, 0));
        QImage touched = room.copy();
        for (int x = 0; x < 5; ++x)
            touched.setPixel(x, 0, room.pixel(x, 0) ^ 0x00FF0000);
        QVERIFY(sameFrame(room, touched, 10, 5));
        QVERIFY(!sameFrame(room, touched, 10, 4));
        // Small changes everywhere, as a re-encoded repeat: still the same.
        QVERIFY(sameFrame(room, withNoise(room, 3, 9), 10, 0));
        QVERIFY(!sameFrame(room, room.scaled(240, 160), 10, 1000));
        // Alpha is no part of the picture.
        QImage clear = room.copy();
        clear.fill(Qt::transparent);
        QVERIFY(sameFrame(withGain(filledFrame(8, 8, 0x00123456), 1.0),
                          filledFrame(8, 8, 0xFF123456), 0, 0));
    }

    void lightChange_data()
    {
        QTest::addColumn<double>("gain");
        QTest::addColumn<bool>("withPersonToo");
        QTest::newRow("lamp off") << 0.8 << false;
        QTest::newRow("lamp on") << 1.25 << false;
        QTest::newRow("lamp off as a person walks in") << 0.8 << true;
        QTest::newRow("no change") << 1.0 << false;
    }

    void lightChange()
    {
        QFETCH(double, gain);
        QFETCH(bool, withPersonToo);
        const QImage room = cameraLikeFrame(480, 320, 21);
        QImage after = withGain(room, gain);
        if (withPersonToo)
            after = withPerson(after, QRect(300, 40, 90, 260), qRgb(0, 0, 0));
        const LightChange change = measureLightChange(blockMeans(room, 16), blockMeans(after, 16));
        QVERIFY(change.valid);
        for (double g : change.gains)
            QVERIFY2(std::abs(g - gain) < 0.03, qPrintable(QString::number(g)));
        // Seen in the new light, the room is as it was; the person is not.
        QImage difference;
        const double left = compareFrames(relit(room, change), after, difference);
        if (withPersonToo)
            QVERIFY(dissimilarityLevel(left) >= 20);
        else
            QVERIFY(dissimilarityLevel(left) <= 2);
    }

    void lightChangeNeedsBlocksToJudge()
    {
        // Black before: no block is bright enough to give a ratio.
        const QImage black = filledFrame(480, 320, 0xFF000000);
        QVERIFY(!measureLightChange(blockMeans(black, 16), blockMeans(black, 16)).valid);
        QVERIFY(!measureLightChange(QImage(), QImage()).valid);
        // The whole picture darker by a third: every block moved that way.
        const QImage room = cameraLikeFrame(480, 320, 3);
        const LightChange whole =
            measureLightChange(blockMeans(room, 16), blockMeans(withGain(room, 0.66), 16));
        QVERIFY(whole.wholeShare > 0.9);
    }

    void steadyActivityAndHysteresis()
    {
        QImage moved(3, 1, QImage::Format_Grayscale8);
        moved.scanLine(0)[0] = 255; // always moves
        moved.scanLine(0)[1] = 1;   // never moves
        moved.scanLine(0)[2] = 0;   // no counted pixels
        QImage activity, steady;
        int ticks = 0;
        while (steady.isNull() || !steady.constScanLine(0)[0]) {
            updateActivity(activity, moved, 4);
            updateSteadyBlocks(steady, activity, 65535 * 30 / 100, 65535 * 12 / 100);
            ++ticks;
            QVERIFY(ticks < 100);
        }
        // 1/16 of the way each tick: 30 % after six ticks.
        QCOMPARE(ticks, 6);
        QCOMPARE(steady.constScanLine(0)[1], uchar(0));
        QCOMPARE(steady.constScanLine(0)[2], uchar(0));
        // Still again: steady until the activity falls below 12 %.
        std::fill_n(moved.scanLine(0), 3, uchar(1));
        int still = 0;
        while (steady.constScanLine(0)[0]) {
            updateActivity(activity, moved, 4);
            updateSteadyBlocks(steady, activity, 65535 * 30 / 100, 65535 * 12 / 100);
            ++still;
            QVERIFY(still < 100);
        }
        QVERIFY(still > 5);
    }

    void blocksAsPixels()
    {
        QImage blocks(3, 2, QImage::Format_Grayscale8);
        blocks.fill(0);
        blocks.scanLine(0)[0] = 255;
        const QImage plain = blocksToPixels(blocks, 4, QSize(10, 7), false);
        QCOMPARE(plain.size(), QSize(10, 7));
        QCOMPARE(plain.pixelColor(3, 3).red(), 255);
        QCOMPARE(plain.pixelColor(4, 3).red(), 0);
        QCOMPARE(plain.pixelColor(0, 4).red(), 0);
        const QImage grown = blocksToPixels(blocks, 4, QSize(10, 7), true);
        QCOMPARE(grown.pixelColor(7, 6).red(), 255);
        QCOMPARE(grown.pixelColor(8, 6).red(), 0);
        QVERIFY(blocksToPixels(QImage(), 4, QSize(10, 7), true).isNull());
    }
};

QTEST_APPLESS_MAIN(AlertMeasuresTest)
#include "tst_alertmeasures.moc"
