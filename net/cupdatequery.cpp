#include "cupdatequery.h"

#include "serverhost.h"

#include <QDesktopServices>
#include <QIcon>
#include <QMessageBox>
#include <QStringList>
#include <QUrl>

namespace Vesk
{
namespace QtLib
{
namespace UpdateSys
{

namespace
{

// The new version named by a reply: the last non-empty line of the first
// non-empty piece between "|" marks; empty when the reply offers none.
QString offeredVersion(const QString &reply)
{
    if (!reply.contains(QLatin1Char('|')))
        return QString();
    const QStringList pieces = reply.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    if (pieces.isEmpty())
        return QString();
    const QStringList lines = pieces.first().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return QString();
    return lines.last();
}

// Common look of both boxes. The version text comes from the server, so no
// text is ever taken as markup.
void prepareBox(QMessageBox &box, const QString &text)
{
    box.setWindowTitle(QStringLiteral("Orvella"));
    box.setWindowIcon(QIcon(QStringLiteral(":/icons/icons/1429216426_webcam.png")));
    box.setIcon(QMessageBox::Question);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
}

} // namespace

CUpdateQuery::CUpdateQuery()
    : QObject(nullptr), m_serverHost(::serverHost()), m_serverPort(::serverPort())
{
    m_replyBuffer = QStringLiteral("");
    m_version = QStringLiteral("");
    m_productId = QStringLiteral("");
    connect(&m_socket, SIGNAL(connected()), this, SLOT(onConnect()));
    connect(&m_socket, SIGNAL(disconnected()), this, SLOT(onDisconnect()));
    connect(&m_socket, SIGNAL(readyRead()), this, SLOT(onDataArrival()));
}

CUpdateQuery::~CUpdateQuery()
{
    // The socket outlives the other members; a check still open must not
    // reach onDisconnect() while it goes.
    m_open = false;
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
    m_replyBuffer = QStringLiteral("");
    m_bytesThisCheck = 0;
    m_open = true;
    m_socket.connectToHost(m_serverHost, m_serverPort, QIODevice::ReadWrite,
                           QAbstractSocket::AnyIPProtocol);
}

bool CUpdateQuery::isChecking() const
{
    return m_open && m_socket.state() != QAbstractSocket::UnconnectedState;
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
    const QByteArray chunk = m_socket.readAll();
    if (!m_open)
        return;
    m_bytesThisCheck += chunk.size();
    if (m_bytesThisCheck > MaxReplyBytes) {
        m_open = false;
        m_socket.abort();
        return;
    }
    const int nul = chunk.indexOf('\0');
    m_replyBuffer += QString::fromUtf8(chunk.constData(), nul >= 0 ? nul : chunk.size());
}

void CUpdateQuery::onDisconnect()
{
    if (!m_open)
        return;
    m_open = false;
    showResult();
}

void CUpdateQuery::showResult()
{
    const QString version = offeredVersion(m_replyBuffer);
    // A "|" that names no version (only line breaks or white space) offers
    // nothing either.
    if (version.trimmed().isEmpty()) {
        if (!m_showUpToDate)
            return;
        QMessageBox box;
        prepareBox(box, QStringLiteral("You're using the latest version at this time."));
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.exec();
        return;
    }
    QMessageBox box;
    prepareBox(box, QStringLiteral("Version ") + version + QStringLiteral(" is available"));
    box.setInformativeText(QStringLiteral("Download now?"));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    if (box.exec() == QMessageBox::Yes)
        QDesktopServices::openUrl(QUrl(downloadUrl(), QUrl::TolerantMode));
}

} // namespace UpdateSys
} // namespace QtLib
} // namespace Vesk
