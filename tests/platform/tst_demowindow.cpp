#include "mainwindow.h"
#include "modalcloser.h"

#include <QComboBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

// The program's window against the real capture library, showing the demo
// camera: a figure walking through the room must lift the level in the title
// over the default threshold.
class tst_DemoWindow : public QObject
{
    Q_OBJECT

private slots:
    void demoCrossingShowsInTitle();
};

namespace
{

// The level in a title "Orvella - <value>% Dissimilarity", or -1.
double titleLevel(const QString &title)
{
    static const QRegularExpression pattern("^Orvella - ([0-9.e+-]+)% Dissimilarity$");
    const QRegularExpressionMatch match = pattern.match(title);
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

} // namespace

void tst_DemoWindow::demoCrossingShowsInTitle()
{
    qputenv("ORVELLA_CAPTURE_SOURCES", "Demo=demo");
    ModalCloser closer;
    MainWindow window;
    window.show();
    QCOMPARE(closer.count(), 0);

    auto *cameras = window.findChild<QComboBox *>("camCombo");
    auto *button = window.findChild<QPushButton *>("cmdBeginCapture");
    QVERIFY(cameras && button);
    const int demo = cameras->findText("Demo");
    QVERIFY(demo >= 0);
    cameras->setCurrentIndex(demo);

    button->click();
    QCOMPARE(button->text(), QString("Disable"));
    QTRY_VERIFY_WITH_TIMEOUT(titleLevel(window.windowTitle()) >= 0, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(titleLevel(window.windowTitle()) > 20, 12000);
    QTRY_VERIFY_WITH_TIMEOUT(titleLevel(window.windowTitle()) < 5, 12000);

    button->click();
    QCOMPARE(button->text(), QString("Enable"));
    QCOMPARE(closer.count(), 0);
}

QTEST_MAIN(tst_DemoWindow)
#include "tst_demowindow.moc"
