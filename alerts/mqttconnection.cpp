#include "mqttconnection.h"

#include <QSocketNotifier>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace
{

const QByteArray online("online");
const QByteArray offline("offline");

QString connackText(int rc)
{
    switch (rc) {
    case 1:
        return QStringLiteral("broker refused the protocol version");
    case 2:
        return QStringLiteral("broker refused the client id");
    case 3:
        return QStringLiteral("broker unavailable");
    case 4:
    case 5:
        return QStringLiteral("broker refused the login");
    default:
        return QStringLiteral("broker refused the connection");
    }
}

} // namespace

QString mqttErrorText(int rc, int errnum)
{
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        switch (errnum) {
        case ECONNREFUSED:
            return QStringLiteral("connection refused");
        case ETIMEDOUT:
            return QStringLiteral("timed out");
        case EHOSTUNREACH:
        case ENETUNREACH:
            return QStringLiteral("broker unreachable");
        case ECONNRESET:
        case EPIPE:
            return QStringLiteral("connection lost");
        case EPROTO:
            return QStringLiteral("secure connection failed");
        default:
            return QString::fromLocal8Bit(std::strerror(errnum)).toLower();
        }
    case MOSQ_ERR_EAI:
        return QStringLiteral("broker address not found");
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
        return QStringLiteral("connection lost");
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        return QStringLiteral("secure connection failed");
    case MOSQ_ERR_CONN_REFUSED:
    case MOSQ_ERR_AUTH:
        return QStringLiteral("broker refused the login");
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("broker stopped answering");
    case MOSQ_ERR_PROTOCOL:
        return QStringLiteral("not an MQTT broker");
    default:
        return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

void MqttConnection::initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

MqttConnection::MqttConnection(MqttConnectionSettings settings, QObject *parent)
    : QObject(parent), m_settings(std::move(settings)), m_loopTimer(this), m_connectTimer(this),
      m_reconnectTimer(this)
{
    initLibrary();
    // The loop step also keeps the connection alive and retries unconfirmed
    // packets; once a second is plenty for a keep-alive of many seconds.
    m_loopTimer.setInterval(1000);
    connect(&m_loopTimer, &QTimer::timeout, this, &MqttConnection::pump);
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("no answer from the broker (timed out)")); });
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &MqttConnection::connectNow);
}

MqttConnection::~MqttConnection()
{
    teardown();
}

void MqttConnection::start()
{
    m_stopped = false;
    if (!m_mosq && !m_reconnectTimer.isActive())
        connectNow();
}

void MqttConnection::connectNow()
{
    if (m_stopped || m_mosq)
        return;
    m_refusal.clear();
    // A new client for every connection: nothing the library kept from the
    // last one can be sent twice behind our back.
    m_mosq = mosquitto_new(m_settings.clientId.isEmpty() ? nullptr
                                                         : m_settings.clientId.toUtf8().constData(),
                           true, this);
    if (!m_mosq) {
        fail(QStringLiteral("out of memory"));
        return;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_mosq, &MqttConnection::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttConnection::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttConnection::onPublish);
    mosquitto_message_callback_set(m_mosq, &MqttConnection::onMessage);
    int rc = MOSQ_ERR_SUCCESS;
    if (!m_settings.user.isEmpty()) {
        const QByteArray password = m_settings.password.toUtf8();
        rc = mosquitto_username_pw_set(m_mosq, m_settings.user.toUtf8().constData(),
                                       password.isEmpty() ? nullptr : password.constData());
    }
    if (rc == MOSQ_ERR_SUCCESS && !m_settings.availabilityTopic.isEmpty()) {
        rc = mosquitto_will_set(m_mosq, m_settings.availabilityTopic.constData(), offline.size(),
                                offline.constData(), 1, true);
    }
    if (rc == MOSQ_ERR_SUCCESS && m_settings.tls) {
        if (m_settings.caFile.isEmpty()) {
            rc = mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            rc = mosquitto_tls_set(m_mosq, m_settings.caFile.toLocal8Bit().constData(), nullptr,
                                   nullptr, nullptr, nullptr);
        }
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        fail(mqttErrorText(rc, errno));
        return;
    }
    // Name lookup happens here, on this thread; the TCP connect and the TLS
    // handshake go on from the loop step.
    rc = mosquitto_connect_async(m_mosq, m_settings.host.toUtf8().constData(), m_settings.port,
                                 m_settings.keepAliveS);
    const int errnum = errno;
    const int fd = mosquitto_socket(m_mosq);
    if (rc != MOSQ_ERR_SUCCESS || fd < 0) {
        fail(mqttErrorText(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_NO_CONN : rc, errnum));
        return;
    }
    m_readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    m_writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &MqttConnection::pump);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &MqttConnection::pump);
    m_connectTimer.start(m_settings.connectTimeoutMs);
    m_loopTimer.start();
}

