#include "framecomparison.h"
#include "sampleframes.h"
#include "watchtick.h"

#include <QtTest>

// The tick's work driven directly: processing, comparison, the record and
// alert decisions, and when a new comparison starts.
class TestWatchTick : public QObject
{
    Q_OBJECT

private slots:
    void firstFrameOnlyStartsTheComparison();
    void measuresDarkening_data();
    void measuresDarkening();
    void recordAndAlertDecisions_data();
    void recordAndAlertDecisions();
    void processingChangeStartsANewComparison_data();
    void processingChangeStartsANewComparison();
    void restartStartsANewComparison();
    void differenceImagesTakeTurns();
    void opaqueFrames_data();
    void opaqueFrames();
};

namespace
{

const int width = 48;
const int height = 32;

QImage filled(QRgb word)
{
    return filledFrame(width, height, word);
}

WatchSettings recording(int threshold = 20, bool onlyDissimilar = false)
{
    WatchSettings settings;
    settings.record = true;
    settings.onlyDissimilar = onlyDissimilar;
    settings.threshold = threshold;
    return settings;
}

} // namespace

void TestWatchTick::firstFrameOnlyStartsTheComparison()
{
    WatchTick tick;
    const TickResult first = tick.process(filled(0xFF336699), recording(5));
    QVERIFY(!first.compared);
    QVERIFY(!first.record);
    QVERIFY(!first.alert);
    QCOMPARE(first.frame, filled(0xFF336699));
    QVERIFY(tick.difference().isNull());

    const TickResult second = tick.process(filled(0xFF000000), recording(5));
    QVERIFY(second.compared);
    QCOMPARE(second.level, 400);
}

void TestWatchTick::measuresDarkening_data()
{
    QTest::addColumn<unsigned int>("first");
    QTest::addColumn<unsigned int>("second");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("level");
    QTest::addColumn<unsigned int>("plot");

    QTest::newRow("identical") << 0xFF808080u << 0xFF808080u << "Orvella - 0% Dissimilarity" << 0
                               << 0xFF000000u;
    QTest::newRow("uniformly brighter")
        << 0xFF404040u << 0xFFA0A0A0u << "Orvella - 0% Dissimilarity" << 0 << 0xFF000000u;
    // The sum of many thirds falls just short of 1: the title rounds, the level truncates.
    QTest::newRow("white then black")
        << 0xFFFFFFFFu << 0xFF000000u << "Orvella - 1000% Dissimilarity" << 999 << 0xFFFFFFFFu;
    QTest::newRow("one channel") << 0xFF102030u << 0xFF201010u << "Orvella - 62.7451% Dissimilarity"
                                 << 62 << 0xFF001020u;
}

void TestWatchTick::measuresDarkening()
{
    QFETCH(unsigned int, first);
    QFETCH(unsigned int, second);
    QFETCH(QString, title);
    QFETCH(int, level);
    QFETCH(unsigned int, plot);

    WatchTick tick;
    tick.process(filled(first), WatchSettings());
    const TickResult result = tick.process(filled(second), WatchSettings());
    QVERIFY(result.compared);
    QCOMPARE(dissimilarityTitle(result.dissimilarity), title);
    QCOMPARE(result.level, level);
    QCOMPARE(tick.difference(), filled(plot));
    // Without Record nothing is saved and nobody is alerted, however high the level.
    QVERIFY(!result.record);
    QVERIFY(!result.alert);
}

void TestWatchTick::recordAndAlertDecisions_data()
{
    QTest::addColumn<bool>("record");
    QTest::addColumn<bool>("onlyDissimilar");
    QTest::addColumn<int>("threshold");
    QTest::addColumn<unsigned int>("darker");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<bool>("alerted");
    QTest::addColumn<bool>("reached"); // the level reaches the threshold, Record or not

    // From grey 0x80 the level is 1000 * drop / 255, truncated.
    const unsigned int level19 = 0xFF7B7B7B; // drop 5: level 19
    const unsigned int level23 = 0xFF7A7A7A; // drop 6: level 23
    QTest::newRow("record off") << false << false << 20 << 0xFF000000u << false << false << true;
    QTest::newRow("record off, under")
        << false << false << 20 << level19 << false << false << false;
    QTest::newRow("every frame, still")
        << true << false << 95 << 0xFF808080u << true << false << false;
    QTest::newRow("every frame, over") << true << false << 20 << level23 << true << true << true;
    QTest::newRow("only dissimilar, under")
        << true << true << 20 << level19 << false << false << false;
    QTest::newRow("only dissimilar, over") << true << true << 20 << level23 << true << true << true;
    QTest::newRow("at the threshold") << true << true << 5 << 0xFF7E7E7Eu << true << true << true;
}

void TestWatchTick::recordAndAlertDecisions()
{
    QFETCH(bool, record);
    QFETCH(bool, onlyDissimilar);
    QFETCH(int, threshold);
    QFETCH(unsigned int, darker);
    QFETCH(bool, saved);
    QFETCH(bool, alerted);
    QFETCH(bool, reached);

    WatchSettings settings = recording(threshold, onlyDissimilar);
    settings.record = record;
    WatchTick tick;
    tick.process(filled(0xFF808080), settings);
    const TickResult result = tick.process(filled(darker), settings);
    QCOMPARE(result.record, saved);
    QCOMPARE(result.alert, alerted);
    QCOMPARE(result.alerting, reached);
}

