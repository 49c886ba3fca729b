#include "pushdispatcher.h"

#include "alertevent.h"
#include "httpdelivery.h"
#include "httppush.h"
#include "mqttpublisher.h"

namespace
{

// How many event ids are remembered to keep starts from going out twice.
constexpr int rememberedEvents = 1000;

QString channelWord(PushChannel channel)
{
    switch (channel) {
    case PushChannel::Mqtt:
        return QStringLiteral("MQTT");
    case PushChannel::Ntfy:
        return QStringLiteral("Push");
    case PushChannel::Webhook:
        return QStringLiteral("Webhook");
    }
    return QString();
}

struct Target {
    QUrl url;
    QString problem;
};

Target pushTarget(const QString &text)
{
    const QString problem = pushUrlProblem(text);
    return {problem.isEmpty() ? QUrl(text.trimmed()) : QUrl(), problem};
}

// The Authorization header for the push topic, or why it cannot be made.
QByteArray ntfyAuthorization(const NtfySettings &settings, QString *problem)
{
    if (settings.passwordFile.isEmpty())
        return QByteArray();
    const std::optional<QString> secret = readSecretFile(settings.passwordFile, problem);
    return secret ? pushAuthorization(settings.user, *secret) : QByteArray();
}

AlertEvent testEvent()
{
    AlertEvent event;
    event.camera = QStringLiteral("Orvella test");
    event.start = QDateTime::currentDateTimeUtc();
    event.id = QStringLiteral("test-") + isoUtc(event.start);
    event.peakTime = event.start;
    return event;
}

} // namespace

QString pushNotSentText(PushChannel channel, const QString &reason)
{
    return channelWord(channel) + QStringLiteral(" alert not sent: ") + reason;
}

PushDispatcher::PushDispatcher(QObject *parent)
    : QObject(parent), m_retryDelaysMs(HttpDelivery::defaultRetryDelaysMs),
      m_timeoutMs(HttpDelivery::defaultTimeoutMs)
{
    qRegisterMetaType<PushChannel>();
}

PushDispatcher::~PushDispatcher()
{
    // Before the network access manager they use goes.
    qDeleteAll(findChildren<HttpDelivery *>(QString(), Qt::FindDirectChildrenOnly));
}

QNetworkAccessManager &PushDispatcher::network()
{
    if (!m_network)
        m_network = std::make_unique<QNetworkAccessManager>();
    return *m_network;
}

void PushDispatcher::setHttpTiming(const QVector<int> &retryDelaysMs, int timeoutMs)
{
    m_retryDelaysMs = retryDelaysMs;
    m_timeoutMs = timeoutMs;
}

void PushDispatcher::applySettings(const PushSettings &settings)
{
    const bool mqttChanged = settings.mqtt != m_settings.mqtt || (settings.mqtt.enabled && !m_mqtt);
    m_settings = settings;
    if (!mqttChanged)
        return;
    m_mqtt.reset();
    if (!settings.mqtt.enabled)
        return;
    m_mqtt = std::make_unique<MqttPublisher>(settings.mqtt);
    m_lastMqttProblem.clear();
    // Every failed try while alerts wait, else only news: the first failure
    // and a changed reason.
    connect(m_mqtt.get(), &MqttPublisher::problem, this, [this](const QString &reason) {
        const bool waiting = m_mqtt && m_mqtt->waiting() > 0;
        if (!waiting && reason == m_lastMqttProblem)
            return;
        m_lastMqttProblem = reason;
        emit notSent(PushChannel::Mqtt,
                     waiting ? reason + QStringLiteral("; alerts wait until the broker is back")
                             : reason);
    });
    connect(m_mqtt.get(), &MqttPublisher::connectionChanged, this, [this](bool connected) {
        if (connected)
            m_lastMqttProblem.clear();
    });
    connect(m_mqtt.get(), &MqttPublisher::eventSent, this,
            [this](const QString &eventId) { emit sent(PushChannel::Mqtt, eventId); });
    connect(m_mqtt.get(), &MqttPublisher::eventNotSent, this,
            [this](const QString &, const QString &reason) {
                emit notSent(PushChannel::Mqtt, reason);
            });
    for (const QString &camera : qAsConst(m_cameras))
        m_mqtt->announceCamera(camera);
}

void PushDispatcher::setCameras(const QStringList &cameras)
{
    m_cameras = cameras;
    if (m_mqtt) {
        for (const QString &camera : cameras)
            m_mqtt->announceCamera(camera);
    }
}

