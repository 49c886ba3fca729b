#include "mqttdiscovery.h"

#include "alertevent.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QString mqttTopicLevel(const QString &text)
{
    if (text.trimmed().isEmpty())
        return QString();
    const QString plain = text.normalized(QString::NormalizationForm_KD);
    QString out;
    for (const QChar c : plain) {
        if (c.isMark())
            continue;
        const char a = c.toLatin1();
        if ((a >= 'a' && a <= 'z') || (a >= '0' && a <= '9'))
            out += QLatin1Char(a);
        else if (a >= 'A' && a <= 'Z')
            out += QLatin1Char(char(a - 'A' + 'a'));
        else if (!out.endsWith(QLatin1Char('_')))
            out += QLatin1Char('_');
    }
    while (out.startsWith(QLatin1Char('_')))
        out.remove(0, 1);
    while (out.endsWith(QLatin1Char('_')))
        out.chop(1);
    if (out.isEmpty()) {
        const QByteArray hash = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1);
        out = QLatin1String("x") + QString::fromLatin1(hash.toHex().left(8));
    }
    return out;
}

MqttLayout::MqttLayout(const QString &discoveryPrefix, const QString &topicPrefix,
                       const QString &nodeId)
    : m_discovery(discoveryPrefix), m_prefix(topicPrefix), m_node(nodeId)
{
}

QByteArray MqttLayout::availabilityTopic() const
{
    return (m_prefix + QLatin1Char('/') + m_node + QLatin1String("/availability")).toUtf8();
}

QByteArray MqttLayout::cameraTopic(const QString &camera, const char *leaf) const
{
    return (m_prefix + QLatin1Char('/') + m_node + QLatin1Char('/') + mqttTopicLevel(camera) +
            QLatin1Char('/') + QLatin1String(leaf))
        .toUtf8();
}

QByteArray MqttLayout::motionTopic(const QString &camera) const
{
    return cameraTopic(camera, "motion");
}

QByteArray MqttLayout::levelTopic(const QString &camera) const
{
    return cameraTopic(camera, "level");
}

QByteArray MqttLayout::snapshotTopic(const QString &camera) const
{
    return cameraTopic(camera, "snapshot");
}

QByteArray MqttLayout::eventTopic(const QString &camera) const
{
    return cameraTopic(camera, "event");
}

QByteArray MqttLayout::homeAssistantStatusTopic() const
{
    return (m_discovery + QLatin1String("/status")).toUtf8();
}

QByteArray MqttLayout::testTopic() const
{
    return (m_prefix + QLatin1Char('/') + m_node + QLatin1String("/test")).toUtf8();
}

QVector<MqttLayout::Message> MqttLayout::discovery(const QString &camera) const
{
    const QString cam = mqttTopicLevel(camera);
    const QString deviceId = m_node + QLatin1Char('_') + cam;
    const QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{deviceId}},
        {QStringLiteral("name"), camera},
        {QStringLiteral("manufacturer"), QStringLiteral("Kelvane")},
        {QStringLiteral("model"), QStringLiteral("Orvella camera")},
    };
    auto common = [&](const QString &name, const QString &what) {
        return QJsonObject{
            {QStringLiteral("name"), name},
            {QStringLiteral("unique_id"), deviceId + QLatin1Char('_') + what},
            {QStringLiteral("availability_topic"), QString::fromUtf8(availabilityTopic())},
            {QStringLiteral("payload_available"), QStringLiteral("online")},
            {QStringLiteral("payload_not_available"), QStringLiteral("offline")},
            {QStringLiteral("device"), device},
        };
    };
    auto configTopic = [&](const char *component, const QString &what) {
        return (m_discovery + QLatin1Char('/') + QLatin1String(component) + QLatin1Char('/') +
                m_node + QLatin1Char('/') + cam + QLatin1Char('_') + what +
                QLatin1String("/config"))
            .toUtf8();
    };

    QJsonObject motion = common(QStringLiteral("Motion"), QStringLiteral("motion"));
    motion.insert(QStringLiteral("device_class"), QStringLiteral("motion"));
    motion.insert(QStringLiteral("state_topic"), QString::fromUtf8(motionTopic(camera)));
    motion.insert(QStringLiteral("payload_on"), QStringLiteral("ON"));
    motion.insert(QStringLiteral("payload_off"), QStringLiteral("OFF"));
    motion.insert(QStringLiteral("json_attributes_topic"), QString::fromUtf8(eventTopic(camera)));

    QJsonObject level = common(QStringLiteral("Level"), QStringLiteral("level"));
    level.insert(QStringLiteral("state_topic"), QString::fromUtf8(levelTopic(camera)));
    level.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
    level.insert(QStringLiteral("icon"), QStringLiteral("mdi:motion-sensor"));

    QJsonObject image = common(QStringLiteral("Snapshot"), QStringLiteral("snapshot"));
    image.insert(QStringLiteral("image_topic"), QString::fromUtf8(snapshotTopic(camera)));
    image.insert(QStringLiteral("content_type"), QStringLiteral("image/jpeg"));

    const auto json = [](const QJsonObject &o) {
        return QJsonDocument(o).toJson(QJsonDocument::Compact);
    };
    return {
        {configTopic("binary_sensor", QStringLiteral("motion")), json(motion)},
        {configTopic("sensor", QStringLiteral("level")), json(level)},
        {configTopic("image", QStringLiteral("snapshot")), json(image)},
    };
}

QByteArray alertEventJson(const AlertEvent &event)
{
    const QJsonObject o{
        {QStringLiteral("event_id"), event.id},
        {QStringLiteral("camera"), event.camera},
        {QStringLiteral("start"), isoUtc(event.start)},
        {QStringLiteral("peak_level"), event.peakLevel},
        {QStringLiteral("peak_time"),
         event.peakTime.isValid() ? QJsonValue(isoUtc(event.peakTime)) : QJsonValue()},
        {QStringLiteral("clip"),
         event.clipPath.isEmpty() ? QJsonValue() : QJsonValue(event.clipPath)},
    };
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
