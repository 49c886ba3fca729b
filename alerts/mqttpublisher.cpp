#include "mqttpublisher.h"

#include "alertevent.h"

#include <QFileInfo>
#include <QThread>

namespace
{

// A retained state; a newer one with the same key replaces it while waiting.
MqttMessage state(const QByteArray &topic, const QByteArray &payload,
                  const QString &replaceKey = QString())
{
    MqttMessage m;
    m.topic = topic;
    m.payload = payload;
    m.replaceKey = replaceKey;
    return m;
}

// The one message an event's start gives: news, not state.
MqttMessage news(const QByteArray &topic, const QByteArray &payload, const QString &eventId)
{
    MqttMessage m;
    m.topic = topic;
    m.payload = payload;
    m.retain = false;
    m.atMostOnce = true;
    m.eventId = eventId;
    return m;
}

// Starts link on a new thread; the thread deletes it when it ends.
QThread *startOnThread(MqttConnection *link, QObject *owner)
{
    auto *thread = new QThread(owner);
    thread->setObjectName(QStringLiteral("MQTT"));
    link->moveToThread(thread);
    QObject::connect(thread, &QThread::finished, link, &QObject::deleteLater);
    thread->start();
    QMetaObject::invokeMethod(link, &MqttConnection::start, Qt::QueuedConnection);
    return thread;
}

// Stops link and its thread. A thread still inside a name lookup is left to
// end by itself rather than holding up the caller.
void stopThread(QThread *thread, MqttConnection *link)
{
    // The thread ends only after stop() has said goodbye to the broker.
    QMetaObject::invokeMethod(
        link,
        [link] {
            link->stop();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    if (!thread->wait(2000)) {
        thread->setParent(nullptr);
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    }
}

} // namespace

QString effectiveMqttNodeId(const MqttSettings &settings)
{
    return settings.nodeId.isEmpty() ? defaultMqttNodeId() : settings.nodeId;
}

std::optional<MqttConnectionSettings>
mqttConnectionSettings(const MqttSettings &settings, const MqttLayout &layout, QString *error)
{
    if (settings.host.trimmed().isEmpty()) {
        if (error)
            *error = QStringLiteral("no broker address set");
        return std::nullopt;
    }
    MqttConnectionSettings c;
    c.host = settings.host.trimmed();
    c.port = settings.port;
    c.user = settings.user;
    if (!settings.passwordFile.isEmpty()) {
        const std::optional<QString> password = readSecretFile(settings.passwordFile, error);
        if (!password)
            return std::nullopt;
        c.password = *password;
    }
    c.tls = settings.tls;
    c.caFile = settings.caFile;
    if (c.tls && !c.caFile.isEmpty() && !QFileInfo(c.caFile).isReadable()) {
        if (error)
            *error = QStringLiteral("certificate file %1 cannot be read").arg(c.caFile);
        return std::nullopt;
    }
    c.clientId = layout.nodeId();
    c.availabilityTopic = layout.availabilityTopic();
    c.rebirthTopic = layout.homeAssistantStatusTopic();
    return c;
}

MqttPublisher::MqttPublisher(const MqttSettings &settings, QObject *parent)
    : QObject(parent),
      m_layout(settings.discoveryPrefix, settings.topicPrefix, effectiveMqttNodeId(settings))
{
    qRegisterMetaType<MqttMessage>();
    QString error;
    const std::optional<MqttConnectionSettings> connection =
        mqttConnectionSettings(settings, m_layout, &error);
    if (!connection) {
        // After the caller had the chance to connect to problem().
        QMetaObject::invokeMethod(
            this, [this, error] { emit problem(error); }, Qt::QueuedConnection);
        return;
    }
    m_link = new MqttConnection(*connection);
    connect(m_link, &MqttConnection::connectionChanged, this, [this](bool connected) {
        m_connected = connected;
        emit connectionChanged(connected);
    });
    connect(m_link, &MqttConnection::connectFailed, this, &MqttPublisher::problem);
    connect(m_link, &MqttConnection::delivered, this, [this](const QString &eventId) {
        if (!eventId.isEmpty())
            emit eventSent(eventId);
    });
    connect(m_link, &MqttConnection::lost, this,
            [this](const QString &eventId, const QString &reason) {
                if (!eventId.isEmpty())
                    emit eventNotSent(eventId, reason);
            });
    connect(m_link, &MqttConnection::waitingChanged, this, [this](int count) {
        m_waiting = count;
        emit waitingChanged(count);
    });
    m_thread = startOnThread(m_link, this);
}

MqttPublisher::~MqttPublisher()
{
    if (m_thread)
        stopThread(m_thread, m_link);
}

void MqttPublisher::setReconnectDelays(const QVector<int> &delaysMs, int connectTimeoutMs)
{
    if (!m_link)
        return;
    MqttConnection *link = m_link;
    QMetaObject::invokeMethod(link, [link, delaysMs, connectTimeoutMs] {
        link->setRetryTimes(delaysMs, connectTimeoutMs);
    });
}

void MqttPublisher::send(const MqttMessage &message)
{
    if (!m_link)
        return;
    MqttConnection *link = m_link;
    QMetaObject::invokeMethod(link, [link, message] { link->publish(message); });
}

void MqttPublisher::announceCamera(const QString &camera)
{
    if (m_announced.contains(camera))
        return;
    m_announced.insert(camera);
    for (const MqttLayout::Message &config : m_layout.discovery(camera))
        send(state(config.topic, config.payload, QStringLiteral("config")));
}

void MqttPublisher::eventStarted(const AlertEvent &event)
{
    announceCamera(event.camera);
    m_peaks.insert(event.id, event.peakLevel);
    // The event message first, so that whatever reacts to the motion state
    // finds the event's details and snapshot already there.
    send(news(m_layout.eventTopic(event.camera), alertEventJson(event), event.id));
    sendPeak(event);
    send(state(m_layout.motionTopic(event.camera), "ON"));
}

void MqttPublisher::eventUpdated(const AlertEvent &event)
{
    const auto it = m_peaks.find(event.id);
    if (it == m_peaks.end() || event.peakLevel <= it.value())
        return;
    it.value() = event.peakLevel;
    sendPeak(event);
}

void MqttPublisher::sendPeak(const AlertEvent &event)
{
    const QByteArray jpeg = event.snapshotJpeg();
    if (!jpeg.isEmpty())
        send(state(m_layout.snapshotTopic(event.camera), jpeg, event.id));
    send(state(m_layout.levelTopic(event.camera), QByteArray::number(event.peakLevel), event.id));
}

void MqttPublisher::eventEnded(const AlertEvent &event)
{
    if (m_peaks.remove(event.id) == 0)
        return;
    eventUpdated(event);
    send(state(m_layout.levelTopic(event.camera), "0"));
    send(state(m_layout.motionTopic(event.camera), "OFF"));
}

MqttTestSend::MqttTestSend(const MqttSettings &settings, QObject *parent) : QObject(parent)
{
    qRegisterMetaType<MqttMessage>();
    const MqttLayout layout(settings.discoveryPrefix, settings.topicPrefix,
                            effectiveMqttNodeId(settings));
    QString error;
    std::optional<MqttConnectionSettings> connection =
        mqttConnectionSettings(settings, layout, &error);
    if (!connection) {
        QMetaObject::invokeMethod(
            this, [this, error] { finish(false, error); }, Qt::QueuedConnection);
        return;
    }
    // A client of its own beside the running one, with no will and no
    // second try.
    connection->clientId += QLatin1String("_test");
    connection->availabilityTopic.clear();
    connection->rebirthTopic.clear();
    connection->reconnectDelaysMs.clear();
    m_link = new MqttConnection(*connection);
    connect(m_link, &MqttConnection::connectFailed, this,
            [this](const QString &reason) { finish(false, reason); });
    connect(m_link, &MqttConnection::lost, this,
            [this](const QString &, const QString &reason) { finish(false, reason); });
    connect(m_link, &MqttConnection::delivered, this,
            [this] { finish(true, QStringLiteral("the broker took the test message")); });
    m_thread = startOnThread(m_link, this);
    const MqttMessage message = news(layout.testTopic(), "Orvella test", QStringLiteral("test"));
    MqttConnection *link = m_link;
    QMetaObject::invokeMethod(link, [link, message] { link->publish(message); });
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this,
            [this] { finish(false, QStringLiteral("no answer from the broker (timed out)")); });
    m_deadline.start(15000);
}

MqttTestSend::~MqttTestSend()
{
    if (m_thread)
        stopThread(m_thread, m_link);
}

void MqttTestSend::finish(bool ok, const QString &text)
{
    if (m_done)
        return;
    m_done = true;
    m_deadline.stop();
    emit finished(ok, text);
}
