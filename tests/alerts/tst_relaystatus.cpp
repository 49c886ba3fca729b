#include "fakeescapi.h"
#include "localpeer.h"
#include "mainwindow.h"
#include "modalcloser.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QNetworkProxy>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

// The window's own relay request, from a tick over the threshold, fails: the
// status bar says so.
class TestRelayStatus : public QObject
{
    Q_OBJECT
private slots:
    void failedAlertShowsInStatusBar();
};

void TestRelayStatus::failedAlertShowsInStatusBar()
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    ModalCloser modals;
    // The relay's host is reached through a proxy on 127.0.0.1 that refuses,
    // so no name is ever looked up.
    QNetworkProxy::setApplicationProxy(QNetworkProxy(
        QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), LocalPeer::closedPort()));
    fakeEscapi_setDeviceCount(1);
    const std::vector<unsigned int> white(480 * 320, 0xFFFFFFFF);
    const std::vector<unsigned int> black(480 * 320, 0xFF000000);
    fakeEscapi_queueFrame(0, white.data(), int(white.size()));
    fakeEscapi_queueFrame(0, black.data(), int(black.size()));

    MainWindow window;
    window.applyAlertSettings(AlertSettings::off());
    window.show();
    window.findChild<QLineEdit *>("txtOutputDirPath")->setText(home.path() + "/");
    window.findChild<QLineEdit *>("txtEmailAddr")->setText("guard@cam.example.org");
    window.findChild<QCheckBox *>("chkEmail")->setChecked(true);
    window.findChild<QCheckBox *>("chkRecord")->setChecked(true);
    window.findChild<QPushButton *>("cmdBeginCapture")->click();

    auto *status = window.findChild<QStatusBar *>("statusBar");
    QTRY_COMPARE(status->currentMessage(),
                 QStringLiteral("E-mail alert not sent: connection refused"));
    QCOMPARE(modals.count(), 0);
    window.findChild<QPushButton *>("cmdBeginCapture")->click();
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
}

QTEST_MAIN(TestRelayStatus)
#include "tst_relaystatus.moc"
