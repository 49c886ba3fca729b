#include "serverharness.h"

#include "relayrequest.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

SmtpSink::SmtpSink(const QString &maildir, const QString &holdFile)
    : m_maildir(maildir), m_holdFile(holdFile)
{
}

SmtpSink::~SmtpSink()
{
    stop();
}

bool SmtpSink::start(quint16 port)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments = {ORVELLA_SMTP_SINK, "--maildir", m_maildir, "--port",
                             QString::number(port)};
    if (!m_holdFile.isEmpty())
        arguments << "--hold" << m_holdFile;
    m_process.start("/usr/bin/python3", arguments);
    if (!m_process.waitForStarted(10000))
        return false;
    QByteArray out;
    QDeadlineTimer deadline(20000);
    while (!out.contains('\n') && !deadline.hasExpired() &&
           m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(int(deadline.remainingTime()));
        out += m_process.readAllStandardOutput();
    }
    const QRegularExpressionMatch match = QRegularExpression("ready (\\d+)").match(out);
    if (!match.hasMatch())
        return false;
    m_port = quint16(match.captured(1).toUInt());
    return true;
}

void SmtpSink::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QList<QByteArray> SmtpSink::mails() const
{
    QList<QByteArray> result;
    const QDir box(m_maildir + "/new");
    // Maildir names start with the delivery time in seconds; within a second
    // the file times order them.
    for (const QFileInfo &info : box.entryInfoList(QDir::Files, QDir::Time | QDir::Reversed)) {
        QFile file(info.filePath());
        if (file.open(QIODevice::ReadOnly))
            result << file.readAll();
    }
    return result;
}

int SmtpSink::count() const
{
    return QDir(m_maildir + "/new").entryList(QDir::Files).size();
}

ServerProcess::~ServerProcess()
{
    stop();
}

bool ServerProcess::start(const QString &configPath, const QString &listen)
{
    m_log.clear();
    m_process.setReadChannel(QProcess::StandardError);
    m_process.start(ORVELLA_SERVER_BINARY, {"--config", configPath, "--listen", listen});
    if (!m_process.waitForStarted(10000))
        return false;
    QDeadlineTimer deadline(20000);
    const QRegularExpression listening("listening on [^ ]+:(\\d+)");
    while (!deadline.hasExpired()) {
        const QRegularExpressionMatch match = listening.match(QString::fromUtf8(m_log));
        if (match.hasMatch()) {
            m_port = quint16(match.captured(1).toUInt());
            return true;
        }
        if (m_process.state() != QProcess::Running)
            break;
        m_process.waitForReadyRead(int(deadline.remainingTime()));
        m_log += m_process.readAllStandardError();
    }
    m_log += m_process.readAllStandardError();
    qWarning("orvella-server did not start: %s", m_log.constData());
    return false;
}

bool ServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return false;
    m_process.terminate();
    if (!m_process.waitForFinished(20000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
        return false;
    }
    m_log += m_process.readAllStandardError();
    const bool reported = m_log.contains("Sanitizer") || m_log.contains("runtime error:");
    if (reported)
        qWarning("%s", m_log.constData());
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0 && !reported;
}

void ServerProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished(10000);
    m_log += m_process.readAllStandardError();
}

QStringList ServerProcess::log()
{
    m_log += m_process.readAllStandardError();
    return QString::fromUtf8(m_log).split('\n', Qt::SkipEmptyParts);
}

int ServerProcess::countLines(const QString &part)
{
    return log().filter(part).size();
}

QByteArray exchange(quint16 port, const QByteArray &request, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", port);
    if (!socket.waitForConnected(timeoutMs))
        return QByteArray();
    socket.write(request);
    QByteArray reply;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(int(deadline.remainingTime()));
        reply += socket.readAll();
    }
    reply += socket.readAll();
    return reply;
}

QByteArray programRequest(const QByteArray &target)
{
    return relayRequestBytes(target);
}

int statusOf(const QByteArray &reply)
{
    const QList<QByteArray> words = reply.left(reply.indexOf('\r')).split(' ');
    return words.size() >= 2 ? words[1].toInt() : 0;
}

QByteArray bodyOf(const QByteArray &reply)
{
    const int end = reply.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : reply.mid(end + 4);
}

int runServer(const QStringList &arguments, QByteArray &output)
{
    QProcess process;
    process.start(ORVELLA_SERVER_BINARY, arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(5000);
        return -1;
    }
    output = process.readAllStandardError() + process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QByteArray headerValue(const QByteArray &mail, const QByteArray &name)
{
    for (const QByteArray &line : mail.left(mail.indexOf("\r\n\r\n")).split('\n'))
        if (line.startsWith(name + ": "))
            return line.mid(name.size() + 2).trimmed();
    return QByteArray();
}

QStringList recipients(const QList<QByteArray> &mails)
{
    QStringList list;
    for (const QByteArray &mail : mails)
        list << QString::fromUtf8(headerValue(mail, "X-Sink-To"));
    list.sort();
    return list;
}

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}
