#include "alertevent.h"
#include "mosquittobroker.h"
#include "mqttprobe.h"
#include "mqttpublisher.h"
#include "pushdispatcher.h"
#include "tcprelay.h"
#include "testjpeg.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace
{

constexpr int waitMs = 20000; // generous: the machine may be busy

AlertEvent alertEvent(const QString &camera, int n, int level)
{
    AlertEvent e;
    e.camera = camera;
    e.start = QDateTime::currentDateTimeUtc();
    e.id = QStringLiteral("%1-%2").arg(camera).arg(n);
    e.peakLevel = level;
    e.peakTime = e.start;
    e.snapshot = testJpeg(QColor::fromHsv((n * 40) % 360, 200, 200));
    return e;
}

MqttSettings broker(quint16 port)
{
    MqttSettings s;
    s.enabled = true;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    s.nodeId = QStringLiteral("testnode");
    return s;
}

PushSettings withMqtt(const MqttSettings &mqtt)
{
    PushSettings p;
    p.mqtt = mqtt;
    return p;
}

QStringList eventIds(const MqttProbe &probe, const QByteArray &topic)
{
    QStringList ids;
    for (const QByteArray &payload : probe.payloads(topic))
        ids << QJsonDocument::fromJson(payload).object().value("event_id").toString();
    return ids;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return file.fileName();
}

const QByteArray motionTopic("orvella/testnode/front_door/motion");
const QByteArray levelTopic("orvella/testnode/front_door/level");
const QByteArray snapshotTopic("orvella/testnode/front_door/snapshot");
const QByteArray eventTopic("orvella/testnode/front_door/event");
const QByteArray availabilityTopic("orvella/testnode/availability");
const QByteArray motionConfig("homeassistant/binary_sensor/testnode/front_door_motion/config");
const QByteArray levelConfig("homeassistant/sensor/testnode/front_door_level/config");
const QByteArray imageConfig("homeassistant/image/testnode/front_door_snapshot/config");

} // namespace

class TestMqttPush : public QObject
{
    Q_OBJECT
private slots:
    void discoveryAndOneEvent();
    void brokerRestartLosesAndDoublesNothing();
    void retainedStateComesBackWhenTheBrokerLostIt();
    void homeAssistantStartGetsDiscoveryAgain();
    void offlineWhenTurnedOff();
    void lastWillWhenTheConnectionBreaks();
    void login();
    void tls();
    void unreachable();
};

