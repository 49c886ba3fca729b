#ifndef ORVELLA_TEST_MQTTPROBE_H
#define ORVELLA_TEST_MQTTPROBE_H

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>

#include <atomic>

struct mosquitto;

// A subscriber to everything on a broker, on libmosquitto's own thread. It
// keeps a session on the broker (fixed client id, not clean), so messages
// published while it reconnects after a broker restart still reach it.
class MqttProbe : public QObject
{
    Q_OBJECT
public:
    struct Message {
        QByteArray topic;
        QByteArray payload;
        bool retained = false;
        qint64 arrivedMs = 0;
    };

    MqttProbe(quint16 port, const QByteArray &clientId, QObject *parent = nullptr);
    ~MqttProbe() override;

    // True once the broker confirmed the subscription.
    bool isSubscribed() const { return m_subscribed; }
    QList<Message> messages() const;
    QList<Message> on(const QByteArray &topic) const;
    // The payload last seen on topic.
    QByteArray last(const QByteArray &topic) const;
    // The payloads seen on topic, in order; liveOnly leaves out retained
    // messages the broker replays for a new subscription.
    QList<QByteArray> payloads(const QByteArray &topic, bool liveOnly = false) const;
    void publish(const QByteArray &topic, const QByteArray &payload);
    // Publishes a marker and waits until it comes back: the broker has then
    // taken the probe's acknowledgements of everything before it, so a
    // broker restart does not deliver those messages again.
    bool sync(int timeoutMs);

signals:
    void arrived();

private:
    static void onConnect(mosquitto *m, void *self, int rc);
    static void onSubscribe(mosquitto *m, void *self, int mid, int count, const int *granted);
    static void onMessage(mosquitto *m, void *self, const struct mosquitto_message *message);

    mosquitto *m_mosq = nullptr;
    mutable QMutex m_mutex;
    QList<Message> m_messages;
    std::atomic<bool> m_subscribed{false};
    int m_syncs = 0;
};

#endif
