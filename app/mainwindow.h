#ifndef ORVELLA_MAINWINDOW_H
#define ORVELLA_MAINWINDOW_H

#include "aboutdialog.h"
#include "cupdatequery.h"
#include "cwebsocket.h"
#include "relaysender.h"
#include "soundplayer.h"
#include "watchsession.h"

#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QMainWindow>
#include <QMessageBox>
#include <QVector>

namespace Ui
{
class MainWindow;
}
class Webcam;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Watching the selected camera; its state is the window's capture state.
    WatchSession &watchSession() { return session; }
    // Presses the capture button, as the user would.
    void toggleCapture();
    // Selects the camera with this name; false when there is none.
    bool selectCamera(const QString &name);

private slots:
    void on_actionE_xit_triggered();
    void on_cmdBeginCapture_clicked();
    void on_chkEmail_toggled(bool checked);
    void on_hSlideDissimilarity_valueChanged(int value);
    void on_btnSelectOutputDir_clicked();
    void on_btnSelectSoundFile_clicked();
    void on_action_About_triggered();
    void on_actionUpdate_Check_triggered();

private:
    void ensureDirectory(QDir dir);
    void enumerateCameras(int width, int height);
    Webcam *selectedCamera() const;
    void showCaptureState(WatchSession::State state);
    void reportOpenFailure(Webcam *camera);
    void updateCapture(const TickResult &tick);
    WatchSettings watchSettings() const;
    void recordFrame(const QImage &frame);
    void raiseAlerts(int level);
    void showPictureLost(const QDateTime &lastPicture);
    void clearPictureLost();
    // A modal box with no parent, carrying this window's title and icon.
    void showMessage(QMessageBox::Icon icon, const QString &text);

    Ui::MainWindow *ui;
    QVector<Webcam *> cameras;
    int deviceCount = 0;
    quint32 recordCounter = 0;
    WatchSession session;
    QString pictureLostText; // shown while the camera sends nothing
    aboutdialog aboutDialog;
    Vesk::QtLib::UpdateSys::CUpdateQuery updateQuery;
    Vesk::QtLib::Web::CWebSocket emailClient;
    RelaySender relaySender{emailClient, this};
    SoundPlayer soundPlayer;
};

#endif
