#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "alertdispatch.h"
#include "alertsettingsdialog.h"
#include "areatint.h"
#include "capturelibrary.h"
#include "emailaddress.h"
#include "eventsdialog.h"
#include "framecomparison.h"
#include "framerecorder.h"
#include "ignoremask.h"
#include "imagelabel.h"
#include "orvellaversion.h"
#include "serverhost.h"
#include "webcam.h"

#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QSettings>

namespace
{

const int frameWidth = 480;
const int frameHeight = 320;
const int saveErrorShownMs = 5000;
const int relayErrorShownMs = 10000;
const int guardNoteShownMs = 10000;

// Sends the tick's alerts to the window's sound player and relay client.
class WindowAlerts : public AlertActions
{
public:
    WindowAlerts(SoundPlayer &sound, RelaySender &relay) : sound(sound), relay(relay) {}
    void playSound(const QString &path) override { sound.play(path); }
    void requestRelay(const QString &pathAndQuery) override
    {
        relay.send(serverHost(), serverPort(), pathAndQuery);
    }

private:
    SoundPlayer &sound;
    RelaySender &relay;
};

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), emailClient(nullptr, 0)
{
    ui->setupUi(this);

    deviceCount = setupCaptureLibrary();
    if (deviceCount == 0)
        showMessage(QMessageBox::Information,
                    "You must have a capturing device attached to this computer to utilise "
                    "this software instance.");

    aboutDialog.hide();

    // The per-user data folder ~/.kelvane/orvella: made at every start and
    // left empty, the place later versions keep their data in. Remembered
    // settings live with the desktop's other settings instead.
    QDir dataDir(QDir::homePath() + QDir::separator() + ".kelvane");
    ensureDirectory(dataDir);
    dataDir.setPath(dataDir.path() + QDir::separator() + "orvella");
    ensureDirectory(dataDir);

    recordCounter = 0;

    enumerateCameras(frameWidth, frameHeight);
    session.setSettingsSource([this] { return watchSettings(); });
    connect(&session, &WatchSession::stateChanged, this, &MainWindow::showCaptureState);
    connect(&session, &WatchSession::openFailed, this, &MainWindow::reportOpenFailure);
    connect(&session, &WatchSession::ticked, this, &MainWindow::updateCapture);
    connect(&session, &WatchSession::pictureLost, this, &MainWindow::showPictureLost);
    connect(&session, &WatchSession::pictureBack, this, &MainWindow::clearPictureLost);
    // Another message may take the status bar for a while; a lost camera is
    // said again once it is gone.
    connect(ui->statusBar, &QStatusBar::messageChanged, this, [this](const QString &message) {
        if (message.isEmpty() && !pictureLostText.isEmpty())
            ui->statusBar->showMessage(pictureLostText);
    });
    connect(&relaySender, &RelaySender::notSent, this, [this](const QString &reason) {
        ui->statusBar->showMessage("E-mail alert not sent: " + reason, relayErrorShownMs);
    });

    lastAlert = new QLabel(ui->statusBar);
    lastAlert->setObjectName("lastAlert");
    ui->statusBar->addPermanentWidget(lastAlert);
    lastAlert->hide();
    QStringList names;
    for (const Webcam *camera : cameras)
        names << camera->name;
    push.setCameras(names);
    connect(&push, &PushDispatcher::notSent, this, [this](PushChannel channel, const QString &why) {
        ui->statusBar->showMessage(pushNotSentText(channel, why), relayErrorShownMs);
    });
    connect(&session, &WatchSession::eventStarted, this, &MainWindow::startEvent);
    connect(&session, &WatchSession::eventUpdated, &eventOutputs, &EventOutputs::updated);
    connect(&session, &WatchSession::eventEnded, &eventOutputs, &EventOutputs::ended);
    connect(&eventOutputs, &EventOutputs::finished, this, &MainWindow::finishEvent);

    // A label of its own over the live picture, shown only while there is
    // something to tint.
    liveTint = new QLabel(ui->lblLiveImage->parentWidget());
    liveTint->setObjectName("liveTint");
    liveTint->setGeometry(ui->lblLiveImage->geometry());
    liveTint->setAttribute(Qt::WA_TransparentForMouseEvents);
    liveTint->hide();
    connect(ui->chkRecord, &QCheckBox::toggled, this, &MainWindow::keepClips);
    connect(&eventOutputs, &EventOutputs::problem, this,
            [this](const QString &text) { ui->statusBar->showMessage(text, relayErrorShownMs); });
}

