#include "framecomparison.h"
#include "sampleframes.h"

#include <QtTest>

#include <algorithm>
#include <cstring>

class FrameComparisonTest : public QObject
{
    Q_OBJECT

private:
    static quint64 bitsOf(double value)
    {
        quint64 bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    }

    // The comparison written the plain way, pixel by pixel; pixels outside
    // a frame count as opaque black.
    static double naiveCompare(const QImage &previous, const QImage &current, QImage &difference)
    {
        const int width = std::max(previous.width(), current.width());
        const int height = std::max(previous.height(), current.height());
        difference = QImage(width, height, QImage::Format_ARGB32);
        auto at = [](const QImage &image, int x, int y) {
            return image.valid(x, y) ? image.pixel(x, y) : 0xFF000000u;
        };
        double sum = 0.0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const QRgb p = at(previous, x, y), c = at(current, x, y);
                const int dR = std::max(0, qRed(p) - qRed(c));
                const int dG = std::max(0, qGreen(p) - qGreen(c));
                const int dB = std::max(0, qBlue(p) - qBlue(c));
                sum += double(dR) / 255 / 3;
                sum += double(dG) / 255 / 3;
                sum += double(dB) / 255 / 3;
                difference.setPixel(x, y, 0xFF000000u | dR << 16 | dG << 8 | dB);
            }
        }
        return sum / (width * height);
    }

