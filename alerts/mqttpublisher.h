#ifndef ORVELLA_MQTTPUBLISHER_H
#define ORVELLA_MQTTPUBLISHER_H

#include "mqttconnection.h"
#include "mqttdiscovery.h"
#include "pushsettings.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

class QThread;
struct AlertEvent;

// Publishes events for Home Assistant: discovery for each camera, then per
// event the event message, the snapshot, the level and the motion state
// (see MqttLayout). The connection runs on a thread of its own, so nothing
// here waits for the network; it connects at construction and reconnects by
// itself.
class MqttPublisher : public QObject
{
    Q_OBJECT
public:
    explicit MqttPublisher(const MqttSettings &settings, QObject *parent = nullptr);
    // Says "offline" and disconnects.
    ~MqttPublisher() override;

    // Publishes the camera's discovery messages once.
    void announceCamera(const QString &camera);
    void eventStarted(const AlertEvent &event);
    // Sends the level and snapshot again when the peak rose.
    void eventUpdated(const AlertEvent &event);
    void eventEnded(const AlertEvent &event);

    bool isConnected() const { return m_connected; }
    int waiting() const { return m_waiting; }
    const MqttLayout &layout() const { return m_layout; }

    // Waits before each reconnect attempt (the last repeats) and for an
    // answer to a connect; for tests.
    void setReconnectDelays(const QVector<int> &delaysMs, int connectTimeoutMs);

signals:
    void connectionChanged(bool connected);
    // Why the broker cannot be reached, or why the settings are unusable.
    void problem(const QString &reason);
    // The broker confirmed the event's message.
    void eventSent(const QString &eventId);
    void eventNotSent(const QString &eventId, const QString &reason);
    void waitingChanged(int count);

private:
    void send(const MqttMessage &message);
    void sendPeak(const AlertEvent &event);

    MqttLayout m_layout;
    QThread *m_thread = nullptr;
    MqttConnection *m_link = nullptr;
    QSet<QString> m_announced;
    QHash<QString, int> m_peaks; // running events: id -> level last sent
    bool m_connected = false;
    int m_waiting = 0;
};

// The settings for a broker connection from the user's, with the password
// read from its file; on failure nothing, and why in error.
std::optional<MqttConnectionSettings>
mqttConnectionSettings(const MqttSettings &settings, const MqttLayout &layout, QString *error);

// The node id in effect: the one set, or defaultMqttNodeId().
QString effectiveMqttNodeId(const MqttSettings &settings);

// "Send test": connects once with the given settings, publishes a message on
// the test topic and reports whether the broker confirmed it.
class MqttTestSend : public QObject
{
    Q_OBJECT
public:
    explicit MqttTestSend(const MqttSettings &settings, QObject *parent = nullptr);
    ~MqttTestSend() override;

signals:
    void finished(bool ok, const QString &text);

private:
    void finish(bool ok, const QString &text);

    QThread *m_thread = nullptr;
    MqttConnection *m_link = nullptr;
    QTimer m_deadline;
    bool m_done = false;
};

#endif
