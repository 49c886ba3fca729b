#include "alertevent.h"
#include "httpdelivery.h"
#include "httppush.h"
#include "mqttdiscovery.h"
#include "pushsettings.h"
#include "testjpeg.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(AttemptVerdict)

namespace
{

AlertEvent sampleEvent()
{
    AlertEvent event;
    event.camera = QStringLiteral("Front Door");
    event.start = QDateTime(QDate(2026, 12, 6), QTime(7, 1, 36, 250), Qt::UTC);
    event.id = makeAlertEventId(event.camera, event.start);
    event.peakLevel = 31;
    event.peakTime = event.start.addMSecs(400);
    return event;
}

QJsonObject json(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        qWarning() << "not JSON:" << bytes;
    return doc.object();
}

QByteArray header(const HttpPushRequest &request, const QByteArray &name)
{
    for (const auto &h : request.headers) {
        if (h.first == name)
            return h.second;
    }
    return QByteArray();
}

// Decodes one RFC 2047 B-encoded word, or returns the text as it is.
QString decodeHeader(const QByteArray &value)
{
    if (value.startsWith("=?UTF-8?B?") && value.endsWith("?="))
        return QString::fromUtf8(QByteArray::fromBase64(value.mid(10, value.size() - 12)));
    return QString::fromLatin1(value);
}

} // namespace

class TestPushMessages : public QObject
{
    Q_OBJECT
private slots:
    void topicLevel_data();
    void topicLevel();
    void discovery();
    void eventJson();
    void ntfyWithSnapshot();
    void ntfyWithoutSnapshot();
    void ntfyTextOutsideAscii();
    void authorization();
    void urlProblem_data();
    void urlProblem();
    void judge_data();
    void judge();
    void settingsDefaultsAreOff();
    void settingsRoundTrip();
    void settingsDamagedValues();
    void secretFile();
    void snapshotFromFile();
};

void TestPushMessages::topicLevel_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("level");
    QTest::newRow("spaces") << "Front Door"
                            << "front_door";
    QTest::newRow("accents") << QString::fromUtf8("Küche Süd") << "kuche_sud";
    QTest::newRow("wildcards and separators") << "a/b+c#d"
                                              << "a_b_c_d";
    QTest::newRow("runs and ends") << "  --Hall--  2 "
                                   << "hall_2";
    QTest::newRow("blank") << "   "
                           << "";
}

void TestPushMessages::topicLevel()
{
    QFETCH(QString, text);
    QFETCH(QString, level);
    QCOMPARE(mqttTopicLevel(text), level);
}

// Home Assistant builds its entities from these: a wrong key or topic gives
// an entity that never changes.
void TestPushMessages::discovery()
{
    const MqttLayout layout(QStringLiteral("homeassistant"), QStringLiteral("orvella"),
                            QStringLiteral("orvella_pc"));
    const QVector<MqttLayout::Message> configs = layout.discovery(QStringLiteral("Front Door"));
    QCOMPARE(configs.size(), 3);
    QCOMPARE(configs[0].topic,
             QByteArray("homeassistant/binary_sensor/orvella_pc/front_door_motion/config"));
    QCOMPARE(configs[1].topic,
             QByteArray("homeassistant/sensor/orvella_pc/front_door_level/config"));
    QCOMPARE(configs[2].topic,
             QByteArray("homeassistant/image/orvella_pc/front_door_snapshot/config"));

    const QJsonObject motion = json(configs[0].payload);
    QCOMPARE(motion["device_class"].toString(), QStringLiteral("motion"));
    QCOMPARE(motion["state_topic"].toString(),
             QStringLiteral("orvella/orvella_pc/front_door/motion"));
    QCOMPARE(motion["payload_on"].toString(), QStringLiteral("ON"));
    QCOMPARE(motion["json_attributes_topic"].toString(),
             QString::fromUtf8(layout.eventTopic(QStringLiteral("Front Door"))));
    const QJsonObject level = json(configs[1].payload);
    QCOMPARE(level["state_topic"].toString(),
             QStringLiteral("orvella/orvella_pc/front_door/level"));
    const QJsonObject image = json(configs[2].payload);
    QCOMPARE(image["image_topic"].toString(),
             QStringLiteral("orvella/orvella_pc/front_door/snapshot"));
    QCOMPARE(image["content_type"].toString(), QStringLiteral("image/jpeg"));

    QStringList ids;
    for (const QJsonObject &o : {motion, level, image}) {
        QCOMPARE(o["availability_topic"].toString(),
                 QStringLiteral("orvella/orvella_pc/availability"));
        QCOMPARE(o["payload_not_available"].toString(), QStringLiteral("offline"));
        QCOMPARE(o["device"].toObject()["name"].toString(), QStringLiteral("Front Door"));
        QCOMPARE(o["device"].toObject()["identifiers"].toArray().first().toString(),
                 QStringLiteral("orvella_pc_front_door"));
        ids << o["unique_id"].toString();
    }
    ids.removeDuplicates();
    QCOMPARE(ids.size(), 3);
}

