#ifndef ORVELLA_TEST_SERVERHARNESS_H
#define ORVELLA_TEST_SERVERHARNESS_H

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// The test SMTP server (smtpsink.py on Debian's Python with aiosmtpd) on
// 127.0.0.1, storing what it accepts in a maildir.
class SmtpSink
{
public:
    // holdFile: see smtpsink.py's --hold.
    explicit SmtpSink(const QString &maildir, const QString &holdFile = QString());
    ~SmtpSink();

    // Starts on the port (0: any free one) and waits until it listens.
    bool start(quint16 port = 0);
    void stop();
    quint16 port() const { return m_port; }

    // The messages received, oldest first, and how many there are.
    QList<QByteArray> mails() const;
    int count() const;

private:
    QString m_maildir;
    QString m_holdFile;
    QProcess m_process;
    quint16 m_port = 0;
};

// A running orvella-server with a configuration file; collects its log.
class ServerProcess
{
public:
    ServerProcess() = default;
    ~ServerProcess();

    bool start(const QString &configPath, const QString &listen = "127.0.0.1:0");
    // Ends it at once with SIGKILL, as a crash or an OOM kill would.
    void kill();
    // Stops it with SIGTERM; true when it ended cleanly (exit code 0, and no
    // sanitizer report in its log).
    bool stop();
    quint16 port() const { return m_port; }

    QStringList log();
    int countLines(const QString &part);

private:
    QProcess m_process;
    QByteArray m_log;
    quint16 m_port = 0;
};

// One exchange on a new connection: sends the bytes and reads until the
// server closes (or timeoutMs passes).
QByteArray exchange(quint16 port, const QByteArray &request, int timeoutMs = 10000);
// A GET as the program's relay client sends it, HTTP/1.0 with its headers.
QByteArray programRequest(const QByteArray &target);
int statusOf(const QByteArray &reply);
QByteArray bodyOf(const QByteArray &reply);

// Runs orvella-server with the arguments to its end (e.g. --check-config, or
// a start that must fail); its exit code, and its standard error in output.
int runServer(const QStringList &arguments, QByteArray &output);

// A header's value in a mail as the sink stored it; the envelope is in
// X-Sink-From and X-Sink-To.
QByteArray headerValue(const QByteArray &mail, const QByteArray &name);
// The envelope recipients of the mails, sorted.
QStringList recipients(const QList<QByteArray> &mails);

// A port that was free a moment ago.
quint16 freePort();
// Writes text to the file; false on failure.
bool writeFile(const QString &path, const QByteArray &text);

#endif
