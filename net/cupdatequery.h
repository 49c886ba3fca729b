#ifndef ORVELLA_CUPDATEQUERY_H
#define ORVELLA_CUPDATEQUERY_H

#include "socketexchange.h"
#include "updatereply.h"

#include <QObject>
#include <QString>
#include <QTcpSocket>

namespace Vesk
{
namespace QtLib
{
namespace UpdateSys
{

// Asks the update server whether a newer version exists and tells the user in
// a message box; on acceptance opens the download page in the browser. A check
// that gets no valid answer within timeout() says so when the user asked.
class CUpdateQuery : public QObject
{
    Q_OBJECT
public:
    CUpdateQuery();
    ~CUpdateQuery() override;

    // Starts one check and returns at once; an empty argument keeps the
    // stored value. A check still open is abandoned without a box.
    void checkForUpdate(const QString &productId, const QString &version);

    void setShowUpToDate(bool show) { m_showUpToDate = show; }
    void setProductId(const QString &productId) { m_productId = productId; }
    void setVersion(const QString &version) { m_version = version; }

    // The server asked; serverHost() on serverPort() unless changed.
    void setServerHost(const QString &host) { m_serverHost = host; }
    void setServerPort(quint16 port) { m_serverPort = port; }
    QString serverHost() const { return m_serverHost; }
    quint16 serverPort() const { return m_serverPort; }

    // Whether a check was started and has not ended yet (answered, failed or
    // timed out); its box, if any, shows right after it ends.
    bool isChecking() const;

    // How long a check may take from its start, 15 s unless changed.
    void setTimeout(int ms) { m_exchange.setTimeout(ms); }
    int timeout() const { return m_exchange.timeout(); }

    // Bytes of the current (or last) reply taken and kept.
    int replyBytes() const { return m_reply.receivedBytes(); }
    int keptReplyBytes() const { return m_reply.keptBytes(); }

    // The largest reply a check reads; past it the reply is no answer.
    static constexpr int MaxReplyBytes = UpdateReply::MaxReplyBytes;
    // The most the socket holds before the check reads it.
    static constexpr int SocketBufferBytes = 16 * 1024;

private slots:
    void onConnect();
    void onDisconnect();
    void onDataArrival();
    void onError(QAbstractSocket::SocketError error);
    void onTimeout();

private:
    void conclude(UpdateReply::Outcome outcome);
    void showResult(UpdateReply::Outcome outcome, const QString &version);
    QString downloadUrl() const;

    QTcpSocket m_socket;
    // The check's deadline and whether it is open.
    SocketExchange m_exchange;
    UpdateReply m_reply;
    QString m_productId;
    QString m_version;
    bool m_showUpToDate = false;
    QString m_serverHost;
    quint16 m_serverPort = 80;
};

} // namespace UpdateSys
} // namespace QtLib
} // namespace Vesk

#endif
