#include "mjpegserver.h"

#include <QBuffer>
#include <QImage>
#include <QTcpSocket>

MjpegServer::MjpegServer()
{
    setColour(Qt::gray);
    connect(&m_server, &QTcpServer::newConnection, this, &MjpegServer::accept);
    connect(&m_timer, &QTimer::timeout, this, &MjpegServer::sendFrame);
    m_timer.start(50);
}

bool MjpegServer::listen(quint16 port)
{
    if (!m_server.listen(QHostAddress::LocalHost, port))
        return false;
    m_port = m_server.serverPort();
    return true;
}

void MjpegServer::stop()
{
    m_server.close();
    for (const QPointer<QTcpSocket> &client : m_clients)
        if (client)
            client->abort();
    m_clients.clear();
}

void MjpegServer::setColour(const QColor &colour)
{
    m_colour = colour;
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(colour);
    m_picture.clear();
    QBuffer buffer(&m_picture);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, m_format.constData(), 95);
}

void MjpegServer::setPictureFormat(const QByteArray &format)
{
    m_format = format;
    setColour(m_colour);
}

void MjpegServer::serveFile(const QByteArray &contentType, const QByteArray &body)
{
    m_fileType = contentType;
    m_file = body;
}

void MjpegServer::accept()
{
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        // The request itself does not matter; answer once it is complete.
        connect(client, &QTcpSocket::readyRead, this, [this, client] {
            const QByteArray request =
                client->property("request").toByteArray() + client->readAll();
            client->setProperty("request", request);
            if (!client->property("answered").toBool() && request.contains("\r\n\r\n")) {
                client->setProperty("answered", true);
                if (!m_login.isEmpty() &&
                    !request.contains("\r\nAuthorization: Basic " + m_login.toBase64() + "\r\n")) {
                    client->write("HTTP/1.0 401 Unauthorized\r\n"
                                  "WWW-Authenticate: Basic realm=\"camera\"\r\n"
                                  "Content-Length: 0\r\n\r\n");
                    client->disconnectFromHost();
                    return;
                }
                if (!m_fileType.isEmpty()) {
                    client->write("HTTP/1.0 200 OK\r\nContent-Type: " + m_fileType +
                                  "\r\nContent-Length: " + QByteArray::number(m_file.size()) +
                                  "\r\n\r\n" + m_file);
                    client->disconnectFromHost();
                    return;
                }
                client->write("HTTP/1.0 200 OK\r\n"
                              "Content-Type: multipart/x-mixed-replace; boundary=frame\r\n"
                              "Cache-Control: no-cache\r\n\r\n");
                m_clients.append(client);
            }
        });
    }
}

void MjpegServer::sendFrame()
{
    if (m_stalled)
        return;
    const QByteArray type = m_format == "JPG" ? "image/jpeg" : "image/" + m_format.toLower();
    const QByteArray head = "--frame\r\nContent-Type: " + type +
                            "\r\nContent-Length: " + QByteArray::number(m_picture.size()) +
                            "\r\n\r\n";
    for (const QPointer<QTcpSocket> &client : m_clients)
        if (client && client->bytesToWrite() < 1 << 20)
            client->write(head + m_picture + "\r\n");
}
