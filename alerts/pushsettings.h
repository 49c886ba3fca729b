#ifndef ORVELLA_PUSHSETTINGS_H
#define ORVELLA_PUSHSETTINGS_H

#include <QString>

#include <optional>

class QSettings;

// The broker that MQTT alerts and Home Assistant discovery go to.
struct MqttSettings {
    bool enabled = false;
    QString host;
    int port = 1883;
    QString user;         // empty: no login
    QString passwordFile; // the password is the file's first line
    bool tls = false;     // checked against the system's certificates...
    QString caFile;       // ...or, when set, against this PEM file only
    QString discoveryPrefix = QStringLiteral("homeassistant");
    QString topicPrefix = QStringLiteral("orvella");
    QString nodeId; // empty: made from the machine's host name

    bool operator==(const MqttSettings &o) const;
    bool operator!=(const MqttSettings &o) const { return !(*this == o); }
};

// A push service that takes a message by HTTP at a topic URL, with the
// snapshot attached.
struct NtfySettings {
    bool enabled = false;
    QString url;          // the topic, e.g. https://ntfy.sh/my-cameras
    QString user;         // with a password file: basic login...
    QString passwordFile; // ...without a user: the file holds an access token
    bool attachSnapshot = true;

    bool operator==(const NtfySettings &o) const;
    bool operator!=(const NtfySettings &o) const { return !(*this == o); }
};

// A URL that is sent one JSON object per event.
struct WebhookSettings {
    bool enabled = false;
    QString url;

    bool operator==(const WebhookSettings &o) const { return enabled == o.enabled && url == o.url; }
    bool operator!=(const WebhookSettings &o) const { return !(*this == o); }
};

// Every push channel, each off until the user turns it on. Passwords never
// live here, only the paths of files holding them.
struct PushSettings {
    MqttSettings mqtt;
    NtfySettings ntfy;
    WebhookSettings webhook;

    bool anyEnabled() const { return mqtt.enabled || ntfy.enabled || webhook.enabled; }

    // Reads the "push/..." keys; a missing or unusable value keeps its default.
    static PushSettings load(const QSettings &settings);
    // From QSettings("Kelvane", "Orvella").
    static PushSettings load();
    void save(QSettings &settings) const;
    void save() const;
};

// The first line of a small file holding a password or token, without the
// line end; nothing when it cannot be read, and in error why.
std::optional<QString> readSecretFile(const QString &path, QString *error = nullptr);

// The node id used when none is set: "orvella_" and the host name, reduced to
// letters, digits and "_".
QString defaultMqttNodeId();

#endif
