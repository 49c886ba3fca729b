#include "cupdatequery.h"

#include "serverhost.h"

#include <QDesktopServices>
#include <QIcon>
#include <QMessageBox>
#include <QUrl>

namespace Vesk
{
namespace QtLib
{
namespace UpdateSys
{

namespace
{

const int CheckTimeoutMs = 15000;

// Common look of every box. The version text comes from the server, so no
// text is ever taken as markup.
void prepareBox(QMessageBox &box, const QString &text)
{
    box.setWindowTitle(QStringLiteral("Orvella"));
    box.setWindowIcon(QIcon(QStringLiteral(":/icons/icons/1429216426_webcam.png")));
    box.setIcon(QMessageBox::Question);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
}

void showNotice(const QString &text)
{
    QMessageBox box;
    prepareBox(box, text);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

} // namespace

CUpdateQuery::CUpdateQuery()
    : QObject(nullptr), m_exchange(m_socket, CheckTimeoutMs), m_serverHost(::serverHost()),
      m_serverPort(::serverPort())
{
    m_version = QStringLiteral("");
    m_productId = QStringLiteral("");
    // Whatever the server sends, the socket holds little before it is read.
    m_socket.setReadBufferSize(SocketBufferBytes);
    m_exchange.connectTo(this);
}

CUpdateQuery::~CUpdateQuery()
{
    // The socket outlives the other members; a check still open must not
    // reach onDisconnect() while it goes.
    m_exchange.abandon();
}

void CUpdateQuery::checkForUpdate(const QString &productId, const QString &version)
{
    if (!productId.isEmpty())
        m_productId = productId;
    if (!version.isEmpty())
        m_version = version;
    // An earlier check still open ends here; its disconnection is ignored.
    m_exchange.abandon();
    m_reply.reset();
    m_exchange.begin(m_serverHost, m_serverPort);
}

bool CUpdateQuery::isChecking() const
{
    return m_exchange.isOpen();
}

QString CUpdateQuery::downloadUrl() const
{
    QString url = QStringLiteral("http://") + m_serverHost;
    if (m_serverPort != 80)
        url += QLatin1Char(':') + QString::number(m_serverPort);
    return url + QStringLiteral("/software/lantrel/");
}

void CUpdateQuery::onConnect()
{
    if (!m_exchange.acceptConnection())
        return;
    QString versionNumber = m_version;
    versionNumber.remove(QLatin1Char('.'));
    QString hostLine = m_serverHost;
    hostLine.remove(QStringLiteral("www."));
    const QString request = QStringLiteral("GET /updates/lookup.php?id=") + m_productId +
                            QStringLiteral("&vn=") + versionNumber +
                            QStringLiteral(" HTTP/1.0\r\n") + QStringLiteral("Host: ") + hostLine +
                            QStringLiteral("\r\n") + QStringLiteral("Connection: close\r\n\r\n");
    m_socket.write(request.toLatin1());
}

void CUpdateQuery::onDataArrival()
{
    // At most SocketBufferBytes at a time.
    const std::optional<QByteArray> chunk = m_exchange.readArrived();
    if (!chunk)
        return;
    const UpdateReply::Outcome outcome = m_reply.feed(*chunk);
    if (outcome != UpdateReply::Pending)
        conclude(outcome);
}

void CUpdateQuery::onDisconnect()
{
    if (m_exchange.isOpen())
        conclude(m_reply.finish());
}

void CUpdateQuery::onError(QAbstractSocket::SocketError error)
{
    if (m_exchange.isFailure(error))
        conclude(UpdateReply::Invalid);
}

void CUpdateQuery::onTimeout()
{
    if (m_exchange.isOpen())
        conclude(UpdateReply::Invalid);
}

// Ends the check and shows its box from the event loop, outside the socket's
// own notifications.
void CUpdateQuery::conclude(UpdateReply::Outcome outcome)
{
    m_exchange.abandon();
    const QString version = m_reply.version();
    QMetaObject::invokeMethod(
        this, [this, outcome, version] { showResult(outcome, version); }, Qt::QueuedConnection);
}

void CUpdateQuery::showResult(UpdateReply::Outcome outcome, const QString &version)
{
    if (outcome == UpdateReply::Offer) {
        QMessageBox box;
        prepareBox(box, QStringLiteral("Version ") + version + QStringLiteral(" is available"));
        box.setInformativeText(QStringLiteral("Download now?"));
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        if (box.exec() == QMessageBox::Yes)
            QDesktopServices::openUrl(QUrl(downloadUrl(), QUrl::TolerantMode));
        return;
    }
    if (!m_showUpToDate)
        return;
    if (outcome == UpdateReply::UpToDate)
        showNotice(QStringLiteral("You're using the latest version at this time."));
    else
        showNotice(
            QStringLiteral("The update server could not be reached. Please try again later."));
}

} // namespace UpdateSys
} // namespace QtLib
} // namespace Vesk
