#ifndef ORVELLA_MAINWINDOW_H
#define ORVELLA_MAINWINDOW_H

#include "aboutdialog.h"
#include "alertsettings.h"
#include "cupdatequery.h"
#include "cwebsocket.h"
#include "eventoutputs.h"
#include "outputsettings.h"
#include "pushdispatcher.h"
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
class AlertSettingsDialog;
class EventsDialog;
class QLabel;
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

    // How ticks over the threshold become alerts, from the next tick on;
    // what Record writes; where push messages go. A new window has the
    // defaults of each, with the push channels off.
    void applyAlertSettings(const AlertSettings &settings);
    void applyOutputSettings(const OutputSettings &settings);
    void applyPushSettings(const PushSettings &settings);
    const AlertSettings &currentAlertSettings() const { return alertSettings; }
    const OutputSettings &currentOutputSettings() const { return outputSettings; }
    const PushSettings &currentPushSettings() const { return push.settings(); }

private slots:
    void on_actionE_xit_triggered();
    void on_cmdBeginCapture_clicked();
    void on_chkEmail_toggled(bool checked);
    void on_hSlideDissimilarity_valueChanged(int value);
    void on_btnSelectOutputDir_clicked();
    void on_btnSelectSoundFile_clicked();
    void on_action_About_triggered();
    void on_actionUpdate_Check_triggered();
    void on_actionAlert_Settings_triggered();
    void on_actionEvents_triggered();

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
    void loadCameraMask(const QString &camera);
    void startEvent(const WatchEvent &event);
    void finishEvent(const EventRecord &record);
    void saveCameraMask(const QString &camera, const QImage &mask);
    void showTint();
    void keepClips();
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
    AlertSettings alertSettings;
    OutputSettings outputSettings;
    PushDispatcher push;
    EventClips eventClips;
    EventOutputs eventOutputs{push, eventClips};
    QLabel *lastAlert;  // in the status bar, once an event started
    QLabel *liveTint;   // over the live picture: painted and steady areas
    QImage ignoredArea; // of the camera being watched
    qint64 tintedSteadyKey = 0;
    QVector<EventRecord> runEvents;
    AlertSettingsDialog *alertDialog = nullptr;
    EventsDialog *eventsDialog = nullptr;
};

#endif