MainWindow::~MainWindow()
{
    // An event still open leaves its files now, while all it needs is here.
    session.endEvent();
    // An open still under way must be over before its record goes.
    session.shutDown();
    while (!cameras.isEmpty()) {
        Webcam *camera = cameras.last();
        captureLibrary().deinitCapture(camera->deviceIndex);
        delete camera;
        cameras.removeLast();
    }
    delete ui;
}

void MainWindow::showMessage(QMessageBox::Icon icon, const QString &text)
{
    QMessageBox box;
    box.setWindowTitle(windowTitle());
    box.setWindowIcon(windowIcon());
    box.setIcon(icon);
    box.setText(text);
    box.exec();
}

void MainWindow::ensureDirectory(QDir dir)
{
    if (dir.exists())
        return;
    if (dir.mkdir(dir.absolutePath()))
        return;
    QMessageBox box;
    box.setWindowTitle("Orvella");
    box.setText("Error establishing data directory, please restart the application");
    box.exec();
    close();
}

void MainWindow::enumerateCameras(int width, int height)
{
    if (deviceCount == 0)
        return;
    for (int i = 0; i < deviceCount; ++i) {
        char nameBuffer[512];
        captureLibrary().getCaptureDeviceName(i, nameBuffer, sizeof nameBuffer);
        const QString name = deviceNameFromBuffer(nameBuffer, sizeof nameBuffer);

        auto *camera = new Webcam(i, width, height);
        // The library is asked again per device whether that device is still there.
        camera->usable = i < setupCaptureLibrary();
        camera->name = name;
        cameras.append(camera);
        ui->camCombo->addItem(name);
    }
}

void MainWindow::on_actionE_xit_triggered()
{
    close();
}

Webcam *MainWindow::selectedCamera() const
{
    return cameras.at(ui->camCombo->currentIndex());
}

void MainWindow::toggleCapture()
{
    ui->cmdBeginCapture->click();
}

bool MainWindow::selectCamera(const QString &name)
{
    const int index = ui->camCombo->findText(name, Qt::MatchExactly);
    if (index < 0)
        return false;
    ui->camCombo->setCurrentIndex(index);
    return true;
}

void MainWindow::on_cmdBeginCapture_clicked()
{
    if (ui->cmdBeginCapture->text() != "Enable") {
        session.stop();
        return;
    }

    if (cameras.isEmpty())
        return;
    if (ui->chkRecord->isChecked() && ui->txtOutputDirPath->text().isEmpty()) {
        showMessage(QMessageBox::Information,
                    "You must specify an output directory to record any activity.");
        return;
    }

    loadCameraMask(selectedCamera()->name);
    keepClips();
    session.start(selectedCamera());
}

void MainWindow::applyAlertSettings(const AlertSettings &settings)
{
    alertSettings = settings;
    showTint();
}

void MainWindow::applyOutputSettings(const OutputSettings &settings)
{
    outputSettings = settings;
    keepClips();
}

// The library keeps the pre-roll (and for a raw camera, encodes) only for
// the camera being watched, and only while its events will have clips.
void MainWindow::keepClips()
{
    const bool wanted = ui->chkRecord->isChecked() && outputSettings.clips() &&
                        !ui->txtOutputDirPath->text().isEmpty();
    if (cameras.isEmpty())
        return;
    const Webcam *watched = session.camera() ? session.camera() : selectedCamera();
    for (const Webcam *camera : cameras)
        eventClips.keep(camera->deviceIndex, wanted && camera == watched
                                                 ? outputSettings.prerollSeconds * 1000
                                                 : -1);
}

void MainWindow::applyPushSettings(const PushSettings &settings)
{
    push.applySettings(settings);
}

void MainWindow::loadCameraMask(const QString &camera)
{
    QImage mask;
    QString error;
    if (loadIgnoreMask(ignoreMaskPath(camera), QSize(frameWidth, frameHeight), &mask, &error) ==
        MaskFile::Damaged)
        ui->statusBar->showMessage("The ignore areas of " + camera + " could not be read (" +
                                   error + "); they are not used.");
    ignoredArea = mask;
    session.setIgnoredArea(mask);
    showTint();
}

void MainWindow::saveCameraMask(const QString &camera, const QImage &mask)
{
    QString error;
    const QString path = ignoreMaskPath(camera);
    const bool saved =
        mask.isNull() ? !QFile::exists(path) || QFile::remove(path)
                      : QDir().mkpath(ignoreMaskFolder()) && saveIgnoreMask(path, mask, &error);
    if (!saved)
        ui->statusBar->showMessage("The ignore areas of " + camera + " could not be saved" +
                                       (error.isEmpty() ? QString() : " (" + error + ")") + ".",
                                   relayErrorShownMs);
    if (session.camera() && session.camera()->name == camera) {
        ignoredArea = mask;
        session.setIgnoredArea(mask);
        showTint();
    }
}

