#include "alertevent.h"
#include "httpdelivery.h"
#include "httpsink.h"
#include "pushdispatcher.h"
#include "testjpeg.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace
{

AlertEvent alertEvent(int n)
{
    AlertEvent e;
    e.camera = QStringLiteral("Hall");
    e.start = QDateTime::currentDateTimeUtc();
    e.id = QStringLiteral("hall-%1").arg(n);
    e.peakLevel = 40 + n;
    e.peakTime = e.start;
    e.snapshot = testJpeg();
    return e;
}

PushSettings ntfyOnly(const QUrl &url)
{
    PushSettings settings;
    settings.ntfy.enabled = true;
    settings.ntfy.url = url.toString();
    return settings;
}

PushSettings webhookOnly(const QUrl &url)
{
    PushSettings settings;
    settings.webhook.enabled = true;
    settings.webhook.url = url.toString();
    return settings;
}

QStringList texts(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << args.at(1).toString();
    return out;
}

// Waits of a few tens of milliseconds keep the retries quick; the time-out
// is long enough for a loaded machine to answer a local request.
constexpr int timeoutMs = 4000;
const QVector<int> quickRetries{50, 100, 200};

} // namespace

class TestHttpPush : public QObject
{
    Q_OBJECT
private slots:
    void ntfyCarriesSnapshotAndText();
    void webhookCarriesJson();
    void refusedThenListening();
    void serverErrorsThenTaken();
    void givesUpAfterBoundedRetries();
    void refusedByServerIsNotRetried();
    void slowAnswerIsOneMessage();
    void timeOutAfterSendingIsNeverRepeated();
    void sameEventTwiceIsOneMessage();
    void badAddressIsReported();
    void sendTest();
};

void TestHttpPush::ntfyCarriesSnapshotAndText()
{
    HttpSink sink;
    PushDispatcher dispatcher;
    dispatcher.setHttpTiming(quickRetries, timeoutMs);
    PushSettings settings = ntfyOnly(sink.url(QStringLiteral("/cams")));
    dispatcher.applySettings(settings);
    QSignalSpy sent(&dispatcher, &PushDispatcher::sent);
    const AlertEvent e = alertEvent(1);
    dispatcher.eventStarted(e);
    QVERIFY(sent.wait(10000));
    QCOMPARE(sent.first().at(0).value<PushChannel>(), PushChannel::Ntfy);
    QCOMPARE(sent.first().at(1).toString(), e.id);
    QCOMPARE(sink.requests.size(), 1);
    const HttpSink::Request &r = sink.requests.first();
    QCOMPARE(r.method, QByteArray("PUT"));
    QCOMPARE(r.path, QByteArray("/cams"));
    QCOMPARE(r.body, e.snapshot);
    QCOMPARE(r.headers.value("title"), QByteArray("Motion at Hall"));
    QVERIFY(r.headers.value("message").contains("level 41"));
    QVERIFY(r.headers.value("filename").endsWith(".jpg"));
    QVERIFY(!r.headers.contains("authorization"));
}

void TestHttpPush::webhookCarriesJson()
{
    HttpSink sink;
    PushDispatcher dispatcher;
    dispatcher.setHttpTiming(quickRetries, timeoutMs);
    dispatcher.applySettings(webhookOnly(sink.url(QStringLiteral("/hook"))));
    QSignalSpy sent(&dispatcher, &PushDispatcher::sent);
    AlertEvent e = alertEvent(2);
    e.clipPath = QStringLiteral("/clips/hall.mp4");
    dispatcher.eventStarted(e);
    QVERIFY(sent.wait(10000));
    QCOMPARE(sink.requests.size(), 1);
    const HttpSink::Request &r = sink.requests.first();
    QCOMPARE(r.method, QByteArray("POST"));
    QCOMPARE(r.headers.value("content-type"), QByteArray("application/json"));
    const QJsonObject o = QJsonDocument::fromJson(r.body).object();
    QCOMPARE(o["camera"].toString(), QStringLiteral("Hall"));
    QCOMPARE(o["event_id"].toString(), e.id);
    QCOMPARE(o["peak_level"].toInt(), 42);
    QCOMPARE(o["start"].toString(), isoUtc(e.start));
    QCOMPARE(o["clip"].toString(), e.clipPath);
}