void TestPushMessages::eventJson()
{
    AlertEvent event = sampleEvent();
    QJsonObject o = json(alertEventJson(event));
    QCOMPARE(o["event_id"].toString(), QStringLiteral("Front Door-20261206T070136250Z"));
    QCOMPARE(o["camera"].toString(), QStringLiteral("Front Door"));
    QCOMPARE(o["start"].toString(), QStringLiteral("2026-12-06T07:01:36.250Z"));
    QCOMPARE(o["peak_level"].toInt(), 31);
    QCOMPARE(o["peak_time"].toString(), QStringLiteral("2026-12-06T07:01:36.650Z"));
    QVERIFY(o["clip"].isNull());

    event.clipPath = QStringLiteral("/home/me/clips/Front Door \"1\".mp4");
    o = json(alertEventJson(event));
    QCOMPARE(o["clip"].toString(), event.clipPath);
}

void TestPushMessages::ntfyWithSnapshot()
{
    AlertEvent event = sampleEvent();
    event.snapshot = testJpeg();
    const HttpPushRequest r =
        ntfyRequest(event, QUrl(QStringLiteral("https://push.example/cams")), QByteArray(), true);
    QCOMPARE(r.method, QByteArray("PUT"));
    QCOMPARE(r.body, event.snapshot);
    QCOMPARE(header(r, "Content-Type"), QByteArray("image/jpeg"));
    QCOMPARE(header(r, "Filename"), QByteArray("front_door-20261206-070136.jpg"));
    QCOMPARE(header(r, "Title"), QByteArray("Motion at Front Door"));
    QVERIFY(header(r, "Message").startsWith("Front Door: motion at "));
    QVERIFY(header(r, "Message").endsWith(", level 31"));
    QVERIFY(header(r, "Authorization").isEmpty());
}

void TestPushMessages::ntfyWithoutSnapshot()
{
    AlertEvent event = sampleEvent();
    event.snapshot = testJpeg();
    // Attachments turned off, or nothing to attach: the text is the body.
    for (const bool attach : {false, true}) {
        if (attach)
            event.snapshot.clear();
        const HttpPushRequest r =
            ntfyRequest(event, QUrl(QStringLiteral("http://push.example/t")), QByteArray(), attach);
        QCOMPARE(r.method, QByteArray("POST"));
        QCOMPARE(QString::fromUtf8(r.body), pushMessage(event));
        QVERIFY(header(r, "Filename").isEmpty());
    }
}

void TestPushMessages::ntfyTextOutsideAscii()
{
    AlertEvent event = sampleEvent();
    event.camera = QString::fromUtf8("Küche ☂");
    event.snapshot = testJpeg();
    const HttpPushRequest r =
        ntfyRequest(event, QUrl(QStringLiteral("http://push.example/t")), QByteArray(), true);
    // Header values must be plain ASCII on the wire, and decode to the text.
    for (const QByteArray &name :
         {QByteArray("Title"), QByteArray("Message"), QByteArray("Filename")}) {
        for (const char c : header(r, name))
            QVERIFY2(uchar(c) >= 0x20 && uchar(c) < 0x7f, name.constData());
    }
    QCOMPARE(decodeHeader(header(r, "Title")), QString::fromUtf8("Motion at Küche ☂"));
    QVERIFY(decodeHeader(header(r, "Message")).startsWith(QString::fromUtf8("Küche ☂: motion")));
}

void TestPushMessages::authorization()
{
    QCOMPARE(pushAuthorization(QString(), QString()), QByteArray());
    QCOMPARE(pushAuthorization(QStringLiteral("me"), QString()), QByteArray());
    QCOMPARE(pushAuthorization(QString(), QStringLiteral("tk_abc")), QByteArray("Bearer tk_abc"));
    QCOMPARE(pushAuthorization(QStringLiteral("me"), QStringLiteral("pa:ss")),
             "Basic " + QByteArray("me:pa:ss").toBase64());
    const HttpPushRequest r = ntfyRequest(sampleEvent(), QUrl(QStringLiteral("http://p.example/t")),
                                          "Bearer tk_abc", true);
    QCOMPARE(header(r, "Authorization"), QByteArray("Bearer tk_abc"));
}