// The painted and steady areas over the live picture, for the guards that
// are on.
void MainWindow::showTint()
{
    const QImage &steady = session.steadyArea();
    tintedSteadyKey = steady.cacheKey();
    const QImage tint =
        areaTint(alertSettings.ignoreAreas ? ignoredArea : QImage(),
                 alertSettings.steadyMovement ? steady : QImage(), ui->lblLiveImage->size());
    if (tint.isNull()) {
        liveTint->hide();
        return;
    }
    liveTint->setPixmap(QPixmap::fromImage(tint));
    liveTint->show();
}

void MainWindow::finishEvent(const EventRecord &record)
{
    runEvents.append(record);
    if (eventsDialog)
        eventsDialog->addEvent(record);
}

void MainWindow::on_actionAlert_Settings_triggered()
{
    if (!alertDialog)
        alertDialog = new AlertSettingsDialog(push, this);
    alertDialog->setValues({alertSettings, outputSettings, push.settings()});
    const QString camera = cameras.isEmpty() ? QString() : selectedCamera()->name;
    if (!camera.isEmpty()) {
        QImage mask;
        QString error;
        loadIgnoreMask(ignoreMaskPath(camera), QSize(frameWidth, frameHeight), &mask, &error);
        alertDialog->setCamera(camera, mask);
    }
    alertDialog->setClipsAvailable(EventClips::available(),
                                   "The capture library cannot record clips.");
    if (alertDialog->exec() != QDialog::Accepted)
        return;

    const AlertSettingsValues values = alertDialog->values();
    applyAlertSettings(values.alerts);
    applyOutputSettings(values.output);
    applyPushSettings(values.push);
    QSettings settings("Kelvane", "Orvella");
    saveAlertSettings(settings, values.alerts);
    values.output.save(settings);
    values.push.save(settings);
    if (!camera.isEmpty() && alertDialog->maskChanged())
        saveCameraMask(camera, alertDialog->mask());
    showTint();
}

void MainWindow::on_actionEvents_triggered()
{
    if (!eventsDialog) {
        eventsDialog = new EventsDialog(this);
        for (const EventRecord &record : runEvents)
            eventsDialog->addEvent(record);
    }
    eventsDialog->setFolder(ui->txtOutputDirPath->text());
    eventsDialog->show();
    eventsDialog->raise();
}

void MainWindow::startEvent(const WatchEvent &event)
{
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(event.startMs);
    lastAlert->setText("Last alert: " + start.toString("hh:mm:ss"));
    lastAlert->show();
    EventOutputs::Target target;
    target.camera = session.camera() ? session.camera()->name : QString();
    target.folder = ui->txtOutputDirPath->text();
    target.record = ui->chkRecord->isChecked() && !target.folder.isEmpty();
    target.clips = outputSettings.clips() && EventClips::available();
    target.device = session.camera() ? session.camera()->deviceIndex : -1;
    target.postrollMs = outputSettings.postrollSeconds * 1000;
    eventOutputs.started(event, target);
}

// The button's caption is the capture state; the camera cannot change while
// it is being opened or watched.
void MainWindow::showCaptureState(WatchSession::State state)
{
    const bool idle = state == WatchSession::State::Idle;
    ui->cmdBeginCapture->setText(idle ? "Enable" : "Disable");
    ui->camCombo->setEnabled(idle);
    if (idle)
        clearPictureLost();
}

void MainWindow::reportOpenFailure(Webcam *camera)
{
    // The library's own reason, such as a missing plug-in and the package
    // that has it, stays in the status bar beside the fixed box.
    QString reason = camera->errorText();
    if (!reason.isEmpty()) {
        reason[0] = reason[0].toUpper();
        ui->statusBar->showMessage(reason);
    }
    showMessage(QMessageBox::Information,
                "The capturing device could not be initialised successfully, it may already be "
                "in use by another process (e.g. Skype etc).");
}

WatchSettings MainWindow::watchSettings() const
{
    WatchSettings settings;
    settings.filterChoice = ui->comboFilterChoice->currentIndex();
    settings.kernelSizeIndex = ui->comboKernelSize->currentIndex();
    settings.brightness = ui->hSlideBrightnessAdjust->value();
    settings.threshold = ui->hSlideDissimilarity->value();
    // Frames are saved where the output is frames (the default), and where
    // clips are chosen but the library cannot record them.
    settings.record =
        ui->chkRecord->isChecked() && (outputSettings.frames() || !EventClips::available());
    settings.onlyDissimilar = ui->chkDissimilar->isChecked();
    settings.alerts = alertSettings;
    return settings;
}