void MqttConnection::pump()
{
    if (!m_mosq)
        return;
    errno = 0;
    const int rc = mosquitto_loop(m_mosq, 0, 1);
    const int errnum = errno;
    if (m_rebirth && m_connected) {
        m_rebirth = false;
        resendRetained();
    }
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(m_mosq) < 0) {
        fail(m_refusal.isEmpty()
                 ? mqttErrorText(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc, errnum)
                 : m_refusal);
        return;
    }
    m_writeNotifier->setEnabled(mosquitto_want_write(m_mosq));
}

void MqttConnection::teardown()
{
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_loopTimer.stop();
    m_connectTimer.stop();
    if (m_mosq) {
        mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
    }
}

void MqttConnection::fail(const QString &reason)
{
    teardown();
    if (m_connected) {
        m_connected = false;
        emit connectionChanged(false);
    }
    // What was handed over and not confirmed may or may not have reached the
    // broker.
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (it->mid < 0) {
            ++it;
            continue;
        }
        if (it->message.atMostOnce) {
            emit lost(it->message.eventId,
                      QStringLiteral("%1 before the broker confirmed it; not sent again as it may "
                                     "have arrived")
                          .arg(reason));
            it = drop(it);
        } else {
            it->mid = -1;
            ++it;
        }
    }
    reportWaiting();
    if (m_stopped)
        return;
    emit connectFailed(reason);
    const QVector<int> &delays = m_settings.reconnectDelaysMs;
    if (delays.isEmpty())
        return;
    m_reconnectTimer.start(delays.at(std::min(m_failures, int(delays.size()) - 1)));
    ++m_failures;
}

void MqttConnection::stop()
{
    m_stopped = true;
    m_reconnectTimer.stop();
    if (m_mosq && m_connected) {
        // Written at once, in order: the broker reads the message before the
        // disconnect, which withdraws the last will.
        if (!m_settings.availabilityTopic.isEmpty())
            sendDirect(m_settings.availabilityTopic, offline, true);
        mosquitto_disconnect(m_mosq);
    }
    teardown();
    if (m_connected) {
        m_connected = false;
        emit connectionChanged(false);
    }
}

void MqttConnection::setRetryTimes(const QVector<int> &reconnectDelaysMs, int connectTimeoutMs)
{
    m_settings.reconnectDelaysMs = reconnectDelaysMs;
    m_settings.connectTimeoutMs = connectTimeoutMs;
}

void MqttConnection::publish(const MqttMessage &message)
{
    if (!message.replaceKey.isEmpty()) {
        for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
            if (it->mid < 0 && it->message.topic == message.topic &&
                it->message.replaceKey == message.replaceKey) {
                drop(it);
                break;
            }
        }
    }
    m_waiting.push_back(Entry{message, -1});
    m_waitingBytes += message.payload.size();
    while (int(m_waiting.size()) > m_settings.maxWaiting ||
           m_waitingBytes > m_settings.maxWaitingBytes) {
        auto oldest = m_waiting.begin();
        while (oldest != m_waiting.end() && oldest->mid >= 0)
            ++oldest;
        // Those handed over stay, and so does the message just added.
        if (oldest == m_waiting.end() || std::next(oldest) == m_waiting.end())
            break;
        emit lost(oldest->message.eventId,
                  QStringLiteral("too many messages waiting for the broker"));
        drop(oldest);
    }
    if (m_connected)
        hand(m_waiting.back());
    reportWaiting();
    if (m_mosq)
        m_writeNotifier->setEnabled(mosquitto_want_write(m_mosq));
}

