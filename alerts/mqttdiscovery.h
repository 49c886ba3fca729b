#ifndef ORVELLA_MQTTDISCOVERY_H
#define ORVELLA_MQTTDISCOVERY_H

#include <QByteArray>
#include <QString>
#include <QVector>

struct AlertEvent;

// Free text as one topic level and entity id part: lower case ASCII letters,
// digits and "_" (accents dropped, everything else "_"); empty text stays
// empty, text with nothing usable becomes "x" and a short hash.
QString mqttTopicLevel(const QString &text);

// The topics one program publishes on, and the Home Assistant discovery
// messages that describe them. Per camera:
//   <prefix>/<node>/<camera>/motion    "ON" / "OFF", retained
//   <prefix>/<node>/<camera>/level     peak level of the running event, 0 after, retained
//   <prefix>/<node>/<camera>/snapshot  JPEG of the peak tick, retained
//   <prefix>/<node>/<camera>/event     one JSON object per event, at its start
// and <prefix>/<node>/availability, "online" / "offline" (the last will).
class MqttLayout
{
public:
    MqttLayout(const QString &discoveryPrefix, const QString &topicPrefix, const QString &nodeId);

    QByteArray availabilityTopic() const;
    QByteArray motionTopic(const QString &camera) const;
    QByteArray levelTopic(const QString &camera) const;
    QByteArray snapshotTopic(const QString &camera) const;
    QByteArray eventTopic(const QString &camera) const;
    // Where Home Assistant says "online" when it starts.
    QByteArray homeAssistantStatusTopic() const;
    // Where "Send test" publishes.
    QByteArray testTopic() const;

    struct Message {
        QByteArray topic;
        QByteArray payload;
    };
    // The retained config messages for the camera's motion binary sensor,
    // level sensor and snapshot image.
    QVector<Message> discovery(const QString &camera) const;

    QString nodeId() const { return m_node; }

private:
    QByteArray cameraTopic(const QString &camera, const char *leaf) const;

    QString m_discovery;
    QString m_prefix;
    QString m_node;
};

// The event as one compact JSON object: event_id, camera, start, peak_level,
// peak_time and clip (null until known); times in UTC, ISO 8601.
QByteArray alertEventJson(const AlertEvent &event);

#endif