void MainWindow::updateCapture(const TickResult &tick)
{
    // The title goes first: the window system's answer to it then comes
    // while the pictures are drawn, not after this thread went to sleep.
    if (tick.compared) {
        const QString title = dissimilarityTitle(tick.dissimilarity);
        if (title != windowTitle())
            setWindowTitle(title);
    }
    showImage(ui->lblLiveImage, tick.frame, tick.opaque);
    if (alertDialog && alertDialog->isVisible())
        alertDialog->showFrame(tick.frame, session.steadyArea());
    if (!tick.compared)
        return;

    showImage(ui->lblDisPlotImage, session.difference(), true);
    if (session.steadyArea().cacheKey() != tintedSteadyKey)
        showTint();
    if (tick.lightingChange)
        ui->statusBar->showMessage("Lighting change ignored at " +
                                       QTime::currentTime().toString("hh:mm:ss"),
                                   guardNoteShownMs);
    if (tick.record)
        recordFrame(tick.frame);
    if (tick.alert)
        raiseAlerts(tick.level);
}

void MainWindow::recordFrame(const QImage &frame)
{
    const QString path = recordFilePath(ui->txtOutputDirPath->text(),
                                        QDateTime::currentDateTimeUtc(), recordCounter);
    // A lost frame is reported where it does not interrupt the watch.
    if (!saveFrame(frame, path))
        ui->statusBar->showMessage("Could not save " + QDir::toNativeSeparators(path),
                                   saveErrorShownMs);
    ++recordCounter;
}

void MainWindow::showPictureLost(const QDateTime &lastPicture)
{
    pictureLostText =
        "No picture from " + session.camera()->name + " since " + lastPicture.toString("hh:mm:ss");
    const QString reason = session.camera()->errorText();
    if (!reason.isEmpty())
        pictureLostText += " (" + reason + ")";
    ui->statusBar->showMessage(pictureLostText);
}

void MainWindow::clearPictureLost()
{
    if (pictureLostText.isEmpty())
        return;
    const bool shown = ui->statusBar->currentMessage() == pictureLostText;
    pictureLostText.clear();
    if (shown)
        ui->statusBar->clearMessage();
}

void MainWindow::raiseAlerts(int level)
{
    AlertRequest request;
    request.level = level;
    request.threshold = ui->hSlideDissimilarity->value();
    request.playSound = ui->chkPlaySound->isChecked();
    request.soundPath = ui->txtSoundFilePath->text();
    request.sendEmail = ui->chkEmail->isChecked();
    request.emailAddress = ui->txtEmailAddr->text();
    WindowAlerts actions(soundPlayer, relaySender);
    dispatchAlerts(request, actions);
}

void MainWindow::on_chkEmail_toggled(bool checked)
{
    ui->txtEmailAddr->setEnabled(!checked);
    if (!checked)
        return;
    if (!isValidEmailAddress(ui->txtEmailAddr->text())) {
        showMessage(QMessageBox::NoIcon, "Please provide a valid email address");
        ui->txtEmailAddr->setText(QString());
        ui->chkEmail->setChecked(false);
    }
}

void MainWindow::on_hSlideDissimilarity_valueChanged(int value)
{
    ui->lblSimilarValue->setText(QString::number(value) + "%");
}

void MainWindow::on_btnSelectOutputDir_clicked()
{
    QFileDialog dialog(nullptr, QString(), QString(), QString());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (!dialog.exec())
        return;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return;
    ui->txtOutputDirPath->setText(QDir::toNativeSeparators(chosen.first()) + QDir::separator());
}

void MainWindow::on_btnSelectSoundFile_clicked()
{
    const QString file = QFileDialog::getOpenFileName(
        this, tr("Select Audio File"), QDir::currentPath(), tr("Audio files (*.wav *.ogg);"),
        nullptr, QFileDialog::DontUseNativeDialog);
    if (!file.isNull())
        ui->txtSoundFilePath->setText(file);
}

void MainWindow::on_action_About_triggered()
{
    aboutDialog.show();
}

void MainWindow::on_actionUpdate_Check_triggered()
{
    updateQuery.setShowUpToDate(true);
    updateQuery.checkForUpdate("6", ORVELLA_VERSION);
}
