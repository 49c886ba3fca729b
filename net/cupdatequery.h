#ifndef ORVELLA_CUPDATEQUERY_H
#define ORVELLA_CUPDATEQUERY_H

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
// a message box; on acceptance opens the download page in the browser.
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

    // Whether a check is connecting or connected.
    bool isChecking() const;

    // The largest reply a check reads; past it the check ends without a box.
    static constexpr qint64 MaxReplyBytes = 1024 * 1024;

private slots:
    void onConnect();
    void onDisconnect();
    void onDataArrival();

private:
    void showResult();
    QString downloadUrl() const;

    QTcpSocket m_socket;
    QString m_replyBuffer;
    QString m_productId;
    QString m_version;
    bool m_showUpToDate = false;
    QString m_serverHost;
    quint16 m_serverPort = 80;
    // Between checkForUpdate() and the end of that check.
    bool m_open = false;
    qint64 m_bytesThisCheck = 0;
};

} // namespace UpdateSys
} // namespace QtLib
} // namespace Vesk

#endif