void TestPushMessages::urlProblem_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("usable");
    QTest::newRow("https") << "https://ntfy.example/cams" << true;
    QTest::newRow("http with port") << " http://127.0.0.1:8080/hook " << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("no scheme") << "ntfy.example/cams" << false;
    QTest::newRow("ftp") << "ftp://ntfy.example/cams" << false;
    QTest::newRow("no host") << "http:///cams" << false;
}

void TestPushMessages::urlProblem()
{
    QFETCH(QString, text);
    QFETCH(bool, usable);
    QCOMPARE(pushUrlProblem(text).isEmpty(), usable);
}

// Which failures may be sent again without the risk of a second copy.
void TestPushMessages::judge_data()
{
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<QByteArray>("retryAfter");
    QTest::addColumn<AttemptVerdict>("verdict");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("retryAfterMs");
    using E = QNetworkReply::NetworkError;
    using V = AttemptVerdict;
    QTest::newRow("200") << E::NoError << 200 << true << QByteArray() << V::Delivered << "" << -1;
    QTest::newRow("204") << E::NoError << 204 << true << QByteArray() << V::Delivered << "" << -1;
    QTest::newRow("refused") << E::ConnectionRefusedError << 0 << false << QByteArray()
                             << V::TryAgain << "connection refused" << -1;
    QTest::newRow("not found") << E::HostNotFoundError << 0 << false << QByteArray() << V::TryAgain
                               << "server not found" << -1;
    QTest::newRow("time-out before sending") << E::OperationCanceledError << 0 << false
                                             << QByteArray() << V::TryAgain << "timed out" << -1;
    QTest::newRow("time-out after sending") << E::OperationCanceledError << 0 << true
                                            << QByteArray() << V::Unknown << "timed out" << -1;
    QTest::newRow("closed after sending") << E::RemoteHostClosedError << 0 << true << QByteArray()
                                          << V::Unknown << "connection closed" << -1;
    QTest::newRow("500") << E::InternalServerError << 500 << true << QByteArray() << V::TryAgain
                         << "server answered 500" << -1;
    QTest::newRow("503 with Retry-After")
        << E::ServiceUnavailableError << 503 << true << QByteArray("7") << V::TryAgain
        << "server answered 503" << 7000;
    QTest::newRow("429 capped Retry-After")
        << E::UnknownContentError << 429 << true << QByteArray("3600") << V::TryAgain
        << "server answered 429" << HttpDelivery::maxRetryAfterMs;
    QTest::newRow("404") << E::ContentNotFoundError << 404 << true << QByteArray() << V::Refused
                         << "server answered 404" << -1;
    QTest::newRow("401") << E::AuthenticationRequiredError << 401 << true << QByteArray()
                         << V::Refused << "server answered 401" << -1;
    QTest::newRow("redirect") << E::NoError << 302 << true << QByteArray() << V::Refused
                              << "server answered 302" << -1;
    QTest::newRow("certificate") << E::SslHandshakeFailedError << 0 << false << QByteArray()
                                 << V::Refused << "secure connection failed" << -1;
}

void TestPushMessages::judge()
{
    QFETCH(QNetworkReply::NetworkError, error);
    QFETCH(int, status);
    QFETCH(bool, sent);
    QFETCH(QByteArray, retryAfter);
    QFETCH(AttemptVerdict, verdict);
    QFETCH(QString, reason);
    QFETCH(int, retryAfterMs);
    const AttemptJudgement j = judgeAttempt(error, status, sent, retryAfter);
    QCOMPARE(j.verdict, verdict);
    QCOMPARE(j.reason, reason);
    QCOMPARE(j.retryAfterMs, retryAfterMs);
}

void TestPushMessages::settingsDefaultsAreOff()
{
    QTemporaryDir dir;
    const QSettings empty(dir.filePath(QStringLiteral("o.conf")), QSettings::IniFormat);
    const PushSettings p = PushSettings::load(empty);
    QVERIFY(!p.mqtt.enabled);
    QVERIFY(!p.ntfy.enabled);
    QVERIFY(!p.webhook.enabled);
    QCOMPARE(p.mqtt.port, 1883);
    QCOMPARE(p.mqtt.discoveryPrefix, QStringLiteral("homeassistant"));
    QVERIFY(p.ntfy.attachSnapshot);
}