bool PushDispatcher::remember(const QString &eventId)
{
    if (m_started.contains(eventId))
        return false;
    m_started.insert(eventId);
    m_startedOrder.enqueue(eventId);
    while (m_startedOrder.size() > rememberedEvents)
        m_started.remove(m_startedOrder.dequeue());
    return true;
}

void PushDispatcher::eventStarted(const AlertEvent &event)
{
    if (!remember(event.id))
        return;
    if (m_mqtt)
        m_mqtt->eventStarted(event);
    if (m_settings.ntfy.enabled) {
        const Target target = pushTarget(m_settings.ntfy.url);
        QString problem = target.problem;
        const QByteArray authorization =
            problem.isEmpty() ? ntfyAuthorization(m_settings.ntfy, &problem) : QByteArray();
        if (!problem.isEmpty())
            emit notSent(PushChannel::Ntfy, problem);
        else
            startHttp(PushChannel::Ntfy, event.id,
                      ntfyRequest(event, target.url, authorization, m_settings.ntfy.attachSnapshot),
                      m_retryDelaysMs);
    }
    if (m_settings.webhook.enabled) {
        const Target target = pushTarget(m_settings.webhook.url);
        if (!target.problem.isEmpty())
            emit notSent(PushChannel::Webhook, target.problem);
        else
            startHttp(PushChannel::Webhook, event.id, webhookRequest(event, target.url),
                      m_retryDelaysMs);
    }
}

void PushDispatcher::eventUpdated(const AlertEvent &event)
{
    if (m_mqtt)
        m_mqtt->eventUpdated(event);
}

void PushDispatcher::eventEnded(const AlertEvent &event)
{
    if (m_mqtt)
        m_mqtt->eventEnded(event);
}

void PushDispatcher::startHttp(PushChannel channel, const QString &eventId,
                               const HttpPushRequest &request, const QVector<int> &retryDelaysMs)
{
    auto *delivery = new HttpDelivery(network(), request, retryDelaysMs, m_timeoutMs, this);
    connect(delivery, &HttpDelivery::attemptFailed, this,
            [this, channel](const QString &reason, int retryInMs) {
                emit notSent(channel, attemptFailureText(reason, retryInMs, false));
            });
    connect(delivery, &HttpDelivery::finished, this,
            [this, channel, eventId, delivery](bool delivered, const QString &reason) {
                delivery->deleteLater();
                if (delivered)
                    emit sent(channel, eventId);
                else
                    emit notSent(channel, reason);
            });
    delivery->start();
}

void PushDispatcher::sendTest(PushChannel channel, const PushSettings &settings)
{
    // Always from the event loop, after the caller has shown that a test runs.
    auto report = [this, channel](bool ok, const QString &text) {
        QMetaObject::invokeMethod(
            this, [this, channel, ok, text] { emit testFinished(channel, ok, text); },
            Qt::QueuedConnection);
    };
    auto httpTest = [this, report](const HttpPushRequest &request) {
        auto *delivery = new HttpDelivery(network(), request, {}, m_timeoutMs, this);
        connect(delivery, &HttpDelivery::finished, this,
                [delivery, report](bool delivered, const QString &reason) {
                    delivery->deleteLater();
                    report(delivered,
                           delivered ? QStringLiteral("test message delivered") : reason);
                });
        delivery->start();
    };
    switch (channel) {
    case PushChannel::Mqtt: {
        auto *test = new MqttTestSend(settings.mqtt, this);
        connect(test, &MqttTestSend::finished, this, [test, report](bool ok, const QString &text) {
            test->deleteLater();
            report(ok, text);
        });
        return;
    }
    case PushChannel::Ntfy: {
        const Target target = pushTarget(settings.ntfy.url);
        QString problem = target.problem;
        const QByteArray authorization =
            problem.isEmpty() ? ntfyAuthorization(settings.ntfy, &problem) : QByteArray();
        if (!problem.isEmpty())
            report(false, problem);
        else
            httpTest(ntfyTestRequest(target.url, authorization));
        return;
    }
    case PushChannel::Webhook: {
        const Target target = pushTarget(settings.webhook.url);
        if (!target.problem.isEmpty())
            report(false, target.problem);
        else
            httpTest(webhookRequest(testEvent(), target.url));
        return;
    }
    }
}
