#include "planescaler.h"

#include <QtTest>

#include <cstdint>
#include <random>
#include <vector>

using Plane = std::vector<std::uint8_t>;

class tst_PlaneScaler : public QObject
{
    Q_OBJECT

private slots:
    void vectorPassesMatchThePlainOne_data();
    void vectorPassesMatchThePlainOne();
    void samples_data();
    void samples();
};

namespace
{

Plane scaled(const Plane &from, int width, int height, int toWidth, int toHeight, int channels,
             bool plain, std::uint8_t fill = 0)
{
    PlaneScaler scaler(width, height, toWidth, toHeight, channels);
    Plane to(std::size_t(toWidth * toHeight * channels), fill);
    if (plain)
        scaler.scalePlain(from.data(), width * channels, to.data(), toWidth * channels);
    else
        scaler.scale(from.data(), width * channels, to.data(), toWidth * channels);
    return to;
}

} // namespace

void tst_PlaneScaler::vectorPassesMatchThePlainOne_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("toWidth");
    QTest::addColumn<int>("toHeight");
    QTest::addColumn<int>("channels");

    QTest::newRow("640 x 360 luma") << 640 << 360 << 480 << 320 << 1;
    QTest::newRow("its chroma") << 320 << 180 << 240 << 160 << 1;
    QTest::newRow("768 x 576") << 768 << 576 << 480 << 320 << 1;
    QTest::newRow("odd sizes") << 959 << 539 << 481 << 321 << 1;
    QTest::newRow("more than halved") << 1920 << 1080 << 480 << 320 << 1;
    QTest::newRow("chroma as large as luma") << 640 << 360 << 240 << 160 << 1;
    QTest::newRow("almost quartered") << 1800 << 1000 << 480 << 320 << 1;
    QTest::newRow("enlarged") << 160 << 120 << 480 << 320 << 1;
    QTest::newRow("the same size") << 480 << 320 << 480 << 320 << 1;
    QTest::newRow("one sample") << 1 << 1 << 480 << 320 << 1;
    QTest::newRow("BGRA") << 640 << 360 << 480 << 320 << 4;
    QTest::newRow("BGRA, odd") << 333 << 201 << 480 << 320 << 4;
    QTest::newRow("BGRA, halved") << 960 << 640 << 480 << 320 << 4;
}

// Random samples, so every weight and every pair of samples shows.
void tst_PlaneScaler::vectorPassesMatchThePlainOne()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, toWidth);
    QFETCH(int, toHeight);
    QFETCH(int, channels);
    std::mt19937 random(width * 7919 + height);
    Plane from(std::size_t(width * height * channels));
    for (std::uint8_t &sample : from)
        sample = std::uint8_t(random());
    const Plane plain = scaled(from, width, height, toWidth, toHeight, channels, true);
    // Every sample written, whatever the memory held.
    QVERIFY(scaled(from, width, height, toWidth, toHeight, channels, false, 0x00) == plain);
    QVERIFY(scaled(from, width, height, toWidth, toHeight, channels, false, 0xFF) == plain);
}

void tst_PlaneScaler::samples_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<Plane>("from");
    QTest::addColumn<int>("toWidth");
    QTest::addColumn<int>("toHeight");
    QTest::addColumn<Plane>("to");

    // Centres lined up: the outer samples keep the edges, those between
    // are weighed by where their centres fall, rounded to the nearest.
    QTest::newRow("a row doubled") << 2 << 1 << Plane{0, 255} << 4 << 1 << Plane{0, 64, 191, 255};
    QTest::newRow("a column doubled")
        << 1 << 2 << Plane{0, 255} << 1 << 4 << Plane{0, 64, 191, 255};
    // Halved, each sample is the mean of a square of four.
    QTest::newRow("halved") << 4 << 2 << Plane{10, 20, 100, 0, 30, 40, 0, 100} << 2 << 1
                            << Plane{25, 50};
    QTest::newRow("the same size") << 3 << 1 << Plane{1, 2, 3} << 3 << 1 << Plane{1, 2, 3};
    QTest::newRow("one sample spread") << 1 << 1 << Plane{77} << 3 << 2 << Plane(6, 77);
    const Plane grey(16 * 16, 93);
    QTest::newRow("uniform stays uniform") << 16 << 16 << grey << 11 << 5 << Plane(55, 93);
}

void tst_PlaneScaler::samples()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(Plane, from);
    QFETCH(int, toWidth);
    QFETCH(int, toHeight);
    QFETCH(Plane, to);
    const Plane fast = scaled(from, width, height, toWidth, toHeight, 1, false);
    QCOMPARE(fast, to);
    QCOMPARE(scaled(from, width, height, toWidth, toHeight, 1, true), to);
}

QTEST_GUILESS_MAIN(tst_PlaneScaler)
#include "tst_planescaler.moc"
