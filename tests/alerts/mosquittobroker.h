#ifndef ORVELLA_TEST_MOSQUITTOBROKER_H
#define ORVELLA_TEST_MOSQUITTOBROKER_H

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Debian's mosquitto broker on 127.0.0.1 and a free port, with a config of
// its own in a temporary folder; no system service involved. Messages and
// sessions are kept across a restart (persistence in that folder) unless
// told otherwise.
class MosquittoBroker
{
public:
    // extraConfig: lines added to the listener's config (TLS, passwords).
    explicit MosquittoBroker(const QString &extraConfig = QString(), bool persistence = true);
    ~MosquittoBroker();

    // Starts it and waits until it takes connections; false when it did not.
    bool start();
    // Stops it the orderly way (it saves its sessions) and waits for the end.
    void stop();

    quint16 port() const { return m_port; }
    QString dir() const { return m_dir.path(); }
    QString log() const { return m_log; }

private:
    QTemporaryDir m_dir;
    quint16 m_port = 0;
    QProcess m_process;
    QString m_log;
};

// Runs a program and waits for it; true when it exits with status 0.
bool runTool(const QString &program, const QStringList &arguments, QString *output = nullptr);

#endif
