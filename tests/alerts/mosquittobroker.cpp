#include "mosquittobroker.h"

#include "httpsink.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

MosquittoBroker::MosquittoBroker(const QString &extraConfig, bool persistence)
    : m_port(HttpSink::freePort())
{
    // Run as root, the broker would switch to the "mosquitto" user, who
    // cannot read this folder; naming ourselves keeps it as it is.
    const passwd *me = getpwuid(geteuid());
    QFile config(m_dir.filePath(QStringLiteral("mosquitto.conf")));
    config.open(QIODevice::WriteOnly);
    QString text = QStringLiteral("user %1\n"
                                  "log_dest stderr\n"
                                  "log_type error\nlog_type warning\nlog_type notice\n"
                                  "log_type information\n"
                                  "per_listener_settings false\n")
                       .arg(QString::fromLocal8Bit(me ? me->pw_name : "root"));
    if (persistence) {
        text += QStringLiteral("persistence true\npersistence_location %1/\n").arg(m_dir.path());
    }
    text += QStringLiteral("listener %1 127.0.0.1\n").arg(m_port);
    if (extraConfig.isEmpty())
        text += QStringLiteral("allow_anonymous true\n");
    else
        text += extraConfig;
    config.write(text.toUtf8());
    config.close();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyRead,
                     [this] { m_log += QString::fromLocal8Bit(m_process.readAll()); });
}

MosquittoBroker::~MosquittoBroker()
{
    stop();
}

bool MosquittoBroker::start()
{
    m_process.start(QStringLiteral("/usr/sbin/mosquitto"),
                    {QStringLiteral("-c"), m_dir.filePath(QStringLiteral("mosquitto.conf"))});
    if (!m_process.waitForStarted(10000))
        return false;
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(500))
            return true;
        QTest::qWait(50);
    }
    return false;
}

void MosquittoBroker::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(20000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool runTool(const QString &program, const QStringList &arguments, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(60000);
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}
