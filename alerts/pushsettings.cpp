#include "pushsettings.h"

#include "mqttdiscovery.h"

#include <QFile>
#include <QHostInfo>
#include <QSettings>

bool MqttSettings::operator==(const MqttSettings &o) const
{
    return enabled == o.enabled && host == o.host && port == o.port && user == o.user &&
           passwordFile == o.passwordFile && tls == o.tls && caFile == o.caFile &&
           discoveryPrefix == o.discoveryPrefix && topicPrefix == o.topicPrefix &&
           nodeId == o.nodeId;
}

bool NtfySettings::operator==(const NtfySettings &o) const
{
    return enabled == o.enabled && url == o.url && user == o.user &&
           passwordFile == o.passwordFile && attachSnapshot == o.attachSnapshot;
}

namespace
{

bool readBool(const QSettings &s, const QString &key, bool fallback)
{
    const QVariant v = s.value(key);
    if (!v.isValid())
        return fallback;
    const QString text = v.toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("0"))
        return false;
    return fallback;
}

QString readText(const QSettings &s, const QString &key, const QString &fallback)
{
    const QVariant v = s.value(key);
    return v.isValid() ? v.toString().trimmed() : fallback;
}

// A topic level must not hold the MQTT wildcards or be empty.
QString readTopicLevel(const QSettings &s, const QString &key, const QString &fallback)
{
    const QString text = readText(s, key, fallback);
    if (text.isEmpty() || text.contains(QLatin1Char('#')) || text.contains(QLatin1Char('+')))
        return fallback;
    return text;
}

} // namespace

PushSettings PushSettings::load(const QSettings &s)
{
    PushSettings p;
    p.mqtt.enabled = readBool(s, QStringLiteral("push/mqtt/enabled"), false);
    p.mqtt.host = readText(s, QStringLiteral("push/mqtt/host"), QString());
    bool ok = false;
    const int port = s.value(QStringLiteral("push/mqtt/port")).toInt(&ok);
    if (ok && port >= 1 && port <= 65535)
        p.mqtt.port = port;
    p.mqtt.user = readText(s, QStringLiteral("push/mqtt/user"), QString());
    p.mqtt.passwordFile = readText(s, QStringLiteral("push/mqtt/passwordFile"), QString());
    p.mqtt.tls = readBool(s, QStringLiteral("push/mqtt/tls"), false);
    p.mqtt.caFile = readText(s, QStringLiteral("push/mqtt/caFile"), QString());
    p.mqtt.discoveryPrefix =
        readTopicLevel(s, QStringLiteral("push/mqtt/discoveryPrefix"), p.mqtt.discoveryPrefix);
    p.mqtt.topicPrefix =
        readTopicLevel(s, QStringLiteral("push/mqtt/topicPrefix"), p.mqtt.topicPrefix);
    p.mqtt.nodeId = mqttTopicLevel(readText(s, QStringLiteral("push/mqtt/nodeId"), QString()));

    p.ntfy.enabled = readBool(s, QStringLiteral("push/ntfy/enabled"), false);
    p.ntfy.url = readText(s, QStringLiteral("push/ntfy/url"), QString());
    p.ntfy.user = readText(s, QStringLiteral("push/ntfy/user"), QString());
    p.ntfy.passwordFile = readText(s, QStringLiteral("push/ntfy/passwordFile"), QString());
    p.ntfy.attachSnapshot = readBool(s, QStringLiteral("push/ntfy/attachSnapshot"), true);

    p.webhook.enabled = readBool(s, QStringLiteral("push/webhook/enabled"), false);
    p.webhook.url = readText(s, QStringLiteral("push/webhook/url"), QString());
    return p;
}

PushSettings PushSettings::load()
{
    const QSettings settings(QStringLiteral("Kelvane"), QStringLiteral("Orvella"));
    return load(settings);
}

void PushSettings::save(QSettings &s) const
{
    s.setValue(QStringLiteral("push/mqtt/enabled"), mqtt.enabled);
    s.setValue(QStringLiteral("push/mqtt/host"), mqtt.host);
    s.setValue(QStringLiteral("push/mqtt/port"), mqtt.port);
    s.setValue(QStringLiteral("push/mqtt/user"), mqtt.user);
    s.setValue(QStringLiteral("push/mqtt/passwordFile"), mqtt.passwordFile);
    s.setValue(QStringLiteral("push/mqtt/tls"), mqtt.tls);
    s.setValue(QStringLiteral("push/mqtt/caFile"), mqtt.caFile);
    s.setValue(QStringLiteral("push/mqtt/discoveryPrefix"), mqtt.discoveryPrefix);
    s.setValue(QStringLiteral("push/mqtt/topicPrefix"), mqtt.topicPrefix);
    s.setValue(QStringLiteral("push/mqtt/nodeId"), mqtt.nodeId);
    s.setValue(QStringLiteral("push/ntfy/enabled"), ntfy.enabled);
    s.setValue(QStringLiteral("push/ntfy/url"), ntfy.url);
    s.setValue(QStringLiteral("push/ntfy/user"), ntfy.user);
    s.setValue(QStringLiteral("push/ntfy/passwordFile"), ntfy.passwordFile);
    s.setValue(QStringLiteral("push/ntfy/attachSnapshot"), ntfy.attachSnapshot);
    s.setValue(QStringLiteral("push/webhook/enabled"), webhook.enabled);
    s.setValue(QStringLiteral("push/webhook/url"), webhook.url);
}

void PushSettings::save() const
{
    QSettings settings(QStringLiteral("Kelvane"), QStringLiteral("Orvella"));
    save(settings);
}

std::optional<QString> readSecretFile(const QString &path, QString *error)
{
    auto fail = [error](const QString &why) -> std::optional<QString> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("no password file chosen"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("password file %1 cannot be read").arg(path));
    // A password file holds one line; a large file is the wrong file.
    const QByteArray head = file.read(4096);
    if (!file.atEnd())
        return fail(QStringLiteral("password file %1 is too large").arg(path));
    QByteArray line = head;
    const int newline = line.indexOf('\n');
    if (newline >= 0)
        line.truncate(newline);
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

QString defaultMqttNodeId()
{
    const QString host = mqttTopicLevel(QHostInfo::localHostName());
    return host.isEmpty() ? QStringLiteral("orvella") : QStringLiteral("orvella_") + host;
}