void TestMqttPush::discoveryAndOneEvent()
{
    MosquittoBroker mosquitto;
    QVERIFY2(mosquitto.start(), qPrintable(mosquitto.log()));
    MqttProbe probe(mosquitto.port(), "probe-a");
    QTRY_VERIFY_WITH_TIMEOUT(probe.isSubscribed(), waitMs);

    PushDispatcher dispatcher;
    dispatcher.setCameras({QStringLiteral("Front Door")});
    dispatcher.applySettings(withMqtt(broker(mosquitto.port())));
    QSignalSpy sent(&dispatcher, &PushDispatcher::sent);
    QTRY_COMPARE_WITH_TIMEOUT(probe.last(availabilityTopic), QByteArray("online"), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!probe.last(imageConfig).isEmpty(), waitMs);
    QCOMPARE(QJsonDocument::fromJson(probe.last(motionConfig)).object()["state_topic"].toString(),
             QString::fromUtf8(motionTopic));
    QCOMPARE(QJsonDocument::fromJson(probe.last(levelConfig)).object()["state_topic"].toString(),
             QString::fromUtf8(levelTopic));

    AlertEvent e = alertEvent(QStringLiteral("Front Door"), 1, 41);
    dispatcher.eventStarted(e);
    QVERIFY(sent.wait(waitMs));
    QCOMPARE(sent.first().at(0).value<PushChannel>(), PushChannel::Mqtt);
    QCOMPARE(sent.first().at(1).toString(), e.id);
    QTRY_COMPARE_WITH_TIMEOUT(probe.last(motionTopic), QByteArray("ON"), waitMs);
    QCOMPARE(eventIds(probe, eventTopic), QStringList{e.id});
    QCOMPARE(probe.last(snapshotTopic), e.snapshot);
    QCOMPARE(probe.last(levelTopic), QByteArray("41"));
    // The event's details and picture come before the state that triggers
    // automations.
    const QList<MqttProbe::Message> all = probe.messages();
    int eventAt = -1, motionAt = -1;
    for (int i = 0; i < all.size(); ++i) {
        if (all[i].topic == eventTopic)
            eventAt = i;
        if (all[i].topic == motionTopic)
            motionAt = i;
    }
    QVERIFY(eventAt < motionAt);

    e.peakLevel = 55;
    e.snapshot = testJpeg(Qt::red);
    dispatcher.eventUpdated(e);
    AlertEvent lower = e;
    lower.peakLevel = 50;
    lower.snapshot = testJpeg(Qt::blue);
    dispatcher.eventUpdated(lower);
    dispatcher.eventEnded(lower);
    QTRY_COMPARE_WITH_TIMEOUT(probe.last(motionTopic), QByteArray("OFF"), waitMs);
    QCOMPARE(probe.payloads(levelTopic), QList<QByteArray>({"41", "55", "0"}));
    QCOMPARE(probe.last(snapshotTopic), e.snapshot);
    QCOMPARE(probe.payloads(motionTopic), QList<QByteArray>({"ON", "OFF"}));
    QCOMPARE(eventIds(probe, eventTopic), QStringList{e.id});
    QCOMPARE(probe.on(motionConfig).size(), 1);
    QCOMPARE(sent.size(), 1);
}