// Nothing listens at first: the push waits and goes once the server is up.
void TestHttpPush::refusedThenListening()
{
    const quint16 port = HttpSink::freePort();
    PushDispatcher dispatcher;
    dispatcher.setHttpTiming({300, 300, 300, 300, 300, 300}, timeoutMs);
    dispatcher.applySettings(
        webhookOnly(QUrl(QStringLiteral("http://127.0.0.1:%1/hook").arg(port))));
    QSignalSpy sent(&dispatcher, &PushDispatcher::sent);
    QSignalSpy notSent(&dispatcher, &PushDispatcher::notSent);
    dispatcher.eventStarted(alertEvent(3));
    QVERIFY(notSent.wait(10000));
    QCOMPARE(notSent.first().at(0).value<PushChannel>(), PushChannel::Webhook);
    QCOMPARE(notSent.first().at(1).toString(),
             QStringLiteral("connection refused, trying again in 1 s"));
    QCOMPARE(pushNotSentText(PushChannel::Webhook, notSent.first().at(1).toString()),
             QStringLiteral("Webhook alert not sent: connection refused, trying again in 1 s"));
    HttpSink sink(port);
    QVERIFY(sink.isListening());
    QVERIFY(sent.wait(10000));
    QCOMPARE(sink.requests.size(), 1);
}

void TestHttpPush::serverErrorsThenTaken()
{
    HttpSink sink;
    sink.queue({500, 0, false, {}});
    sink.queue({503, 0, false, "Retry-After: 0\r\n"});
    PushDispatcher dispatcher;
    dispatcher.setHttpTiming(quickRetries, timeoutMs);
    dispatcher.applySettings(ntfyOnly(sink.url(QStringLiteral("/cams"))));
    QSignalSpy sent(&dispatcher, &PushDispatcher::sent);
    QSignalSpy notSent(&dispatcher, &PushDispatcher::notSent);
    dispatcher.eventStarted(alertEvent(4));
    QVERIFY(sent.wait(10000));
    QCOMPARE(sink.requests.size(), 3);
    QCOMPARE(texts(notSent),
             QStringList({QStringLiteral("server answered 500, trying again in 1 s"),
                          QStringLiteral("server answered 503, trying again in 1 s")}));
}

void TestHttpPush::givesUpAfterBoundedRetries()
{
    HttpSink sink;
    sink.defaultAnswer.status = 503;
    PushDispatcher dispatcher;
    dispatcher.setHttpTiming(quickRetries, timeoutMs);
    dispatcher.applySettings(webhookOnly(sink.url(QStringLiteral("/hook"))));
    QSignalSpy sent(&dispatcher, &PushDispatcher::sent);
    QSignalSpy notSent(&dispatcher, &PushDispatcher::notSent);
    dispatcher.eventStarted(alertEvent(5));
    QTRY_COMPARE_WITH_TIMEOUT(notSent.size(), quickRetries.size() + 1, 20000);
    QCOMPARE(texts(notSent).last(),
             QStringLiteral("server answered 503; gave up after 4 attempts"));
    QCOMPARE(sink.requests.size(), quickRetries.size() + 1);
    QCOMPARE(sent.size(), 0);
}

void TestHttpPush::refusedByServerIsNotRetried()
{
    HttpSink sink;
    sink.defaultAnswer.status = 404;
    PushDispatcher dispatcher;
    dispatcher.setHttpTiming(quickRetries, timeoutMs);
    dispatcher.applySettings(ntfyOnly(sink.url(QStringLiteral("/nope"))));
    QSignalSpy notSent(&dispatcher, &PushDispatcher::notSent);
    dispatcher.eventStarted(alertEvent(6));
    QVERIFY(notSent.wait(10000));
    QCOMPARE(texts(notSent), QStringList{QStringLiteral("server answered 404")});
    QCOMPARE(sink.requests.size(), 1);
}

void TestHttpPush::slowAnswerIsOneMessage()
{
    HttpSink sink;
    sink.defaultAnswer.delayMs = 1500;
    PushDispatcher dispatcher;
    dispatcher.setHttpTiming(quickRetries, timeoutMs);
    dispatcher.applySettings(ntfyOnly(sink.url(QStringLiteral("/cams"))));
    QSignalSpy sent(&dispatcher, &PushDispatcher::sent);
    QSignalSpy notSent(&dispatcher, &PushDispatcher::notSent);
    dispatcher.eventStarted(alertEvent(7));
    QVERIFY(sent.wait(15000));
    QCOMPARE(sink.requests.size(), 1);
    QCOMPARE(notSent.size(), 0);
}

