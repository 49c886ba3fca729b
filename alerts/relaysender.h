#ifndef ORVELLA_RELAYSENDER_H
#define ORVELLA_RELAYSENDER_H

#include "cwebsocket.h"

#include <QObject>
#include <QString>

#include <optional>

// Sends e-mail relay requests through one HTTP client and tells when one was
// not delivered. While a request is open, the newest one asked for waits and
// goes when the open one ends; older waiting ones are replaced.
class RelaySender : public QObject
{
    Q_OBJECT
public:
    explicit RelaySender(Vesk::QtLib::Web::CWebSocket &client, QObject *parent = nullptr);

    void send(const QString &host, int port, const QString &pathAndQuery);

    bool isSending() const { return m_sending; }
    bool hasWaiting() const { return m_waiting.has_value(); }

signals:
    // The relay did not take a request; reason says why, in a few words.
    void notSent(const QString &reason);
    // The relay answered a request with success.
    void delivered();

private slots:
    void onRetrieved();
    void onRetrievalError();

private:
    struct Request {
        QString host;
        int port;
        QString pathAndQuery;
    };
    void start(const Request &request);
    void concludeLater();
    void conclude();

    Vesk::QtLib::Web::CWebSocket &m_client;
    bool m_sending = false;
    bool m_failed = false;
    bool m_concluding = false;
    std::optional<Request> m_waiting;
};

// Why the relay's reply means the request was not taken; empty when it
// answered with a 2xx status.
QString relayReplyProblem(const QString &response);

// Why an exchange that failed failed, in a few words.
QString relayFailureReason(Vesk::QtLib::Web::CWebSocket::Failure failure,
                           QAbstractSocket::SocketError socketError);

#endif
