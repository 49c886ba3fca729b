#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "alertdispatch.h"
#include "capturelibrary.h"
#include "emailaddress.h"
#include "framecomparison.h"
#include "frameprocessing.h"
#include "framerecorder.h"
#include "serverhost.h"
#include "webcam.h"

#include <QDateTime>
#include <QFileDialog>
#include <QPixmap>

namespace {

const int frameWidth = 480;
const int frameHeight = 320;
const int captureIntervalMs = 100;
// How long a tick waits for the camera before it gives up on that frame.
const int frameWaitMs = 1000;
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
        relay.send(serverHost(), 80, pathAndQuery);
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
    hasPreviousFrame = false;

    enumerateCameras(frameWidth, frameHeight);
    connect(&captureTimer, &QTimer::timeout, this, &MainWindow::updateCapture);
    connect(&relaySender, &RelaySender::notSent, this, [this](const QString &reason) {
        ui->statusBar->showMessage("E-mail alert not sent: " + reason, relayErrorShownMs);
    });
}

MainWindow::~MainWindow()
{
    captureTimer.stop();
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

void MainWindow::on_cmdBeginCapture_clicked()
{
    if (ui->cmdBeginCapture->text() != "Enable") {
        captureTimer.stop();
        cameras.at(ui->camCombo->currentIndex())->close();
        ui->cmdBeginCapture->setText("Enable");
        ui->camCombo->setEnabled(true);
        return;
    }

    if (cameras.isEmpty())
        return;
    if (ui->chkRecord->isChecked() && ui->txtOutputDirPath->text().isEmpty()) {
        showMessage(QMessageBox::Information,
                    "You must specify an output directory to record any activity.");
        return;
    }

    ui->cmdBeginCapture->setText("Disable");
    ui->camCombo->setEnabled(false);

    if (cameras.at(ui->camCombo->currentIndex())->open()) {
        captureTimer.setInterval(captureIntervalMs);
        captureTimer.start();
        return;
    }

    showMessage(QMessageBox::Information,
                "The capturing device could not be initialised successfully, it may already be "
                "in use by another process (e.g. Skype etc).");
    ui->cmdBeginCapture->setText("Enable");
    ui->camCombo->setEnabled(true);
}

void MainWindow::updateCapture()
{
    if (cameras.isEmpty())
        return;
    Webcam *camera = cameras.at(ui->camCombo->currentIndex());
    // No complete frame in time: skip this tick and keep the previous frame.
    if (!camera->captureFrame(frameWaitMs))
        return;

    const QImage frame =
        processFrame(camera->image, ui->comboFilterChoice->currentIndex(),
                     ui->comboKernelSize->currentIndex(), ui->hSlideBrightnessAdjust->value());
    ui->lblLiveImage->setPixmap(QPixmap::fromImage(frame));

    if (!hasPreviousFrame) {
        previousFrame = frame;
        hasPreviousFrame = true;
        return;
    }

    QImage difference;
    const double dissimilarity = compareFrames(previousFrame, frame, difference);
    ui->lblDisPlotImage->setPixmap(QPixmap::fromImage(difference));
    setWindowTitle(dissimilarityTitle(dissimilarity));

    if (ui->chkRecord->isChecked()) {
        const int level = dissimilarityLevel(dissimilarity);
        recordFrame(frame, level);
        raiseAlerts(level);
    }

    previousFrame = frame;
    hasPreviousFrame = true;
}

void MainWindow::recordFrame(const QImage &frame, int level)
{
    if (!shouldRecordFrame(ui->chkDissimilar->isChecked(), level,
                           ui->hSlideDissimilarity->value()))
        return;
    const QString path = recordFilePath(ui->txtOutputDirPath->text(),
                                        QDateTime::currentDateTimeUtc(), recordCounter);
    // A lost frame is reported where it does not interrupt the watch.
    if (!saveFrame(frame, path))
        ui->statusBar->showMessage("Could not save " + QDir::toNativeSeparators(path),
                                   saveErrorShownMs);
    ++recordCounter;
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
    updateQuery.checkForUpdate("6", "1.0");
}
