#include "imagefilter.h"
#include "referencefilter.h"
#include "sampleframes.h"

#include <QtTest>

// Small pictures whose filtered pixels are worked out by hand, checked on
// the fast filter and on the reference alike.
class ImageFilterTest : public QObject
{
    Q_OBJECT

private:
    static QImage run(bool fast, const QImage &image, unsigned kernelSize, int type)
    {
        return fast ? filterImage(image, kernelSize, type)
                    : referenceFilterImage(image, kernelSize, type);
    }

    static void addImplementations()
    {
        QTest::addColumn<bool>("fast");
        QTest::newRow("fast") << true;
        QTest::newRow("reference") << false;
    }

    static bool onBorder(const QImage &image, int x, int y, int radius)
    {
        return x < radius || y < radius || x >= image.width() - radius ||
               y >= image.height() - radius;
    }

private slots:
    void meanSeesPixelsAlreadyWritten_data() { addImplementations(); }

    // Each window reads the results stored left of and above it, column by
    // column; a separate input copy would give 10 at all four pixels.
    void meanSeesPixelsAlreadyWritten()
    {
        QFETCH(bool, fast);
        QImage image = filledFrame(4, 4, qRgb(0, 0, 0));
        image.setPixel(2, 1, qRgb(90, 90, 90));
        const QImage result = run(fast, image, 3, Mean);
        QCOMPARE(result.pixel(1, 1), qRgb(10, 10, 10));
        QCOMPARE(result.pixel(1, 2), qRgb(11, 11, 11));
        QCOMPARE(result.pixel(2, 1), qRgb(12, 12, 12));
        QCOMPARE(result.pixel(2, 2), qRgb(3, 3, 3));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                if (onBorder(image, x, y, 1))
                    QCOMPARE(result.pixel(x, y), image.pixel(x, y));
    }

    void medianSortsChannelsApart_data() { addImplementations(); }

    void medianSortsChannelsApart()
    {
        QFETCH(bool, fast);
        QImage image = filledFrame(3, 3, qRgb(255, 0, 0));
        for (auto [x, y] : {std::pair{1, 0}, {0, 1}, {2, 1}, {1, 2}})
            image.setPixel(x, y, qRgb(0, 255, 0));
        image.setPixel(1, 1, qRgb(0, 0, 255));
        const QImage result = run(fast, image, 3, Median);
        QCOMPARE(result.pixel(1, 1), qRgba(0, 0, 0, 255));
        image.setPixel(1, 1, result.pixel(1, 1));
        QCOMPARE(result, image);
    }

    void medianRemovesLonePixel_data() { addImplementations(); }

    void medianRemovesLonePixel()
    {
        QFETCH(bool, fast);
        QImage image = filledFrame(5, 5, qRgb(0, 0, 0));
        image.setPixel(2, 2, qRgb(255, 255, 255));
        const QImage result = run(fast, image, 3, Median);
        QCOMPARE(result, filledFrame(5, 5, qRgb(0, 0, 0)));
    }

    void processedPixelsBecomeOpaque_data()
    {
        QTest::addColumn<bool>("fast");
        QTest::addColumn<int>("type");
        for (bool fast : {true, false})
            for (int type : {Median, Mean})
                QTest::addRow("%s %s", fast ? "fast" : "reference",
                              type == Median ? "median" : "mean")
                    << fast << type;
    }

    void processedPixelsBecomeOpaque()
    {
        QFETCH(bool, fast);
        QFETCH(int, type);
        const QImage image = filledFrame(9, 8, qRgba(40, 120, 200, 0));
        const QImage result = run(fast, image, 5, type);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                QCOMPARE(result.pixel(x, y),
                         onBorder(image, x, y, 2) ? qRgba(40, 120, 200, 0) : qRgb(40, 120, 200));
    }

    void tooSmallForTheWindow_data()
    {
        QTest::addColumn<bool>("fast");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<unsigned>("kernelSize");
        for (bool fast : {true, false}) {
            const char *name = fast ? "fast" : "reference";
            QTest::addRow("%s 6 wide, 7x7", name) << fast << 6 << 20 << 7u;
            QTest::addRow("%s 6 high, 7x7", name) << fast << 20 << 6 << 7u;
            QTest::addRow("%s 2x2, 3x3", name) << fast << 2 << 2 << 3u;
            QTest::addRow("%s kernel 0", name) << fast << 20 << 20 << 0u;
        }
    }

    void tooSmallForTheWindow()
    {
        QFETCH(bool, fast);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(unsigned, kernelSize);
        QImage image(width, height, QImage::Format_ARGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.setPixel(x, y, qRgba(x * 40, y * 40, 90, x * y));
        QCOMPARE(run(fast, image, kernelSize, Median), image);
        QCOMPARE(run(fast, image, kernelSize, Mean), image);
    }

    void kernelActsThroughRadius_data() { addImplementations(); }

    void kernelActsThroughRadius()
    {
        QFETCH(bool, fast);
        QImage image(12, 10, QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y,
                               qRgba((x * 37 + y * 11) % 256, (x * y * 13) % 256,
                                     (x + y * 71) % 256, (x * 90 + y) % 256));
        for (int type : {Median, Mean}) {
            QCOMPARE(run(fast, image, 4, type), run(fast, image, 3, type));
            QCOMPARE(run(fast, image, 6, type), run(fast, image, 5, type));
            // Radius 0: every pixel is its own window.
            QImage opaque = image;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    opaque.setPixel(x, y, image.pixel(x, y) | 0xFF000000u);
            QCOMPARE(run(fast, image, 1, type), opaque);
        }
    }

    void sourceIsLeftAlone()
    {
        QImage image = filledFrame(10, 10, qRgba(1, 2, 3, 4));
        image.setPixel(5, 5, qRgb(200, 200, 200));
        const QImage copy = image.copy();
        filterImage(image, 3, Median);
        filterImage(image, 3, Mean);
        QCOMPARE(image, copy);
    }

    void sharedOrOwnPixels_data()
    {
        QTest::addColumn<int>("kernelSize");
        QTest::addColumn<int>("type");
        for (int kernelSize : {3, 5, 7})
            for (int type : {Median, Mean})
                QTest::addRow("%dx%d %s", kernelSize, kernelSize,
                              type == Median ? "median" : "mean")
                    << kernelSize << type;
    }

    // Shared pixels are read and the results written to a new image; pixels
    // the filter owns are worked on in place. Both must give the plain
    // filter's picture, also where a wide frame ends in a partial group of
    // columns.
    void sharedOrOwnPixels()
    {
        QFETCH(int, kernelSize);
        QFETCH(int, type);
        const QImage frame = cameraLikeFrame(101, 67, 5 + kernelSize);
        const QImage expected = referenceFilterImage(frame, kernelSize, type);
        QCOMPARE(filterImage(frame, kernelSize, type), expected);
        QImage own = frame.copy();
        QCOMPARE(filterImage(std::move(own), kernelSize, type), expected);
    }

    void otherFormatsKeepTheirFormat()
    {
        QImage image(16, 12, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(x * 15, y * 20, (x * y) % 256));
        for (int type : {Median, Mean}) {
            const QImage result = filterImage(image, 3, type);
            QCOMPARE(result.format(), QImage::Format_RGB32);
            QCOMPARE(result, referenceFilterImage(image, 3, type));
            QCOMPARE(result.convertToFormat(QImage::Format_ARGB32),
                     filterImage(image.convertToFormat(QImage::Format_ARGB32), 3, type));
        }
    }
};

QTEST_GUILESS_MAIN(ImageFilterTest)
#include "tst_imagefilter.moc"
