#ifndef ORVELLA_TEST_HTTPSINK_H
#define ORVELLA_TEST_HTTPSINK_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QTcpServer>
#include <QUrl>

// A small HTTP/1.1 server on 127.0.0.1 that keeps every request it reads
// and answers each as told: a status after a delay, or never.
class HttpSink : public QObject
{
    Q_OBJECT
public:
    struct Answer {
        int status = 200;
        int delayMs = 0;    // before the answer is written
        bool never = false; // read the request, answer nothing
        QByteArray headers; // extra header lines, each ending in \r\n
    };
    struct Request {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
        qint64 arrivedMs = 0; // ms since the epoch, when the whole request was in
    };

    // Listens on the port given, or on a free one.
    explicit HttpSink(quint16 port = 0, QObject *parent = nullptr);

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    QUrl url(const QString &path) const;

    // Answers for the next requests, in order; after them, defaultAnswer.
    void queue(const Answer &answer) { m_answers.enqueue(answer); }
    Answer defaultAnswer;

    QList<Request> requests;

    // A port with nothing listening on it (for now).
    static quint16 freePort();

signals:
    void requestArrived();

private:
    void onConnection();
    void onReadable(class QTcpSocket *socket);

    QTcpServer m_server;
    QQueue<Answer> m_answers;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

#endif
