#ifndef ORVELLA_MJPEGSERVER_H
#define ORVELLA_MJPEGSERVER_H

#include <QColor>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

class QTcpSocket;

// A web camera on 127.0.0.1 that answers any request with an endless
// multipart stream of JPEG frames of one colour, twenty a second; or with
// pictures of another format; or, as a plain web server, with one file.
class MjpegServer : public QObject
{
public:
    MjpegServer();

    bool listen(quint16 port = 0);
    // Closes the listening socket and every connection.
    void stop();
    quint16 port() const { return m_port; }
    void setColour(const QColor &colour);
    // The pictures' format as QImage writes it ("JPG", "PNG").
    void setPictureFormat(const QByteArray &format);
    // Every request from now on gets this file instead of the stream.
    void serveFile(const QByteArray &contentType, const QByteArray &body);
    // A stalled camera: connections stay open, no frame comes.
    void setStalled(bool stalled) { m_stalled = stalled; }
    // Requests without this "user:password" as Basic login get 401.
    void setLogin(const QByteArray &login) { m_login = login; }

private:
    void accept();
    void sendFrame();

    QTcpServer m_server;
    QTimer m_timer;
    QList<QPointer<QTcpSocket>> m_clients;
    QByteArray m_format = "JPG";
    QColor m_colour;
    QByteArray m_picture;
    QByteArray m_fileType;
    QByteArray m_file;
    QByteArray m_login;
    quint16 m_port = 0;
    bool m_stalled = false;
};

#endif