void TestPushMessages::settingsRoundTrip()
{
    QTemporaryDir dir;
    PushSettings p;
    p.mqtt = {true,
              QStringLiteral("broker.lan"),
              8883,
              QStringLiteral("cam"),
              QStringLiteral("/etc/orvella/mqtt.pw"),
              true,
              QStringLiteral("/etc/ca.pem"),
              QStringLiteral("ha"),
              QStringLiteral("home/cams"),
              QStringLiteral("attic_pc")};
    p.ntfy = {true, QStringLiteral("https://ntfy.example/cams"), QStringLiteral("me"),
              QStringLiteral("/home/me/.ntfy"), false};
    p.webhook = {true, QStringLiteral("http://nas:8123/api/webhook/x")};
    const QString path = dir.filePath(QStringLiteral("o.conf"));
    {
        QSettings s(path, QSettings::IniFormat);
        p.save(s);
    }
    const QSettings s(path, QSettings::IniFormat);
    const PushSettings q = PushSettings::load(s);
    QVERIFY(q.mqtt == p.mqtt);
    QVERIFY(q.ntfy == p.ntfy);
    QVERIFY(q.webhook == p.webhook);
    for (const QString &key : s.allKeys())
        QVERIFY2(key.startsWith(QLatin1String("push/")), qPrintable(key));
}

void TestPushMessages::settingsDamagedValues()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("o.conf"));
    {
        QSettings s(path, QSettings::IniFormat);
        s.setValue(QStringLiteral("push/mqtt/enabled"), QStringLiteral("perhaps"));
        s.setValue(QStringLiteral("push/mqtt/port"), 70000);
        s.setValue(QStringLiteral("push/mqtt/topicPrefix"), QStringLiteral("cams/#"));
        s.setValue(QStringLiteral("push/mqtt/nodeId"), QStringLiteral("Attic PC"));
        s.setValue(QStringLiteral("push/ntfy/enabled"), QStringLiteral("true"));
    }
    const QSettings s(path, QSettings::IniFormat);
    const PushSettings p = PushSettings::load(s);
    QVERIFY(!p.mqtt.enabled);
    QCOMPARE(p.mqtt.port, 1883);
    QCOMPARE(p.mqtt.topicPrefix, QStringLiteral("orvella"));
    QCOMPARE(p.mqtt.nodeId, QStringLiteral("attic_pc"));
    QVERIFY(p.ntfy.enabled);
}

void TestPushMessages::secretFile()
{
    QTemporaryDir dir;
    auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile f(dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    };
    QCOMPARE(readSecretFile(write(QStringLiteral("a"), "s3cret\n")).value(),
             QStringLiteral("s3cret"));
    QCOMPARE(readSecretFile(write(QStringLiteral("b"), "s3 cret\r\nignored\n")).value(),
             QStringLiteral("s3 cret"));
    const std::optional<QString> empty = readSecretFile(write(QStringLiteral("c"), ""));
    QVERIFY(empty.has_value());
    QVERIFY(empty->isEmpty());
    QString error;
    QVERIFY(!readSecretFile(dir.filePath(QStringLiteral("missing")), &error));
    QVERIFY(error.contains(QLatin1String("cannot be read")));
    QVERIFY(!readSecretFile(write(QStringLiteral("d"), QByteArray(10000, 'x')), &error));
    QVERIFY(error.contains(QLatin1String("too large")));
    QVERIFY(!readSecretFile(QString(), &error));
}

void TestPushMessages::snapshotFromFile()
{
    QTemporaryDir dir;
    AlertEvent event;
    QVERIFY(event.snapshotJpeg().isEmpty());
    event.snapshotPath = dir.filePath(QStringLiteral("peak.jpg"));
    QVERIFY(event.snapshotJpeg().isEmpty()); // not there (yet)
    QFile f(event.snapshotPath);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(testJpeg());
    f.close();
    QCOMPARE(event.snapshotJpeg(), testJpeg());
    event.snapshot = "bytes win";
    QCOMPARE(event.snapshotJpeg(), QByteArray("bytes win"));
}

QTEST_GUILESS_MAIN(TestPushMessages)
#include "tst_pushmessages.moc"