std::list<MqttConnection::Entry>::iterator MqttConnection::drop(std::list<Entry>::iterator it)
{
    m_waitingBytes -= it->message.payload.size();
    return m_waiting.erase(it);
}

void MqttConnection::hand(Entry &entry)
{
    int mid = 0;
    const MqttMessage &m = entry.message;
    const int rc = mosquitto_publish(m_mosq, &mid, m.topic.constData(), m.payload.size(),
                                     m.payload.constData(), 1, m.retain);
    // A failed write leaves the message with the library under this id: it
    // counts as handed over, and the failure shows in the next loop step.
    if (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_NO_CONN ||
        rc == MOSQ_ERR_CONN_LOST) {
        entry.mid = mid;
        return;
    }
    emit lost(m.eventId, mqttErrorText(rc, errno));
    for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
        if (&*it == &entry) {
            drop(it);
            break;
        }
    }
}

void MqttConnection::sendDirect(const QByteArray &topic, const QByteArray &payload, bool retain)
{
    mosquitto_publish(m_mosq, nullptr, topic.constData(), payload.size(), payload.constData(), 1,
                      retain);
}

void MqttConnection::resendRetained()
{
    QSet<QByteArray> pending;
    for (const Entry &e : m_waiting)
        pending.insert(e.message.topic);
    for (auto it = m_retained.cbegin(); it != m_retained.cend(); ++it) {
        // A newer value waits in the queue; the old one must not overtake it.
        if (!pending.contains(it.key()))
            sendDirect(it.key(), it.value(), true);
    }
}

void MqttConnection::afterConnect()
{
    m_connectTimer.stop();
    m_failures = 0;
    m_connected = true;
    if (!m_settings.rebirthTopic.isEmpty())
        mosquitto_subscribe(m_mosq, nullptr, m_settings.rebirthTopic.constData(), 0);
    if (!m_settings.availabilityTopic.isEmpty())
        sendDirect(m_settings.availabilityTopic, online, true);
    resendRetained();
    for (Entry &e : m_waiting) {
        if (e.mid < 0)
            hand(e);
    }
    emit connectionChanged(true);
}

void MqttConnection::reportWaiting()
{
    const int count = int(m_waiting.size());
    if (count != m_reportedWaiting) {
        m_reportedWaiting = count;
        emit waitingChanged(count);
    }
}

void MqttConnection::onConnect(mosquitto *, void *self, int rc)
{
    auto *c = static_cast<MqttConnection *>(self);
    if (rc == 0)
        c->afterConnect();
    else
        c->m_refusal = connackText(rc);
}

void MqttConnection::onDisconnect(mosquitto *, void *, int)
{
    // The loop step that called this returns an error and fail() follows.
}

void MqttConnection::onPublish(mosquitto *, void *self, int mid)
{
    auto *c = static_cast<MqttConnection *>(self);
    for (auto it = c->m_waiting.begin(); it != c->m_waiting.end(); ++it) {
        if (it->mid != mid)
            continue;
        const MqttMessage m = it->message;
        c->drop(it);
        if (m.retain)
            c->m_retained.insert(m.topic, m.payload);
        emit c->delivered(m.eventId, m.topic);
        c->reportWaiting();
        return;
    }
}

void MqttConnection::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *c = static_cast<MqttConnection *>(self);
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    // Home Assistant announces its start; sending from inside a callback
    // would only queue, so the loop step that follows does it.
    if (c->m_settings.rebirthTopic == message->topic && payload == online)
        c->m_rebirth = true;
}