// The server read the push and never answered: it may well show it, so it
// is reported and not sent a second time.
void TestHttpPush::timeOutAfterSendingIsNeverRepeated()
{
    HttpSink sink;
    sink.defaultAnswer.never = true;
    PushDispatcher dispatcher;
    dispatcher.setHttpTiming(quickRetries, 1000);
    dispatcher.applySettings(ntfyOnly(sink.url(QStringLiteral("/cams"))));
    QSignalSpy sent(&dispatcher, &PushDispatcher::sent);
    QSignalSpy notSent(&dispatcher, &PushDispatcher::notSent);
    dispatcher.eventStarted(alertEvent(8));
    QVERIFY(notSent.wait(15000));
    QCOMPARE(texts(notSent),
             QStringList{QStringLiteral("timed out; not sent again as it may have arrived")});
    // The delivery is over: no retry is pending, so one request is all there is.
    QTRY_COMPARE(dispatcher.findChildren<HttpDelivery *>().size(), 0);
    QCOMPARE(sink.requests.size(), 1);
    QCOMPARE(sent.size(), 0);
}

void TestHttpPush::sameEventTwiceIsOneMessage()
{
    HttpSink sink;
    PushDispatcher dispatcher;
    dispatcher.setHttpTiming(quickRetries, timeoutMs);
    PushSettings settings = ntfyOnly(sink.url(QStringLiteral("/cams")));
    settings.webhook = webhookOnly(sink.url(QStringLiteral("/hook"))).webhook;
    dispatcher.applySettings(settings);
    QSignalSpy sent(&dispatcher, &PushDispatcher::sent);
    const AlertEvent e = alertEvent(9);
    dispatcher.eventStarted(e);
    dispatcher.eventStarted(e);
    dispatcher.eventUpdated(e);
    dispatcher.eventEnded(e);
    QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 2, 10000);
    // A later event goes out as usual, and only then do we count.
    dispatcher.eventStarted(alertEvent(10));
    QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 4, 10000);
    QCOMPARE(sink.requests.size(), 4);
}

void TestHttpPush::badAddressIsReported()
{
    PushDispatcher dispatcher;
    PushSettings settings;
    settings.ntfy.enabled = true;
    settings.ntfy.url = QStringLiteral("ntfy.example/cams");
    settings.webhook.enabled = true;
    settings.webhook.url = QStringLiteral("http://127.0.0.1:1/hook");
    settings.webhook.enabled = false;
    dispatcher.applySettings(settings);
    QSignalSpy notSent(&dispatcher, &PushDispatcher::notSent);
    dispatcher.eventStarted(alertEvent(11));
    QCOMPARE(texts(notSent), QStringList{QStringLiteral("not an http:// or https:// address")});
    QCOMPARE(notSent.first().at(0).value<PushChannel>(), PushChannel::Ntfy);
}

void TestHttpPush::sendTest()
{
    HttpSink sink;
    PushDispatcher dispatcher;
    dispatcher.setHttpTiming(quickRetries, timeoutMs);
    QSignalSpy results(&dispatcher, &PushDispatcher::testFinished);
    QTemporaryDir dir;
    QFile token(dir.filePath(QStringLiteral("token")));
    QVERIFY(token.open(QIODevice::WriteOnly));
    token.write("tk_secret\n");
    token.close();

    // The dialog's settings, not applied: the channel is off.
    PushSettings settings = ntfyOnly(sink.url(QStringLiteral("/cams")));
    settings.ntfy.enabled = false;
    settings.ntfy.passwordFile = token.fileName();
    dispatcher.sendTest(PushChannel::Ntfy, settings);
    QVERIFY(results.wait(10000));
    QCOMPARE(results.last().at(0).value<PushChannel>(), PushChannel::Ntfy);
    QCOMPARE(results.last().at(1).toBool(), true);
    QCOMPARE(sink.requests.size(), 1);
    QCOMPARE(sink.requests.last().headers.value("title"), QByteArray("Orvella test"));
    QCOMPARE(sink.requests.last().headers.value("authorization"), QByteArray("Bearer tk_secret"));

    // A refused test is tried once and says why.
    settings.webhook.url = QStringLiteral("http://127.0.0.1:%1/hook").arg(HttpSink::freePort());
    dispatcher.sendTest(PushChannel::Webhook, settings);
    QVERIFY(results.wait(10000));
    QCOMPARE(results.last().at(0).value<PushChannel>(), PushChannel::Webhook);
    QCOMPARE(results.last().at(1).toBool(), false);
    QCOMPARE(results.last().at(2).toString(), QStringLiteral("connection refused"));

    // An unreadable token file is reported before anything is sent.
    settings.ntfy.passwordFile = dir.filePath(QStringLiteral("missing"));
    dispatcher.sendTest(PushChannel::Ntfy, settings);
    QVERIFY(results.wait(10000));
    QCOMPARE(results.last().at(1).toBool(), false);
    QVERIFY(results.last().at(2).toString().contains(QLatin1String("cannot be read")));
    QCOMPARE(sink.requests.size(), 1);
}

QTEST_GUILESS_MAIN(TestHttpPush)
#include "tst_httppush.moc"