private slots:
    void onlyDarkeningCounts_data()
    {
        QTest::addColumn<QRgb>("before");
        QTest::addColumn<QRgb>("after");
        QTest::addColumn<double>("dissimilarity");
        QTest::addColumn<QRgb>("plot");
        QTest::newRow("identical")
            << qRgb(90, 100, 110) << qRgb(90, 100, 110) << 0.0 << qRgb(0, 0, 0);
        QTest::newRow("brighter") << qRgb(90, 100, 110) << qRgb(91, 200, 255) << 0.0
                                  << qRgb(0, 0, 0);
        QTest::newRow("white to black") << 0xFFFFFFFFu << 0xFF000000u << 1.0 << qRgb(255, 255, 255);
        QTest::newRow("mixed") << qRgb(16, 32, 48) << qRgb(32, 16, 16) << 48.0 / 765
                               << qRgb(0, 16, 32);
        QTest::newRow("alpha ignored")
            << qRgba(10, 10, 10, 255) << qRgba(10, 10, 10, 0) << 0.0 << qRgb(0, 0, 0);
    }

    void onlyDarkeningCounts()
    {
        QFETCH(QRgb, before);
        QFETCH(QRgb, after);
        QFETCH(double, dissimilarity);
        QFETCH(QRgb, plot);
        QImage difference;
        const double d =
            compareFrames(filledFrame(48, 32, before), filledFrame(48, 32, after), difference);
        QCOMPARE(d, dissimilarity);
        QCOMPARE(difference, filledFrame(48, 32, plot));
    }

    void levelAndTitle_data()
    {
        QTest::addColumn<double>("dissimilarity");
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("title");
        QTest::newRow("zero") << 0.0 << 0 << "Orvella - 0% Dissimilarity";
        QTest::newRow("full") << 1.0 << 1000 << "Orvella - 1000% Dissimilarity";
        QTest::newRow("just below 20") << 0.0199999 << 19 << "Orvella - 19.9999% Dissimilarity";
        QTest::newRow("exactly 20") << 0.02 << 20 << "Orvella - 20% Dissimilarity";
        QTest::newRow("six digits") << 0.0123456789 << 12 << "Orvella - 12.3457% Dissimilarity";
    }

    void levelAndTitle()
    {
        QFETCH(double, dissimilarity);
        QFETCH(int, level);
        QFETCH(QString, title);
        QCOMPARE(dissimilarityLevel(dissimilarity), level);
        QCOMPARE(dissimilarityTitle(dissimilarity), title);
    }

    // Same double, bit for bit, and the same plot as the plain loop.
    // (QCOMPARE on doubles allows a relative error, so the bits are compared.)
    void matchesPlainLoop_data()
    {
        QTest::addColumn<QImage>("previous");
        QTest::addColumn<QImage>("current");
        for (quint32 seed = 1; seed <= 6; ++seed) {
            const QImage previous =
                seed % 2 ? cameraLikeFrame(480, 320, seed, true) : noiseFrame(480, 320, seed);
            QTest::addRow("camera %u", seed) << previous << cameraLikeFrame(480, 320, seed + 100);
        }
        // Darkening in one pixel of every n: the sum climbs slowly through
        // every binade, the low ones where terms fall half way included.
        for (int every : {1, 7, 97, 1009, 20011}) {
            QImage current = noiseFrame(480, 320, 40 + every);
            QImage previous = current;
            auto *words = reinterpret_cast<quint32 *>(previous.bits());
            for (int i = 0; i < 480 * 320; i += every)
                words[i] |= 0x00FFFFFF;
            QTest::addRow("one in %d darker", every) << previous << current;
        }
        QTest::newRow("white to black")
            << filledFrame(480, 320, 0xFFFFFFFF) << filledFrame(480, 320, 0xFF000000);
        QTest::newRow("one pixel to black")
            << filledFrame(480, 320, 0xFF010101) << filledFrame(480, 320, 0xFF000000);
        QTest::newRow("one column") << noiseFrame(1, 5000, 8) << noiseFrame(1, 5000, 9);
        // Narrow frames add few terms a row, so rows stay inside even the
        // low binades.
        for (quint32 seed = 1; seed <= 40; ++seed)
            QTest::addRow("narrow %u", seed) << noiseFrame(int(seed % 3) + 1, 64, seed)
                                             << noiseFrame(int(seed % 3) + 1, 64, seed + 500);
        QTest::newRow("one wide row") << noiseFrame(20000, 2, 10) << noiseFrame(20000, 2, 11);
    }

    void matchesPlainLoop()
    {
        QFETCH(QImage, previous);
        QFETCH(QImage, current);
        QImage fast, plain;
        const double expected = naiveCompare(previous, current, plain);
        const double actual = compareFrames(previous, current, fast);
        QCOMPARE(bitsOf(actual), bitsOf(expected));
        QCOMPARE(fast, plain);
    }

    void framesOfDifferentSizes_data()
    {
        QTest::addColumn<QSize>("previousSize");
        QTest::addColumn<QSize>("currentSize");
        QTest::newRow("wider before") << QSize(40, 10) << QSize(10, 10);
        QTest::newRow("taller after") << QSize(10, 10) << QSize(10, 40);
        QTest::newRow("crossed") << QSize(40, 7) << QSize(9, 30);
        QTest::newRow("one pixel") << QSize(1, 1) << QSize(3, 2);
        QTest::newRow("no previous frame") << QSize(0, 0) << QSize(5, 4);
    }

    void framesOfDifferentSizes()
    {
        QFETCH(QSize, previousSize);
        QFETCH(QSize, currentSize);
        const QImage previous = noiseFrame(previousSize.width(), previousSize.height(), 3);
        const QImage current = noiseFrame(currentSize.width(), currentSize.height(), 4);
        QImage fast, plain;
        QCOMPARE(bitsOf(compareFrames(previous, current, fast)),
                 bitsOf(naiveCompare(previous, current, plain)));
        QCOMPARE(fast.size(), previousSize.expandedTo(currentSize));
        QCOMPARE(fast, plain);
    }

    void otherFormatsAreCompared()
    {
        const QImage previous = cameraLikeFrame(30, 20, 5);
        const QImage current = cameraLikeFrame(30, 20, 6);
        QImage fromRgb32, fromArgb32;
        QCOMPARE(compareFrames(previous.convertToFormat(QImage::Format_RGB32),
                               current.convertToFormat(QImage::Format_RGB888), fromRgb32),
                 compareFrames(previous, current, fromArgb32));
        QCOMPARE(fromRgb32, fromArgb32);
    }
};

QTEST_GUILESS_MAIN(FrameComparisonTest)
#include "tst_framecomparison.moc"
