#include "framecomparison.h"
#include "sampleframes.h"
#include "watchtick.h"

#include <QtTest>

#include <cstring>
#include <functional>
#include <vector>

// The guards driven through the tick, each against its nuisance and against
// the event it must not hide.
class TestAlertGuards : public QObject
{
    Q_OBJECT

private slots:
    void guardsOffIsThePlainThresholdTickForTick_data();
    void guardsOffIsThePlainThresholdTickForTick();
    void lampOffIsNoAlert_data();
    void lampOffIsNoAlert();
    void personWalkingInWhileTheLampGoesOffIsCaught();
    void personCrossingAPaintedAreasEdge();
    void steadyMovementStopsCountingButNotAPerson();
    void minimumDuration();
    void slowCameraStillAlerts();
    void cameraGlitchesStartNoEvent();
    void eventsGroupAlertsByTheQuietGap();
};

namespace
{

const int width = 480;
const int height = 320;
const qint64 tickMs = 100;

QImage room(quint32 noiseSeed)
{
    static const QImage scene = cameraLikeFrame(width, height, 77);
    return withNoise(scene, 3, noiseSeed);
}

// A person 80 x 220 with the left edge at x.
QImage roomWithPerson(int x, quint32 noiseSeed)
{
    return withPerson(room(noiseSeed), QRect(x, 60, 80, 220));
}

WatchSettings guarded(AlertSettings::Measure measure = AlertSettings::MovingArea)
{
    WatchSettings settings;
    settings.alerts = AlertSettings();
    settings.alerts.measure = measure;
    settings.record = true;
    settings.onlyDissimilar = true;
    return settings;
}

// Runs frames(tick) for ticks ticks, 100 ms apart; returns every result.
std::vector<TickResult> run(WatchTick &tick, const WatchSettings &settings, int ticks,
                            const std::function<QImage(int)> &frames, int firstTick = 0)
{
    std::vector<TickResult> results;
    for (int k = firstTick; k < firstTick + ticks; ++k)
        results.push_back(tick.process(frames(k), settings, k * tickMs));
    return results;
}

int firstAlerting(const std::vector<TickResult> &results, int from = 0)
{
    for (int k = from; k < int(results.size()); ++k)
        if (results[size_t(k)].alerting)
            return k;
    return -1;
}

quint64 bitsOf(double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

void addMeasureRows()
{
    QTest::addColumn<int>("measure");
    QTest::newRow("moving area") << int(AlertSettings::MovingArea);
    QTest::newRow("darkening") << int(AlertSettings::Darkening);
}

} // namespace

void TestAlertGuards::guardsOffIsThePlainThresholdTickForTick_data()
{
    QTest::addColumn<bool>("onlyDissimilar");
    QTest::addColumn<int>("threshold");
    QTest::newRow("every frame") << false << 20;
    QTest::newRow("only dissimilarities") << true << 20;
    QTest::newRow("low threshold") << true << 5;
}

void TestAlertGuards::guardsOffIsThePlainThresholdTickForTick()
{
    QFETCH(bool, onlyDissimilar);
    QFETCH(int, threshold);
    // Everything the guards would judge: a person, a lamp, a grey frame, a
    // frozen picture, stirring leaves, a camera coming back.
    const auto frame = [](int k) {
        if (k < 5)
            return room(quint32(k));
        if (k < 15)
            return roomWithPerson(20 + 30 * (k - 5), quint32(k));
        if (k < 18)
            return withGain(room(quint32(k)), 0.8);
        if (k == 18)
            return filledFrame(width, height, 0xFF808080);
        if (k < 24)
            return room(5); // frozen
        return withStirring(room(quint32(k)), QRect(300, 20, 120, 90), k);
    };
    WatchSettings settings;
    settings.record = true;
    settings.onlyDissimilar = onlyDissimilar;
    settings.threshold = threshold;
    QCOMPARE(settings.alerts, AlertSettings::off());
    WatchTick tick;
    tick.restart();
    // A painted area does nothing while its guard is off.
    QImage painted(width, height, QImage::Format_Grayscale8);
    painted.fill(255);
    tick.setIgnoredArea(painted);

    QImage previous;
    QImage difference;
    int alerts = 0;
    for (int k = 0; k < 40; ++k) {
        if (k == 30)
            tick.cameraBack();
        const QImage camera = frame(k);
        const TickResult result = tick.process(camera, settings, k * tickMs);
        QCOMPARE(result.compared, k > 0);
        if (k > 0) {
            const double plain = compareFrames(previous, camera, difference);
            const int level = dissimilarityLevel(plain);
            QCOMPARE(bitsOf(result.dissimilarity), bitsOf(plain));
            QCOMPARE(result.level, level);
            QCOMPARE(result.alert, level >= threshold);
            QCOMPARE(result.alerting, level >= threshold);
            QCOMPARE(result.record, !onlyDissimilar || level >= threshold);
            QVERIFY(!result.glitch && !result.lightingChange && !result.waiting);
            alerts += result.alert ? 1 : 0;
        }
        previous = camera;
    }
    QVERIFY(tick.steadyArea().isNull());
    // The sequence does reach the threshold, so the comparison means something.
    QVERIFY(alerts >= 5);
}

void TestAlertGuards::lampOffIsNoAlert_data()
{
    addMeasureRows();
}

void TestAlertGuards::lampOffIsNoAlert()
{
    QFETCH(int, measure);
    WatchTick tick;
    tick.restart();
    const auto results = run(tick, guarded(AlertSettings::Measure(measure)), 60, [](int k) {
        // A bright lamp off at 2 s, on again at 4 s.
        return withGain(room(quint32(k)), k >= 20 && k < 40 ? 0.6 : 1.0);
    });
    QCOMPARE(firstAlerting(results), -1);
    // Off is a darkening over the threshold, and said to be the light's.
    QVERIFY(results[20].level >= 20);
    QVERIFY(results[20].lightingChange);
    QCOMPARE(tick.events().eventCount(), 0);
}

void TestAlertGuards::personWalkingInWhileTheLampGoesOffIsCaught()
{
    WatchTick tick;
    tick.restart();
    // At 2 s the lamp goes off and a person walks in from the left.
    const auto results = run(tick, guarded(), 40, [](int k) {
        if (k < 20)
            return room(quint32(k));
        return withGain(roomWithPerson(-60 + 15 * (k - 20), quint32(k)), 0.8);
    });
    QCOMPARE(firstAlerting(results), firstAlerting(results, 20));
    const int first = firstAlerting(results);
    QVERIFY2(first >= 20 && first <= 30, qPrintable(QString::number(first)));
    QVERIFY(results[size_t(first)].eventStarted);
}

void TestAlertGuards::personCrossingAPaintedAreasEdge()
{
    QImage painted(width, height, QImage::Format_Grayscale8);
    painted.fill(0);
    for (int y = 0; y < height; ++y)
        std::fill_n(painted.scanLine(y), 240, uchar(255));

    // From 2 s a person walks right, 10 px a tick, from well inside the
    // painted left half across its edge at x = 240.
    const auto frame = [](int k) {
        return k < 20 ? room(quint32(k)) : roomWithPerson(20 + 10 * (k - 20), quint32(k));
    };
    WatchTick tick;
    tick.restart();
    tick.setIgnoredArea(painted);
    const auto results = run(tick, guarded(), 60, frame);
    // Inside the painted area the person counts for nothing at all.
    for (int k = 20; k < 34; ++k)
        QCOMPARE(results[size_t(k)].level, 0);
    // The right edge of the body (x + 79) passes 240 at tick 35; three ticks
    // over the threshold later it alerts.
    const int first = firstAlerting(results);
    QVERIFY2(first >= 37 && first <= 40, qPrintable(QString::number(first)));

    // Without the mask the same walk alerts as soon as the person is in.
    WatchTick unmasked;
    unmasked.restart();
    const int plain = firstAlerting(run(unmasked, guarded(), 60, frame));
    QVERIFY2(plain >= 20 && plain <= 24, qPrintable(QString::number(plain)));
}

void TestAlertGuards::steadyMovementStopsCountingButNotAPerson()
{
    // A screen or leaves stirring on every frame from the start, top right.
    const QRect patch(320, 16, 128, 96);
    const auto stirring = [patch](int k) { return withStirring(room(quint32(k)), patch, k); };
    WatchTick tick;
    tick.restart();
    const WatchSettings settings = guarded();
    const auto learning = run(tick, settings, 50, stirring);
    QCOMPARE(firstAlerting(learning), -1);
    QVERIFY(learning[40].level < 5);
    const QImage learned = tick.steadyArea();
    QVERIFY(!learned.isNull());
    QCOMPARE(learned.pixelColor(patch.center()).red(), 255);
    QCOMPARE(learned.pixelColor(100, 250).red(), 0);

    // A person walks in below while it goes on stirring, and is caught.
    const auto walking = run(
        tick, settings, 30,
        [&](int k) { return withPerson(stirring(k), QRect(10 + 10 * (k - 50), 100, 80, 220)); },
        50);
    const int first = firstAlerting(walking);
    QVERIFY2(first >= 0 && first <= 4, qPrintable(QString::number(first)));
    // Walking for three seconds does not make the person part of the scene.
    QCOMPARE(tick.steadyArea().pixelColor(10 + 10 * 29 + 40, 200).red(), 0);

    // Still for long enough, the patch counts again.
    const QImage stillScreen = withStirring(room(0), patch, 0);
    run(
        tick, settings, 150, [&](int k) { return withNoise(stillScreen, 3, quint32(k)); }, 80);
    QVERIFY(tick.steadyArea().isNull() || tick.steadyArea().pixelColor(patch.center()).red() == 0);
}

void TestAlertGuards::minimumDuration()
{
    WatchTick tick;
    tick.restart();
    const WatchSettings settings = guarded();
    // A single frame with something in it (a moth on the lens) and back.
    const auto blip = run(tick, settings, 40, [](int k) {
        return k == 20 ? roomWithPerson(200, 20) : room(quint32(k));
    });
    QCOMPARE(firstAlerting(blip), -1);
    QVERIFY(blip[20].waiting);
    QCOMPARE(tick.events().eventCount(), 0);

    // Someone moving on: the third tick in a row over the threshold alerts,
    // 300 ms after the change began.
    const auto moving = run(
        tick, settings, 10, [](int k) { return roomWithPerson(100 + 12 * (k - 40), quint32(k)); },
        40);
    QVERIFY(moving[0].waiting && moving[1].waiting);
    QCOMPARE(firstAlerting(moving), 2);
    // Once an event is open, every tick over the threshold alerts at once.
    QVERIFY(moving[3].alerting);

    // Switched off, the first tick over the threshold alerts.
    WatchSettings plain = settings;
    plain.alerts.minimumDuration = false;
    WatchTick other;
    other.restart();
    run(other, plain, 20, [](int k) { return room(quint32(k)); });
    QVERIFY(other.process(roomWithPerson(200, 20), plain, 2000).alerting);
}

void TestAlertGuards::slowCameraStillAlerts()
{
    // A camera at 2.5 frames a second: each frame is taken by four ticks,
    // and the repeats carry nothing new.
    WatchTick tick;
    tick.restart();
    const auto results = run(tick, guarded(), 60, [](int k) {
        const int frame = k / 4;
        return frame < 5 ? room(quint32(frame))
                         : roomWithPerson(20 + 40 * (frame - 5), quint32(frame));
    });
    QVERIFY(results[21].frozen);
    const int first = firstAlerting(results);
    // The person's second frame (tick 24) shows the change has lasted.
    QVERIFY2(first >= 20 && first <= 24, qPrintable(QString::number(first)));
}

void TestAlertGuards::cameraGlitchesStartNoEvent()
{
    const WatchSettings settings = guarded();
    // Someone moving from the first frame: the first second after a start
    // is the camera's to settle.
    WatchTick tick;
    tick.restart();
    const auto start =
        run(tick, settings, 20, [](int k) { return roomWithPerson(10 + 12 * k, quint32(k)); });
    for (int k = 1; k < 10; ++k)
        QVERIFY(start[size_t(k)].glitch && !start[size_t(k)].alerting);
    QVERIFY(firstAlerting(start) >= 10);

    // Grey and black frames while a camera reconnects, in a still room.
    WatchTick other;
    other.restart();
    const auto reconnecting = run(other, settings, 60, [](int k) {
        if (k >= 20 && k < 25)
            return filledFrame(width, height, 0xFF000000);
        if (k >= 35 && k < 40)
            return withNoise(filledFrame(width, height, 0xFF808080), 2, quint32(k));
        return room(quint32(k));
    });
    QCOMPARE(firstAlerting(reconnecting), -1);
    QVERIFY(reconnecting[20].level >= 20 && reconnecting[20].glitch);
    QVERIFY(reconnecting[25].glitch); // back from black to the picture

    // A picture frozen for 4 s that then jumps on: the jump is the camera's.
    WatchTick frozen;
    frozen.restart();
    const auto jump = run(frozen, settings, 70, [](int k) {
        if (k < 20)
            return room(quint32(k));
        if (k < 60)
            return room(20);
        return roomWithPerson(200, quint32(k));
    });
    QVERIFY(jump[30].frozen);
    QVERIFY(jump[60].glitch);
    QVERIFY(!jump[60].alerting);

    // Told that pictures came back after a gap, the tick settles again.
    frozen.cameraBack();
    const auto back = run(
        frozen, settings, 12, [](int k) { return roomWithPerson(100 + 12 * (k - 70), quint32(k)); },
        70);
    for (int k = 0; k < 10; ++k)
        QVERIFY(!back[size_t(k)].alerting);
}

void TestAlertGuards::eventsGroupAlertsByTheQuietGap()
{
    WatchSettings settings = guarded();
    settings.alerts.quietGapSeconds = 2;
    WatchTick tick;
    tick.restart();
    // Someone moves from 2 s to 3 s, pauses 1.5 s, moves to 5 s; then the
    // room is still until 9 s, and someone moves again.
    const auto moving = [](int k) { return (k >= 20 && k < 30) || (k >= 45 && k < 50) || k >= 90; };
    const auto results = run(tick, settings, 100, [&](int k) {
        return moving(k) ? roomWithPerson(20 + 12 * (k % 30), quint32(k)) : room(quint32(k));
    });
    std::vector<int> started, ended;
    for (int k = 0; k < int(results.size()); ++k) {
        if (results[size_t(k)].eventStarted)
            started.push_back(k);
        if (results[size_t(k)].eventEnded)
            ended.push_back(k);
    }
    QCOMPARE(started.size(), size_t(2));
    QCOMPARE(ended.size(), size_t(1));
    QVERIFY(started[0] >= 22 && started[0] <= 24);
    QVERIFY(started[1] >= 92);
    // The first event ended 2 s after its last alerting tick.
    const WatchEvent &first = tick.events().lastEnded();
    QCOMPARE(first.number, 1);
    QCOMPARE(first.startMs, started[0] * tickMs);
    QVERIFY(first.endMs >= 45 * tickMs && first.endMs < 51 * tickMs);
    QCOMPARE(ended[0] * tickMs, first.endMs + 2000);
    QVERIFY(first.peakLevel >= 20);
    QVERIFY(first.peakMs >= first.startMs && first.peakMs <= first.endMs);
    QVERIFY(!first.peakFrame.isNull());

    // No more ticks: the open event ends once the gap has passed, or at once.
    QVERIFY(tick.events().isOpen());
    const qint64 last = tick.events().current().endMs;
    QVERIFY(!tick.expireEvent(last + 1999));
    QVERIFY(tick.expireEvent(last + 2000));
    QCOMPARE(tick.events().lastEnded().number, 2);
    QVERIFY(!tick.finishEvent());
}

QTEST_MAIN(TestAlertGuards)
#include "tst_alertguards.moc"
