#include "imagefilter.h"
#include "mediannetworkcheck.h"
#include "mediannetworks.h"
#include "referencefilter.h"
#include "sampleframes.h"

#ifdef __x86_64__
#include "wavefrontfilter.h"
#endif

#include <QtTest>

#include <random>

// The fast filter against the plain one on many random pictures.
class FilterEquivalenceTest : public QObject
{
    Q_OBJECT

private:
    static QImage picture(int width, int height, quint32 seed)
    {
        switch (seed % 3) {
        case 0:
            return cameraLikeFrame(width, height, seed);
        case 1:
            return cameraLikeFrame(width, height, seed, true);
        default:
            return noiseFrame(width, height, seed);
        }
    }

    static QString firstDifference(const QImage &a, const QImage &b)
    {
        if (a.size() != b.size() || a.format() != b.format())
            return QStringLiteral("size or format differs");
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                if (a.pixel(x, y) != b.pixel(x, y))
                    return QStringLiteral("(%1, %2): %3 instead of %4")
                        .arg(x)
                        .arg(y)
                        .arg(a.pixel(x, y), 8, 16)
                        .arg(b.pixel(x, y), 8, 16);
        return QString();
    }

private slots:
    // The vector median's networks, on every input of zeros and ones: by
    // the zero-one principle, then on every input.
    void medianNetworks()
    {
        using namespace sortingnetwork;
        QVERIFY(selectsMedianOfSortedRows(median5, int(std::size(median5)), median5Output, 5));
        QVERIFY(selectsMedianOfSortedRows(median7, int(std::size(median7)), median7Output, 7));
        // The check itself fails a network one exchange short.
        QVERIFY(!selectsMedianOfSortedRows(median5, int(std::size(median5)) - 1, median5Output, 5));

        // The pair's networks one after the other, on five rows, the short
        // row, the window's own row and its own value.
        std::vector<Exchange> pair(std::begin(median7Shared), std::end(median7Shared));
        const int results = int(std::size(median7SharedOutputs));
        auto wire = [results](int finishWire) {
            return finishWire < results ? median7SharedOutputs[finishWire]
                                        : 41 + finishWire - results;
        };
        for (const Exchange &e : median7Finish)
            pair.push_back({wire(e.low), wire(e.high)});
        QVERIFY(selectsMedianOfSortedRows(pair.data(), int(pair.size()), wire(median7FinishOutput),
                                          {7, 7, 7, 7, 7, 6, 7, 1}));
    }

    void fullFrames_data()
    {
        QTest::addColumn<int>("kernelSize");
        QTest::addColumn<int>("type");
        QTest::addColumn<quint32>("seed");
        for (int kernelSize : {3, 5, 7})
            for (int type : {Median, Mean})
                QTest::addRow("%dx%d %s", kernelSize, kernelSize,
                              type == Median ? "median" : "mean")
                    << kernelSize << type << quint32(kernelSize * 10 + type);
    }

    void fullFrames()
    {
        QFETCH(int, kernelSize);
        QFETCH(int, type);
        QFETCH(quint32, seed);
        const QImage frame = picture(480, 320, seed);
        QCOMPARE(firstDifference(filterImage(frame, kernelSize, type),
                                 referenceFilterImage(frame, kernelSize, type)),
                 QString());
    }

    void smallPictures_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("median") << int(Median);
        QTest::newRow("mean") << int(Mean);
    }

    // Many sizes from 1x1 up, every kernel size from 1 to 11, all kinds of
    // content.
    void smallPictures()
    {
        QFETCH(int, type);
        std::mt19937 random(type + 1);
        for (int round = 0; round < 600; ++round) {
            const int width = 1 + int(random() % 40);
            const int height = 1 + int(random() % 40);
            const unsigned kernelSize = 1 + random() % 11;
            const QImage image = picture(width, height, random());
            const QString difference =
                firstDifference(filterImage(image, kernelSize, type),
                                referenceFilterImage(image, kernelSize, type));
            if (!difference.isEmpty())
                QFAIL(qPrintable(QStringLiteral("%1x%2, kernel %3: %4")
                                     .arg(width)
                                     .arg(height)
                                     .arg(kernelSize)
                                     .arg(difference)));
        }
    }

    // Windows too large for the packed channel sums of the mean.
    void largeWindows_data() { smallPictures_data(); }

    void largeWindows()
    {
        QFETCH(int, type);
        for (unsigned kernelSize : {89u, 90u, 91u}) {
            const QImage image = picture(95, 93, kernelSize);
            QCOMPARE(firstDifference(filterImage(image, kernelSize, type),
                                     referenceFilterImage(image, kernelSize, type)),
                     QString());
        }
    }

#ifdef __x86_64__
    // Every vector pass this processor can run, whichever the filter picks.
    void vectorPasses_data()
    {
        QTest::addColumn<int>("pass");
        QTest::addColumn<int>("type");
        for (int type : {Median, Mean}) {
            const char *name = type == Median ? "median" : "mean";
            QTest::addRow("sse2 %s", name) << 0 << type;
            if (__builtin_cpu_supports("avx2"))
                QTest::addRow("avx2 %s", name) << 1 << type;
            if (__builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
                QTest::addRow("avx512 %s", name) << 2 << type;
        }
    }

    void vectorPasses()
    {
        QFETCH(int, pass);
        QFETCH(int, type);
        std::mt19937 random(pass * 2 + type);
        for (int round = 0; round < 300; ++round) {
            const int width = 1 + int(random() % (round == 0 ? 480 : 48));
            const int height = 1 + int(random() % (round == 0 ? 320 : 48));
            const int radius = 1 + int(random() % 3);
            if (width < 2 * radius + 1 || height < 2 * radius + 1)
                continue;
            const QImage image = picture(width, height, random());
            QImage fast = image.copy();
            auto *bits = reinterpret_cast<quint32 *>(fast.bits());
            const int stride = fast.bytesPerLine() / 4;
            const bool median = type == Median;
            using InPlace = bool (*)(quint32 *, int, int, int, int, bool);
            const InPlace run = pass == 2   ? InPlace(&filterWavefrontAvx512)
                                : pass == 1 ? InPlace(&filterWavefrontAvx2)
                                            : InPlace(&filterWavefrontSse2);
            QVERIFY(run(bits, stride, width, height, radius, median));
            const QString difference =
                firstDifference(fast, referenceFilterImage(image, 2 * radius + 1, type));
            if (!difference.isEmpty())
                QFAIL(qPrintable(QStringLiteral("%1x%2, radius %3: %4")
                                     .arg(width)
                                     .arg(height)
                                     .arg(radius)
                                     .arg(difference)));
        }
    }
#endif
};

QTEST_GUILESS_MAIN(FilterEquivalenceTest)
#include "tst_filterequivalence.moc"
