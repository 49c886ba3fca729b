#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "alertdispatch.h"
#include "capturelibrary.h"
#include "emailaddress.h"
#include "framecomparison.h"
#include "framerecorder.h"
#include "imagelabel.h"
#include "orvellaversion.h"
#include "serverhost.h"
#include "webcam.h"

#include <QFileDialog>

namespace
{

const int frameWidth = 480;
const int frameHeight = 320;
const int saveErrorShownMs = 5000;
const int relayErrorShownMs = 10000;

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
}

MainWindow::~MainWindow()
{
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

    session.start(selectedCamera());
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
    settings.record = ui->chkRecord->isChecked();
    settings.onlyDissimilar = ui->chkDissimilar->isChecked();
    return settings;
}

void MainWindow::updateCapture(const TickResult &tick)
{
    showImage(ui->lblLiveImage, tick.frame, tick.opaque);
    if (!tick.compared)
        return;

    showImage(ui->lblDisPlotImage, session.difference(), true);
    const QString title = dissimilarityTitle(tick.dissimilarity);
    if (title != windowTitle())
        setWindowTitle(title);
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
