#ifndef ORVELLA_MAINWINDOW_H
#define ORVELLA_MAINWINDOW_H

#include "aboutdialog.h"
#include "cupdatequery.h"
#include "cwebsocket.h"
#include "relaysender.h"
#include "soundplayer.h"

#include <QDir>
#include <QImage>
#include <QMainWindow>
#include <QMessageBox>
#include <QTimer>
#include <QVector>

namespace Ui {
class MainWindow;
}
class Webcam;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The tests drive single ticks and look at the capture state directly.
    friend class TestMainWindow;

private slots:
    void on_actionE_xit_triggered();
    void on_cmdBeginCapture_clicked();
    void updateCapture();
    void on_chkEmail_toggled(bool checked);
    void on_hSlideDissimilarity_valueChanged(int value);
    void on_btnSelectOutputDir_clicked();
    void on_btnSelectSoundFile_clicked();
    void on_action_About_triggered();
    void on_actionUpdate_Check_triggered();

private:
    void ensureDirectory(QDir dir);
    void enumerateCameras(int width, int height);
    void recordFrame(const QImage &frame, int level);
    void raiseAlerts(int level);
    // A modal box with no parent, carrying this window's title and icon.
    void showMessage(QMessageBox::Icon icon, const QString &text);

    Ui::MainWindow *ui;
    QVector<Webcam *> cameras;
    int deviceCount = 0;
    bool hasPreviousFrame = false;
    QImage previousFrame;
    quint32 recordCounter = 0;
    QTimer captureTimer;
    aboutdialog aboutDialog;
    Vesk::QtLib::UpdateSys::CUpdateQuery updateQuery;
    Vesk::QtLib::Web::CWebSocket emailClient;
    RelaySender relaySender{emailClient, this};
    SoundPlayer soundPlayer;
};

#endif