// The broker goes away between events and comes back: what happened while
// it was gone arrives afterwards, each event once, in order.
void TestMqttPush::brokerRestartLosesAndDoublesNothing()
{
    MosquittoBroker mosquitto;
    QVERIFY2(mosquitto.start(), qPrintable(mosquitto.log()));
    MqttProbe probe(mosquitto.port(), "probe-b");
    QTRY_VERIFY_WITH_TIMEOUT(probe.isSubscribed(), waitMs);

    PushDispatcher dispatcher;
    dispatcher.applySettings(withMqtt(broker(mosquitto.port())));
    MqttPublisher *publisher = dispatcher.mqttPublisher();
    QVERIFY(publisher);
    publisher->setReconnectDelays({200, 400, 800}, 5000);
    QSignalSpy connection(publisher, &MqttPublisher::connectionChanged);
    QSignalSpy notSent(&dispatcher, &PushDispatcher::notSent);
    QSignalSpy sent(&dispatcher, &PushDispatcher::sent);

    QStringList ids;
    auto oneEvent = [&](int n) {
        const AlertEvent e = alertEvent(QStringLiteral("Front Door"), n, 30 + n);
        ids << e.id;
        dispatcher.eventStarted(e);
        dispatcher.eventEnded(e);
    };
    oneEvent(1);
    oneEvent(2);
    QTRY_COMPARE_WITH_TIMEOUT(eventIds(probe, eventTopic), ids, waitMs);
    // The probe syncs only once it holds both events whole ("OFF" ends each),
    // or the restart hands it again what it had not yet acknowledged. The
    // publisher's count is read after that: before, it may still be a 0 from
    // between the events.
    QTRY_COMPARE_WITH_TIMEOUT(probe.payloads(motionTopic),
                              QList<QByteArray>({"ON", "OFF", "ON", "OFF"}), waitMs);
    QVERIFY(probe.sync(waitMs));
    QTRY_COMPARE_WITH_TIMEOUT(publisher->waiting(), 0, waitMs);

    mosquitto.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!publisher->isConnected(), waitMs);
    oneEvent(3);
    oneEvent(4);
    oneEvent(5);
    QTRY_VERIFY_WITH_TIMEOUT(publisher->waiting() > 0, waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!notSent.isEmpty(), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(notSent.last().at(1).toString().endsWith(
                                 QLatin1String("; alerts wait until the broker is back")),
                             waitMs);

    QVERIFY2(mosquitto.start(), qPrintable(mosquitto.log()));
    QTRY_VERIFY_WITH_TIMEOUT(publisher->isConnected(), waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(eventIds(probe, eventTopic), ids, waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(publisher->waiting(), 0, waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 5, waitMs);
    // Live messages only: the probe's new subscription after the restart
    // also brings the retained state once more.
    QTRY_COMPARE_WITH_TIMEOUT(
        probe.payloads(motionTopic, true),
        QList<QByteArray>({"ON", "OFF", "ON", "OFF", "ON", "OFF", "ON", "OFF", "ON", "OFF"}),
        waitMs);
    QCOMPARE(probe.payloads(levelTopic, true),
             QList<QByteArray>({"31", "0", "32", "0", "33", "0", "34", "0", "35", "0"}));
    QCOMPARE(probe.last(availabilityTopic), QByteArray("online"));
    QVERIFY(connection.size() >= 3); // up, down, up
}

// A broker without persistence forgets retained messages when restarted;
// the publisher puts its discovery and states back.
void TestMqttPush::retainedStateComesBackWhenTheBrokerLostIt()
{
    MosquittoBroker mosquitto(QString(), false);
    QVERIFY2(mosquitto.start(), qPrintable(mosquitto.log()));
    PushDispatcher dispatcher;
    dispatcher.applySettings(withMqtt(broker(mosquitto.port())));
    MqttPublisher *publisher = dispatcher.mqttPublisher();
    publisher->setReconnectDelays({200, 400}, 5000);
    QSignalSpy sent(&dispatcher, &PushDispatcher::sent);
    const AlertEvent e = alertEvent(QStringLiteral("Front Door"), 1, 44);
    dispatcher.eventStarted(e);
    dispatcher.eventEnded(e);
    QVERIFY(sent.wait(waitMs));
    QTRY_COMPARE_WITH_TIMEOUT(publisher->waiting(), 0, waitMs);

    mosquitto.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!publisher->isConnected(), waitMs);
    QVERIFY2(mosquitto.start(), qPrintable(mosquitto.log()));
    QTRY_VERIFY_WITH_TIMEOUT(publisher->isConnected(), waitMs);

    // A newcomer (Home Assistant starting later) finds everything retained.
    MqttProbe late(mosquitto.port(), "probe-late");
    QTRY_VERIFY_WITH_TIMEOUT(!late.last(imageConfig).isEmpty(), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!late.last(motionConfig).isEmpty(), waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(late.last(availabilityTopic), QByteArray("online"), waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(late.last(motionTopic), QByteArray("OFF"), waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(late.last(levelTopic), QByteArray("0"), waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(late.last(snapshotTopic), e.snapshot, waitMs);
    // The event itself is news, not state: it is not sent again.
    QVERIFY(late.on(eventTopic).isEmpty());
    QCOMPARE(sent.size(), 1);
}

void TestMqttPush::homeAssistantStartGetsDiscoveryAgain()
{
    MosquittoBroker mosquitto;
    QVERIFY2(mosquitto.start(), qPrintable(mosquitto.log()));
    MqttProbe probe(mosquitto.port(), "probe-c");
    QTRY_VERIFY_WITH_TIMEOUT(probe.isSubscribed(), waitMs);
    PushDispatcher dispatcher;
    dispatcher.setCameras({QStringLiteral("Front Door")});
    dispatcher.applySettings(withMqtt(broker(mosquitto.port())));
    QTRY_COMPARE_WITH_TIMEOUT(probe.on(imageConfig).size(), 1, waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(dispatcher.mqttPublisher()->waiting(), 0, waitMs);
    probe.publish("homeassistant/status", "online");
    QTRY_COMPARE_WITH_TIMEOUT(probe.on(imageConfig).size(), 2, waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(probe.on(motionConfig).size(), 2, waitMs);
    QVERIFY(probe.on(eventTopic).isEmpty());
}

void TestMqttPush::offlineWhenTurnedOff()
{
    MosquittoBroker mosquitto;
    QVERIFY2(mosquitto.start(), qPrintable(mosquitto.log()));
    MqttProbe probe(mosquitto.port(), "probe-d");
    QTRY_VERIFY_WITH_TIMEOUT(probe.isSubscribed(), waitMs);
    PushDispatcher dispatcher;
    PushSettings settings = withMqtt(broker(mosquitto.port()));
    dispatcher.applySettings(settings);
    QTRY_COMPARE_WITH_TIMEOUT(probe.last(availabilityTopic), QByteArray("online"), waitMs);
    settings.mqtt.enabled = false;
    dispatcher.applySettings(settings);
    QVERIFY(!dispatcher.mqttPublisher());
    QTRY_COMPARE_WITH_TIMEOUT(probe.last(availabilityTopic), QByteArray("offline"), waitMs);
    // Said by the program itself: an orderly goodbye, not the last will.
    QTRY_VERIFY_WITH_TIMEOUT(
        mosquitto.log().contains(QLatin1String("Client testnode disconnected.")), waitMs);
}

// The network drops the connection: the broker publishes the last will, and
// the publisher comes back by itself.
void TestMqttPush::lastWillWhenTheConnectionBreaks()
{
    MosquittoBroker mosquitto;
    QVERIFY2(mosquitto.start(), qPrintable(mosquitto.log()));
    MqttProbe probe(mosquitto.port(), "probe-e");
    QTRY_VERIFY_WITH_TIMEOUT(probe.isSubscribed(), waitMs);
    TcpRelay network(mosquitto.port());
    PushDispatcher dispatcher;
    dispatcher.applySettings(withMqtt(broker(network.port())));
    MqttPublisher *publisher = dispatcher.mqttPublisher();
    publisher->setReconnectDelays({200, 400}, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(probe.payloads(availabilityTopic, true), QList<QByteArray>{"online"},
                              waitMs);
    network.cut();
    QTRY_COMPARE_WITH_TIMEOUT(probe.payloads(availabilityTopic, true),
                              QList<QByteArray>({"online", "offline", "online"}), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(publisher->isConnected(), waitMs);
    QSignalSpy sent(&dispatcher, &PushDispatcher::sent);
    dispatcher.eventStarted(alertEvent(QStringLiteral("Front Door"), 1, 40));
    QVERIFY(sent.wait(waitMs));
}

void TestMqttPush::login()
{
    QTemporaryDir dir;
    const QString passwords = dir.filePath(QStringLiteral("passwords"));
    QString output;
    QVERIFY2(runTool(QStringLiteral("/usr/bin/mosquitto_passwd"),
                     {QStringLiteral("-c"), QStringLiteral("-b"), passwords, QStringLiteral("cam"),
                      QStringLiteral("s3 cret")},
                     &output),
             qPrintable(output));
    MosquittoBroker mosquitto(
        QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(passwords));
    QVERIFY2(mosquitto.start(), qPrintable(mosquitto.log()));

    PushDispatcher dispatcher;
    QSignalSpy results(&dispatcher, &PushDispatcher::testFinished);
    PushSettings settings = withMqtt(broker(mosquitto.port()));
    settings.mqtt.enabled = false; // a test needs no running channel
    settings.mqtt.user = QStringLiteral("cam");
    settings.mqtt.passwordFile = writeFile(dir, QStringLiteral("right"), "s3 cret\n");
    dispatcher.sendTest(PushChannel::Mqtt, settings);
    QVERIFY(results.wait(waitMs));
    QCOMPARE(results.last().at(0).value<PushChannel>(), PushChannel::Mqtt);
    QCOMPARE(results.last().at(2).toString(), QStringLiteral("the broker took the test message"));
    QCOMPARE(results.last().at(1).toBool(), true);

    settings.mqtt.passwordFile = writeFile(dir, QStringLiteral("wrong"), "secret\n");
    dispatcher.sendTest(PushChannel::Mqtt, settings);
    QVERIFY(results.wait(waitMs));
    QCOMPARE(results.last().at(1).toBool(), false);
    QCOMPARE(results.last().at(2).toString(), QStringLiteral("broker refused the login"));

    // The running channel says the same in the status bar, and keeps trying.
    settings.mqtt.enabled = true;
    dispatcher.applySettings(settings);
    QSignalSpy notSent(&dispatcher, &PushDispatcher::notSent);
    QVERIFY(notSent.wait(waitMs));
    QCOMPARE(pushNotSentText(PushChannel::Mqtt, notSent.last().at(1).toString()),
             QStringLiteral("MQTT alert not sent: broker refused the login"));
}

void TestMqttPush::tls()
{
    QTemporaryDir dir;
    const QString cert = dir.filePath(QStringLiteral("cert.pem"));
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    QString output;
    QVERIFY2(runTool(QStringLiteral("/usr/bin/openssl"),
                     {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                      QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                      QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                      QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                      QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                      QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"), key,
                      QStringLiteral("-out"), cert},
                     &output),
             qPrintable(output));
    MosquittoBroker mosquitto(
        QStringLiteral("allow_anonymous true\ncertfile %1\nkeyfile %2\n").arg(cert, key));
    QVERIFY2(mosquitto.start(), qPrintable(mosquitto.log()));

    PushDispatcher dispatcher;
    QSignalSpy results(&dispatcher, &PushDispatcher::testFinished);
    PushSettings settings = withMqtt(broker(mosquitto.port()));
    settings.mqtt.tls = true;
    settings.mqtt.caFile = cert;
    dispatcher.sendTest(PushChannel::Mqtt, settings);
    QVERIFY(results.wait(waitMs));
    QCOMPARE(results.last().at(2).toString(), QStringLiteral("the broker took the test message"));

    settings.mqtt.caFile = dir.filePath(QStringLiteral("missing.pem"));
    dispatcher.sendTest(PushChannel::Mqtt, settings);
    QVERIFY(results.wait(waitMs));
    QCOMPARE(results.last().at(2).toString(),
             QStringLiteral("certificate file %1 cannot be read").arg(settings.mqtt.caFile));

    // The system's certificates do not know this one.
    settings.mqtt.caFile.clear();
    dispatcher.sendTest(PushChannel::Mqtt, settings);
    QVERIFY(results.wait(waitMs));
    QCOMPARE(results.last().at(1).toBool(), false);
    QCOMPARE(results.last().at(2).toString(), QStringLiteral("secure connection failed"));
}

void TestMqttPush::unreachable()
{
    PushDispatcher dispatcher;
    QSignalSpy results(&dispatcher, &PushDispatcher::testFinished);
    QSignalSpy notSent(&dispatcher, &PushDispatcher::notSent);
    PushSettings settings = withMqtt(broker(MosquittoBroker().port()));
    dispatcher.sendTest(PushChannel::Mqtt, settings);
    QVERIFY(results.wait(waitMs));
    QCOMPARE(results.last().at(1).toBool(), false);
    QCOMPARE(results.last().at(2).toString(), QStringLiteral("connection refused"));

    settings.mqtt.host.clear();
    dispatcher.applySettings(settings);
    QVERIFY(notSent.wait(waitMs));
    QCOMPARE(notSent.last().at(1).toString(), QStringLiteral("no broker address set"));
}

QTEST_GUILESS_MAIN(TestMqttPush)
#include "tst_mqttpush.moc"