void TestWatchTick::processingChangeStartsANewComparison_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<int>("kernel");
    QTest::addColumn<int>("brightness");
    QTest::addColumn<bool>("newComparison");

    QTest::newRow("brightness one notch down") << 1 << 0 << 9 << true;
    QTest::newRow("brightness one notch up") << 1 << 0 << 11 << true;
    QTest::newRow("filter") << 3 << 0 << 10 << true;
    QTest::newRow("kernel") << 1 << 2 << 10 << true;
    QTest::newRow("nothing that processes") << 1 << 0 << 10 << false;
}

void TestWatchTick::processingChangeStartsANewComparison()
{
    QFETCH(int, filter);
    QFETCH(int, kernel);
    QFETCH(int, brightness);
    QFETCH(bool, newComparison);

    // A still scene with texture, so every filter changes the picture.
    const QImage scene = cameraLikeFrame(width, height, 3);
    WatchSettings settings = recording(5);
    settings.filterChoice = 1;
    WatchTick tick;
    tick.process(scene, settings);
    QCOMPARE(tick.process(scene, settings).level, 0);

    settings.filterChoice = filter;
    settings.kernelSizeIndex = kernel;
    settings.brightness = brightness;
    settings.threshold = 10; // the threshold is no part of processing
    const TickResult changed = tick.process(scene, settings);
    QCOMPARE(changed.compared, !newComparison);
    QVERIFY(!changed.alert);
    QCOMPARE(changed.record, !newComparison);

    // The comparison goes on with frames processed alike.
    const TickResult next = tick.process(scene, settings);
    QVERIFY(next.compared);
    QCOMPARE(next.level, 0);
    QVERIFY(!next.alert);
}

void TestWatchTick::restartStartsANewComparison()
{
    WatchTick tick;
    tick.process(filled(0xFFFFFFFF), recording(5));
    tick.restart();
    const TickResult other = tick.process(filled(0xFF000000), recording(5));
    QVERIFY(!other.compared);
    QVERIFY(!other.alert);
    QVERIFY(!other.record);
    const TickResult next = tick.process(filled(0xFF000000), recording(5));
    QVERIFY(next.compared);
    QCOMPARE(next.level, 0);
}

void TestWatchTick::differenceImagesTakeTurns()
{
    WatchTick tick;
    tick.process(filled(0xFFFFFFFF), WatchSettings());
    tick.process(filled(0xFF808080), WatchSettings());
    const uchar *first = tick.difference().constBits();
    // Held elsewhere, as the window's label holds the one on show.
    const QImage shown = tick.difference();
    tick.process(filled(0xFF000000), WatchSettings());
    const uchar *second = tick.difference().constBits();
    QVERIFY(second != first);
    QCOMPARE(tick.difference(), filled(0xFF808080));
    QCOMPARE(shown, filled(0xFF7F7F7F));
    QCOMPARE(shown.constBits(), first);
    tick.process(filled(0xFF000000), WatchSettings());
    tick.process(filled(0xFF000000), WatchSettings());
    QCOMPARE(tick.difference().constBits(), second);
    QCOMPARE(tick.difference(), filled(0xFF000000));
}

void TestWatchTick::opaqueFrames_data()
{
    QTest::addColumn<QRgb>("word");
    QTest::addColumn<int>("brightness");
    QTest::addColumn<bool>("opaque");

    QTest::newRow("opaque camera frame") << QRgb(0xFF336699) << 10 << true;
    QTest::newRow("camera alpha kept") << QRgb(0x80336699) << 10 << false;
    QTest::newRow("brightness sets alpha") << QRgb(0x00336699) << 11 << true;
}

void TestWatchTick::opaqueFrames()
{
    QFETCH(QRgb, word);
    QFETCH(int, brightness);
    QFETCH(bool, opaque);

    WatchSettings settings;
    settings.brightness = brightness;
    WatchTick tick;
    QCOMPARE(tick.process(filled(word), settings).opaque, opaque);
    // One pixel that is not opaque is enough, wherever it is: at each place
    // in a group of four, in the last row, and past the last whole group.
    for (const QSize size : {QSize(width, height), QSize(7, 3), QSize(1, 2)}) {
        for (const QPoint at : {QPoint(0, 0), QPoint(1, 0), QPoint(2, 0), QPoint(3, 0),
                                QPoint(size.width() - 1, size.height() - 1)}) {
            if (!QRect(QPoint(), size).contains(at))
                continue;
            QImage frame(size, QImage::Format_ARGB32);
            frame.fill(0xFF336699);
            frame.setPixel(at, 0xFE336699);
            QVERIFY2(!tick.process(frame, WatchSettings()).opaque,
                     qPrintable(QStringLiteral("%1x%2 at %3,%4")
                                    .arg(size.width())
                                    .arg(size.height())
                                    .arg(at.x())
                                    .arg(at.y())));
        }
    }
}

QTEST_GUILESS_MAIN(TestWatchTick)
#include "tst_watchtick.moc"
