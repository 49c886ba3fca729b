#ifndef ORVELLA_MQTTCONNECTION_H
#define ORVELLA_MQTTCONNECTION_H

#include <QByteArray>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVector>

#include <list>
#include <memory>

class QSocketNotifier;
struct mosquitto;
struct mosquitto_message;

// One message for the broker, always sent with QoS 1.
struct MqttMessage {
    QByteArray topic;
    QByteArray payload;
    bool retain = true;
    // While it waits, a newer message with the same topic and the same
    // non-empty key takes its place (the rising peak of one event).
    QString replaceKey;
    // Once handed to a connection that is then lost before the broker
    // confirmed it, it is reported lost instead of being sent again.
    bool atMostOnce = false;
    QString eventId; // reported with delivered and lost
};
Q_DECLARE_METATYPE(MqttMessage)

struct MqttConnectionSettings {
    QString host;
    int port = 1883;
    QString user;     // empty: no login
    QString password; // with user
    bool tls = false;
    QString caFile; // empty: the system's certificates
    QString clientId;
    // "online" goes here, retained, after each connect; "offline" is the last
    // will and is sent on stop(). Empty: neither.
    QByteArray availabilityTopic;
    // A message "online" here re-sends the retained messages.
    QByteArray rebirthTopic;
    int keepAliveS = 30;
    int connectTimeoutMs = 10000;
    // Waits before each try after a failed one; the last repeats. Empty: no
    // second try.
    QVector<int> reconnectDelaysMs{1000, 2000, 4000, 8000, 16000, 30000};
    // What is kept while the broker cannot be reached; beyond, the oldest go.
    int maxWaiting = 1000;
    qint64 maxWaitingBytes = 32 * 1024 * 1024;
};

// One MQTT client, driven by libmosquitto's own loop step from socket
// notifiers and timers of the thread it lives in. Messages wait in order
// until the broker confirms them and survive reconnects; retained ones the
// broker confirmed are sent again after every connect, since a restarted
// broker may have lost them. Use it from its own thread only.
class MqttConnection : public QObject
{
    Q_OBJECT
public:
    explicit MqttConnection(MqttConnectionSettings settings, QObject *parent = nullptr);
    ~MqttConnection() override;

    // libmosquitto's process-wide set-up; call before the first connection.
    static void initLibrary();

public slots:
    void start();
    void publish(const MqttMessage &message);
    // Publishes "offline", disconnects and stays disconnected.
    void stop();
    void setRetryTimes(const QVector<int> &reconnectDelaysMs, int connectTimeoutMs);

signals:
    void connectionChanged(bool connected);
    // A connect attempt failed or the connection was lost.
    void connectFailed(const QString &reason);
    void delivered(const QString &eventId, const QByteArray &topic);
    void lost(const QString &eventId, const QString &reason);
    // Messages not yet confirmed by the broker.
    void waitingChanged(int count);

private:
    struct Entry {
        MqttMessage message;
        int mid = -1; // handed to the connection under this id
    };

    void connectNow();
    void pump();
    void fail(const QString &reason);
    void teardown();
    void afterConnect();
    void resendRetained();
    void hand(Entry &entry);
    void sendDirect(const QByteArray &topic, const QByteArray &payload, bool retain);
    void reportWaiting();
    std::list<Entry>::iterator drop(std::list<Entry>::iterator it);

    static void onConnect(mosquitto *m, void *self, int rc);
    static void onDisconnect(mosquitto *m, void *self, int rc);
    static void onPublish(mosquitto *m, void *self, int mid);
    static void onMessage(mosquitto *m, void *self, const mosquitto_message *message);

    MqttConnectionSettings m_settings;
    mosquitto *m_mosq = nullptr;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    // Children, so that they move to the connection's thread with it.
    QTimer m_loopTimer;
    QTimer m_connectTimer;
    QTimer m_reconnectTimer;
    bool m_connected = false;
    bool m_stopped = false;
    bool m_rebirth = false;
    int m_failures = 0;
    QString m_refusal; // the broker's reason for refusing the login
    std::list<Entry> m_waiting;
    qint64 m_waitingBytes = 0;
    int m_reportedWaiting = -1;
    QMap<QByteArray, QByteArray> m_retained; // confirmed retained messages
};

// Why a libmosquitto call or loop step failed, in a few words; errnum is
// errno right after it.
QString mqttErrorText(int rc, int errnum);

#endif
