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
    : QObject(nullptr), m_serverHost(::serverHost()), m_serverPort(::serverPort())
{
    m_version = QStringLiteral("");
    m_productId = QStringLiteral("");
    // Whatever the server sends, the socket holds little before it is read.
    m_socket.setReadBufferSize(SocketBufferBytes);
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(CheckTimeoutMs);
    connect(&m_socket, SIGNAL(connected()), this, SLOT(onConnect()));
    connect(&m_socket, SIGNAL(disconnected()), this, SLOT(onDisconnect()));
    connect(&m_socket, SIGNAL(readyRead()), this, SLOT(onDataArrival()));
    connect(&m_socket, SIGNAL(errorOccurred(QAbstractSocket::SocketError)), this,
            SLOT(onError(QAbstractSocket::SocketError)));
    connect(&m_deadline, SIGNAL(timeout()), this, SLOT(onTimeout()));
}

CUpdateQuery::~CUpdateQuery()
{
    // The socket outlives the other members; a check still open must not
    // reach onDisconnect() while it goes.
    m_open = false;
    m_deadline.stop();
    m_socket.abort();
}

void CUpdateQuery::checkForUpdate(const QString &productId, const QString &version)
{
    if (!productId.isEmpty())
        m_productId = productId;
    if (!version.isEmpty())
        m_version = version;
    // An earlier check still open ends here; its disconnection is ignored.
    m_open = false;
    m_socket.abort();
    m_reply.reset();
    m_open = true;
    m_deadline.start();
    m_socket.connectToHost(m_serverHost, m_serverPort, QIODevice::ReadWrite,
                           QAbstractSocket::AnyIPProtocol);
}

bool CUpdateQuery::isChecking() const
{
    return m_open;
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
    if (!m_open) {
        m_socket.abort();
        return;
    }
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
    const QByteArray chunk = m_socket.readAll();
    if (!m_open)
        return;
    const UpdateReply::Outcome outcome = m_reply.feed(chunk);
    if (outcome != UpdateReply::Pending)
        conclude(outcome);
}

void CUpdateQuery::onDisconnect()
{
    if (!m_open)
        return;
    conclude(m_reply.finish());
}

void CUpdateQuery::onError(QAbstractSocket::SocketError error)
{
    // The server closing is the normal end: the disconnection follows.
    if (!m_open || error == QAbstractSocket::RemoteHostClosedError)
        return;
    conclude(UpdateReply::Invalid);
}

void CUpdateQuery::onTimeout()
{
    if (m_open)
        conclude(UpdateReply::Invalid);
}

// Ends the check and shows its box from the event loop, outside the socket's
// own notifications.
void CUpdateQuery::conclude(UpdateReply::Outcome outcome)
{
    m_open = false;
    m_deadline.stop();
    m_socket.abort();
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
