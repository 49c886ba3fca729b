#include "alertsettingsdialog.h"
#include "areatint.h"
#include "ui_alertsettingsdialog.h"

#include <QFileDialog>
#include <QPainter>

#include <algorithm>

namespace
{

// The items of comboMeasure, in order.
const AlertSettings::Measure measures[] = {AlertSettings::MovingArea, AlertSettings::Darkening};

void showSwatch(QLabel *label, QRgb premultiplied)
{
    QImage swatch(label->minimumSize(), QImage::Format_ARGB32_Premultiplied);
    swatch.fill(Qt::white);
    QImage tint(swatch.size(), QImage::Format_ARGB32_Premultiplied);
    tint.fill(premultiplied);
    QPainter(&swatch).drawImage(0, 0, tint);
    label->setPixmap(QPixmap::fromImage(swatch));
}

void setTextColour(QLabel *label, const QColor &colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

const QColor failureColour(200, 0, 0);
const QColor successColour(0, 128, 0);

} // namespace

AlertSettingsDialog::AlertSettingsDialog(PushDispatcher &push, QWidget *parent)
    : QDialog(parent), ui(new Ui::AlertSettingsDialog), m_push(push)
{
    ui->setupUi(this);
    ui->spinQuietGap->setRange(minimumQuietGapSeconds, maximumQuietGapSeconds);
    ui->spinMinimumDuration->setMaximum(maximumMinimumDurationMs);
    ui->spinPreroll->setMaximum(maximumPrerollSeconds);
    ui->spinPostroll->setMaximum(maximumPostrollSeconds);
    showSwatch(ui->lblIgnoredSwatch, ignoredAreaTint);
    showSwatch(ui->lblSteadySwatch, steadyAreaTint);
    ui->spinBrushSize->setValue(ui->maskEditor->brushSize());
    ui->lblClipsUnavailable->hide();
    setTextColour(ui->lblClipsUnavailable, failureColour);
    ui->maskEditor->setEnabled(false);
    connect(&m_push, &PushDispatcher::testFinished, this, &AlertSettingsDialog::testFinished);
    setValues(AlertSettingsValues());
}

AlertSettingsDialog::~AlertSettingsDialog()
{
    delete ui;
}

void AlertSettingsDialog::setValues(const AlertSettingsValues &values)
{
    m_values = values;

    const AlertSettings &alerts = values.alerts;
    ui->chkIgnoreAreas->setChecked(alerts.ignoreAreas);
    ui->chkLightingChanges->setChecked(alerts.lightingChanges);
    ui->chkSteadyMovement->setChecked(alerts.steadyMovement);
    ui->chkMinimumDuration->setChecked(alerts.minimumDuration);
    ui->spinMinimumDuration->setValue(alerts.minimumDurationMs);
    ui->spinMinimumDuration->setEnabled(alerts.minimumDuration);
    ui->chkCameraGlitches->setChecked(alerts.cameraGlitches);
    ui->spinQuietGap->setValue(alerts.quietGapSeconds);
    const auto *measure = std::find(std::begin(measures), std::end(measures), alerts.measure);
    ui->comboMeasure->setCurrentIndex(
        measure == std::end(measures) ? 0 : int(measure - std::begin(measures)));

    const OutputSettings &output = values.output;
    ui->radioFrames->setChecked(output.kind == OutputSettings::Frames);
    ui->radioClips->setChecked(output.kind == OutputSettings::Clips);
    ui->radioFramesAndClips->setChecked(output.kind == OutputSettings::FramesAndClips);
    ui->spinPreroll->setValue(output.prerollSeconds);
    ui->spinPostroll->setValue(output.postrollSeconds);
    updateClipControls();

    const MqttSettings &mqtt = values.push.mqtt;
    ui->chkMqttEnabled->setChecked(mqtt.enabled);
    ui->txtMqttHost->setText(mqtt.host);
    ui->spinMqttPort->setValue(mqtt.port);
    ui->txtMqttUser->setText(mqtt.user);
    ui->txtMqttPasswordFile->setText(mqtt.passwordFile);
    ui->chkMqttTls->setChecked(mqtt.tls);
    ui->txtMqttCaFile->setText(mqtt.caFile);
    ui->txtMqttDiscoveryPrefix->setText(mqtt.discoveryPrefix);
    ui->txtMqttTopicPrefix->setText(mqtt.topicPrefix);
    const NtfySettings &ntfy = values.push.ntfy;
    ui->chkNtfyEnabled->setChecked(ntfy.enabled);
    ui->txtNtfyUrl->setText(ntfy.url);
    ui->txtNtfyUser->setText(ntfy.user);
    ui->txtNtfyPasswordFile->setText(ntfy.passwordFile);
    ui->chkNtfyAttachSnapshot->setChecked(ntfy.attachSnapshot);
    ui->chkWebhookEnabled->setChecked(values.push.webhook.enabled);
    ui->txtWebhookUrl->setText(values.push.webhook.url);
    for (QLabel *label : {ui->lblMqttTest, ui->lblNtfyTest, ui->lblWebhookTest})
        label->clear();
}

AlertSettingsValues AlertSettingsDialog::values() const
{
    AlertSettingsValues values = m_values;

    AlertSettings &alerts = values.alerts;
    alerts.ignoreAreas = ui->chkIgnoreAreas->isChecked();
    alerts.lightingChanges = ui->chkLightingChanges->isChecked();
    alerts.steadyMovement = ui->chkSteadyMovement->isChecked();
    alerts.minimumDuration = ui->chkMinimumDuration->isChecked();
    alerts.minimumDurationMs = ui->spinMinimumDuration->value();
    alerts.cameraGlitches = ui->chkCameraGlitches->isChecked();
    alerts.quietGapSeconds = ui->spinQuietGap->value();
    alerts.measure = measures[qBound(0, ui->comboMeasure->currentIndex(), 1)];

    OutputSettings &output = values.output;
    output.kind = ui->radioClips->isChecked()            ? OutputSettings::Clips
                  : ui->radioFramesAndClips->isChecked() ? OutputSettings::FramesAndClips
                                                         : OutputSettings::Frames;
    output.prerollSeconds = ui->spinPreroll->value();
    output.postrollSeconds = ui->spinPostroll->value();

    MqttSettings &mqtt = values.push.mqtt;
    mqtt.enabled = ui->chkMqttEnabled->isChecked();
    mqtt.host = ui->txtMqttHost->text().trimmed();
    mqtt.port = ui->spinMqttPort->value();
    mqtt.user = ui->txtMqttUser->text().trimmed();
    mqtt.passwordFile = ui->txtMqttPasswordFile->text().trimmed();
    mqtt.tls = ui->chkMqttTls->isChecked();
    mqtt.caFile = ui->txtMqttCaFile->text().trimmed();
    mqtt.discoveryPrefix = ui->txtMqttDiscoveryPrefix->text().trimmed();
    mqtt.topicPrefix = ui->txtMqttTopicPrefix->text().trimmed();
    NtfySettings &ntfy = values.push.ntfy;
    ntfy.enabled = ui->chkNtfyEnabled->isChecked();
    ntfy.url = ui->txtNtfyUrl->text().trimmed();
    ntfy.user = ui->txtNtfyUser->text().trimmed();
    ntfy.passwordFile = ui->txtNtfyPasswordFile->text().trimmed();
    ntfy.attachSnapshot = ui->chkNtfyAttachSnapshot->isChecked();
    values.push.webhook.enabled = ui->chkWebhookEnabled->isChecked();
    values.push.webhook.url = ui->txtWebhookUrl->text().trimmed();
    return values;
}

void AlertSettingsDialog::setCamera(const QString &name, const QImage &mask)
{
    ui->lblCamera->setText(QString("Camera: %1").arg(name));
    ui->maskEditor->setMask(mask);
    ui->maskEditor->setEnabled(true);
}

QImage AlertSettingsDialog::mask() const
{
    return ui->maskEditor->mask();
}

bool AlertSettingsDialog::maskChanged() const
{
    return ui->maskEditor->isChanged();
}

void AlertSettingsDialog::showFrame(const QImage &frame, const QImage &steadyArea)
{
    ui->maskEditor->showFrame(frame, steadyArea);
}

void AlertSettingsDialog::setClipsAvailable(bool available, const QString &reason)
{
    m_clipsAvailable = available;
    ui->lblClipsUnavailable->setText(reason);
    ui->lblClipsUnavailable->setVisible(!available && !reason.isEmpty());
    updateClipControls();
}

void AlertSettingsDialog::updateClipControls()
{
    // A saved clip choice stays chosen while the library lacks clips, so it
    // is not lost with a library that comes back; only Frames can be picked.
    ui->radioClips->setEnabled(m_clipsAvailable);
    ui->radioFramesAndClips->setEnabled(m_clipsAvailable);
    const bool rolls = m_clipsAvailable && !ui->radioFrames->isChecked();
    ui->spinPreroll->setEnabled(rolls);
    ui->spinPostroll->setEnabled(rolls);
}

void AlertSettingsDialog::on_chkMinimumDuration_toggled(bool checked)
{
    ui->spinMinimumDuration->setEnabled(checked);
}

void AlertSettingsDialog::on_radioFrames_toggled(bool)
{
    updateClipControls();
}

void AlertSettingsDialog::on_radioBrush_toggled(bool checked)
{
    if (checked)
        ui->maskEditor->setTool(MaskEditor::Brush);
}

void AlertSettingsDialog::on_radioRectangle_toggled(bool checked)
{
    if (checked)
        ui->maskEditor->setTool(MaskEditor::Rectangle);
}

void AlertSettingsDialog::on_radioErase_toggled(bool checked)
{
    if (checked)
        ui->maskEditor->setTool(MaskEditor::Erase);
}

void AlertSettingsDialog::on_spinBrushSize_valueChanged(int value)
{
    ui->maskEditor->setBrushSize(value);
}

void AlertSettingsDialog::on_btnClear_clicked()
{
    ui->maskEditor->clear();
}

void AlertSettingsDialog::chooseFile(QLineEdit *field, const QString &caption,
                                     const QString &filter)
{
    const QString file = QFileDialog::getOpenFileName(this, caption, field->text(), filter);
    if (!file.isNull())
        field->setText(file);
}

void AlertSettingsDialog::on_btnMqttPasswordFile_clicked()
{
    chooseFile(ui->txtMqttPasswordFile, tr("Select Password File"), QString());
}

void AlertSettingsDialog::on_btnMqttCaFile_clicked()
{
    chooseFile(ui->txtMqttCaFile, tr("Select CA Certificate"),
               tr("PEM certificates (*.pem *.crt);;All files (*)"));
}

void AlertSettingsDialog::on_btnNtfyPasswordFile_clicked()
{
    chooseFile(ui->txtNtfyPasswordFile, tr("Select Password or Token File"), QString());
}

void AlertSettingsDialog::on_btnMqttTest_clicked()
{
    startTest(PushChannel::Mqtt);
}

void AlertSettingsDialog::on_btnNtfyTest_clicked()
{
    startTest(PushChannel::Ntfy);
}

void AlertSettingsDialog::on_btnWebhookTest_clicked()
{
    startTest(PushChannel::Webhook);
}

QPushButton *AlertSettingsDialog::testButton(PushChannel channel) const
{
    switch (channel) {
    case PushChannel::Mqtt:
        return ui->btnMqttTest;
    case PushChannel::Ntfy:
        return ui->btnNtfyTest;
    case PushChannel::Webhook:
        break;
    }
    return ui->btnWebhookTest;
}

QLabel *AlertSettingsDialog::testLabel(PushChannel channel) const
{
    switch (channel) {
    case PushChannel::Mqtt:
        return ui->lblMqttTest;
    case PushChannel::Ntfy:
        return ui->lblNtfyTest;
    case PushChannel::Webhook:
        break;
    }
    return ui->lblWebhookTest;
}

void AlertSettingsDialog::startTest(PushChannel channel)
{
    m_testing[int(channel)] = true;
    testButton(channel)->setEnabled(false);
    setTextColour(testLabel(channel), palette().color(QPalette::WindowText));
    testLabel(channel)->setText(QString("Sending a test message..."));
    m_push.sendTest(channel, values().push);
}

void AlertSettingsDialog::testFinished(PushChannel channel, bool ok, const QString &text)
{
    // Only the answers to this dialog's own tests.
    if (!m_testing[int(channel)])
        return;
    m_testing[int(channel)] = false;
    testButton(channel)->setEnabled(true);
    QLabel *label = testLabel(channel);
    setTextColour(label, ok ? successColour : failureColour);
    label->setText(ok ? text : QString("Not sent: %1").arg(text));
}
