#include "mqttprobe.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QTest>

#include <mosquitto.h>

MqttProbe::MqttProbe(quint16 port, const QByteArray &clientId, QObject *parent) : QObject(parent)
{
    mosquitto_lib_init();
    m_mosq = mosquitto_new(clientId.constData(), false, this);
    mosquitto_connect_callback_set(m_mosq, &MqttProbe::onConnect);
    mosquitto_subscribe_callback_set(m_mosq, &MqttProbe::onSubscribe);
    mosquitto_message_callback_set(m_mosq, &MqttProbe::onMessage);
    mosquitto_reconnect_delay_set(m_mosq, 1, 1, false);
    mosquitto_connect_async(m_mosq, "127.0.0.1", port, 30);
    mosquitto_loop_start(m_mosq);
}

MqttProbe::~MqttProbe()
{
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
    mosquitto_destroy(m_mosq);
}

QList<MqttProbe::Message> MqttProbe::messages() const
{
    QMutexLocker lock(&m_mutex);
    return m_messages;
}

QList<MqttProbe::Message> MqttProbe::on(const QByteArray &topic) const
{
    QList<Message> found;
    for (const Message &m : messages()) {
        if (m.topic == topic)
            found.append(m);
    }
    return found;
}

QByteArray MqttProbe::last(const QByteArray &topic) const
{
    const QList<Message> found = on(topic);
    return found.isEmpty() ? QByteArray() : found.last().payload;
}

QList<QByteArray> MqttProbe::payloads(const QByteArray &topic, bool liveOnly) const
{
    QList<QByteArray> found;
    for (const Message &m : on(topic)) {
        if (!liveOnly || !m.retained)
            found.append(m.payload);
    }
    return found;
}

void MqttProbe::publish(const QByteArray &topic, const QByteArray &payload)
{
    mosquitto_publish(m_mosq, nullptr, topic.constData(), payload.size(), payload.constData(), 1,
                      false);
}

bool MqttProbe::sync(int timeoutMs)
{
    const QByteArray marker = QByteArray::number(++m_syncs);
    publish("probe/sync", marker);
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (last("probe/sync") == marker)
            return true;
        QTest::qWait(20);
    }
    return false;
}

void MqttProbe::onConnect(mosquitto *m, void *, int rc)
{
    if (rc == 0)
        mosquitto_subscribe(m, nullptr, "#", 1);
}

void MqttProbe::onSubscribe(mosquitto *, void *self, int, int, const int *)
{
    static_cast<MqttProbe *>(self)->m_subscribed = true;
}

void MqttProbe::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *probe = static_cast<MqttProbe *>(self);
    Message m;
    m.topic = message->topic;
    m.payload = QByteArray(static_cast<const char *>(message->payload), message->payloadlen);
    m.retained = message->retain;
    m.arrivedMs = QDateTime::currentMSecsSinceEpoch();
    {
        QMutexLocker lock(&probe->m_mutex);
        probe->m_messages.append(m);
    }
    QMetaObject::invokeMethod(probe, &MqttProbe::arrived, Qt::QueuedConnection);
}
