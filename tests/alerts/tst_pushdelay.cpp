#include "alertevent.h"
#include "httpsink.h"
#include "mosquittobroker.h"
#include "mqttprobe.h"
#include "mqttpublisher.h"
#include "pushdispatcher.h"
#include "testjpeg.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace
{

constexpr int events = 100;
constexpr int spacingMs = 30; // far closer together than real events
constexpr qint64 targetMs = 3000;

// A camera-sized snapshot, so the channels carry what they will carry.
QByteArray snapshot(int n)
{
    QImage image(480, 320, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((n * 7) % 360, 90, 160));
    QPainter painter(&image);
    for (int i = 0; i < 40; ++i)
        painter.fillRect((i * 37 + n * 11) % 440, (i * 53) % 290, 40, 30,
                         QColor::fromHsv((i * 29 + n) % 360, 200, 120 + i));
    painter.end();
    return jpegBytes(image);
}

// The delay at the p-th percentile (nearest rank).
qint64 percentile(QVector<qint64> delays, double p)
{
    std::sort(delays.begin(), delays.end());
    const int rank = std::max(1, int(std::ceil(p * delays.size())));
    return delays.at(rank - 1);
}

} // namespace

class TestPushDelay : public QObject
{
    Q_OBJECT
private slots:
    void hundredEvents();
};

// 100 events through all three channels at once against a real broker and
// HTTP server: every event arrives once on each, and 95 % of them within
// 3 s of the event's start.
void TestPushDelay::hundredEvents()
{
    MosquittoBroker mosquitto;
    QVERIFY2(mosquitto.start(), qPrintable(mosquitto.log()));
    MqttProbe probe(mosquitto.port(), "probe-delay");
    QTRY_VERIFY_WITH_TIMEOUT(probe.isSubscribed(), 20000);
    HttpSink sink;

    PushSettings settings;
    settings.mqtt.enabled = true;
    settings.mqtt.host = QStringLiteral("127.0.0.1");
    settings.mqtt.port = mosquitto.port();
    settings.mqtt.nodeId = QStringLiteral("delay");
    settings.ntfy.enabled = true;
    settings.ntfy.url = sink.url(QStringLiteral("/cams")).toString();
    settings.webhook.enabled = true;
    settings.webhook.url = sink.url(QStringLiteral("/hook")).toString();
    PushDispatcher dispatcher;
    dispatcher.setCameras({QStringLiteral("Yard")});
    dispatcher.applySettings(settings);
    QTRY_VERIFY_WITH_TIMEOUT(dispatcher.mqttPublisher()->isConnected(), 20000);
    QSignalSpy notSent(&dispatcher, &PushDispatcher::notSent);

    QVector<QByteArray> pictures;
    for (int n = 0; n < events; ++n)
        pictures << snapshot(n);

    QHash<int, qint64> startMs; // by peak level, which the push text carries
    QVector<qint64> callUs;
    int n = 0;
    QTimer ticker;
    ticker.setInterval(spacingMs);
    connect(&ticker, &QTimer::timeout, this, [&] {
        AlertEvent e;
        e.camera = QStringLiteral("Yard");
        e.start = QDateTime::currentDateTimeUtc();
        e.id = makeAlertEventId(e.camera, e.start) + QString::number(n);
        e.peakLevel = 100 + n;
        e.peakTime = e.start;
        e.snapshot = pictures.at(n);
        startMs.insert(e.peakLevel, e.start.toMSecsSinceEpoch());
        QElapsedTimer call;
        call.start();
        dispatcher.eventStarted(e);
        dispatcher.eventEnded(e);
        callUs << call.nsecsElapsed() / 1000;
        if (++n == events)
            ticker.stop();
    });
    ticker.start();

    const QByteArray eventTopic("orvella/delay/yard/event");
    QTRY_COMPARE_WITH_TIMEOUT(probe.on(eventTopic).size(), events, 60000);
    QTRY_COMPARE_WITH_TIMEOUT(sink.requests.size(), 2 * events, 60000);
    QCOMPARE(notSent.size(), 0);

    QHash<QString, QVector<qint64>> delays;
    QHash<QString, QSet<int>> seen;
    const QRegularExpression levelText(QStringLiteral("level (\\d+)$"));
    for (const HttpSink::Request &r : qAsConst(sink.requests)) {
        int level = -1;
        QString channel;
        if (r.path == "/cams") {
            channel = QStringLiteral("push");
            level = levelText.match(QString::fromLatin1(r.headers.value("message")))
                        .captured(1)
                        .toInt();
        } else {
            channel = QStringLiteral("webhook");
            level = QJsonDocument::fromJson(r.body).object()["peak_level"].toInt();
        }
        QVERIFY(startMs.contains(level));
        seen[channel].insert(level);
        delays[channel] << r.arrivedMs - startMs.value(level);
    }
    for (const MqttProbe::Message &m : probe.on(eventTopic)) {
        const int level = QJsonDocument::fromJson(m.payload).object()["peak_level"].toInt();
        QVERIFY(startMs.contains(level));
        seen[QStringLiteral("mqtt")].insert(level);
        delays[QStringLiteral("mqtt")] << m.arrivedMs - startMs.value(level);
    }

    for (const QString &channel :
         {QStringLiteral("mqtt"), QStringLiteral("push"), QStringLiteral("webhook")}) {
        // Each event exactly once.
        QCOMPARE(seen[channel].size(), events);
        QCOMPARE(delays[channel].size(), events);
        const qint64 p50 = percentile(delays[channel], 0.50);
        const qint64 p95 = percentile(delays[channel], 0.95);
        const qint64 max = percentile(delays[channel], 1.0);
        qInfo("%-8s %d events: delay p50 %lld ms, p95 %lld ms, max %lld ms", qPrintable(channel),
              events, p50, p95, max);
        QVERIFY2(p95 <= targetMs, qPrintable(channel));
    }
    qInfo("eventStarted + eventEnded on the calling thread: p50 %lld us, p95 %lld us, max %lld us",
          percentile(callUs, 0.5), percentile(callUs, 0.95), percentile(callUs, 1.0));
}

QTEST_GUILESS_MAIN(TestPushDelay)
#include "tst_pushdelay.moc"
