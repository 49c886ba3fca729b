#ifndef ORVELLA_PUSHDISPATCHER_H
#define ORVELLA_PUSHDISPATCHER_H

#include "httppush.h"
#include "pushsettings.h"

#include <QHash>
#include <QMetaType>
#include <QNetworkAccessManager>
#include <QObject>
#include <QQueue>
#include <QSet>
#include <QStringList>
#include <QVector>

#include <memory>

class HttpDelivery;
class MqttPublisher;
struct AlertEvent;

enum class PushChannel { Mqtt, Ntfy, Webhook };
Q_DECLARE_METATYPE(PushChannel)

// "MQTT alert not sent: <reason>", "Push alert not sent: <reason>",
// "Webhook alert not sent: <reason>": the status bar's text for notSent.
QString pushNotSentText(PushChannel channel, const QString &reason);

// Hands events to the push channels that are on: each event's start goes
// out at once, at most one message per event and channel (MQTT also gets
// the updates and the end, as states). An HTTP push that certainly did not
// arrive is tried again after 1, 2, 4 and 8 s; one that may have arrived
// (a time-out or a connection closed after the request went out) is never
// sent again. MQTT messages wait for the broker while it is away.
class PushDispatcher : public QObject
{
    Q_OBJECT
public:
    explicit PushDispatcher(QObject *parent = nullptr);
    ~PushDispatcher() override;

    // Turns channels on and off; a changed MQTT setting reconnects.
    void applySettings(const PushSettings &settings);
    const PushSettings &settings() const { return m_settings; }

    // Announces the cameras to Home Assistant before their first event.
    void setCameras(const QStringList &cameras);

    void eventStarted(const AlertEvent &event);
    void eventUpdated(const AlertEvent &event);
    void eventEnded(const AlertEvent &event);

    // Sends a test message on one channel with the given settings (those of
    // the dialog, applied or not); testFinished tells how it went.
    void sendTest(PushChannel channel, const PushSettings &settings);

    // The MQTT publisher while that channel is on, else null.
    MqttPublisher *mqttPublisher() const { return m_mqtt.get(); }

    // Waits between HTTP attempts and the time-out of one; for tests.
    void setHttpTiming(const QVector<int> &retryDelaysMs, int timeoutMs);

signals:
    // The channel delivered the event's message.
    void sent(PushChannel channel, const QString &eventId);
    // A message was not delivered (yet); reason says why and what follows.
    void notSent(PushChannel channel, const QString &reason);
    void testFinished(PushChannel channel, bool ok, const QString &text);

private:
    void startHttp(PushChannel channel, const QString &eventId, const HttpPushRequest &request,
                   const QVector<int> &retryDelaysMs);
    bool remember(const QString &eventId);
    QNetworkAccessManager &network();

    PushSettings m_settings;
    QStringList m_cameras;
    // Made on first use: a network access manager starts Qt's bearer
    // plugins and their D-Bus thread, which a program without HTTP push
    // never needs.
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<MqttPublisher> m_mqtt;
    QString m_lastMqttProblem;
    QSet<QString> m_started;
    QQueue<QString> m_startedOrder;
    QVector<int> m_retryDelaysMs;
    int m_timeoutMs;
};

#endif
