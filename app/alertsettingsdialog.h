#ifndef ORVELLA_ALERTSETTINGSDIALOG_H
#define ORVELLA_ALERTSETTINGSDIALOG_H

#include "alertsettings.h"
#include "outputsettings.h"
#include "pushdispatcher.h"
#include "pushsettings.h"

#include <QDialog>
#include <QImage>
#include <QString>

namespace Ui
{
class AlertSettingsDialog;
}

class QLabel;
class QPushButton;

// Everything the Alert Settings dialog edits, apart from the painted areas.
struct AlertSettingsValues {
    AlertSettings alerts;
    OutputSettings output;
    PushSettings push;
};

// "Alert Settings": the guards and the measure, the painted areas of the
// selected camera over its live picture, what Record saves, and the push
// channels, each with a test. The caller fills it, runs it and, after OK,
// reads values() and mask().
class AlertSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AlertSettingsDialog(PushDispatcher &push, QWidget *parent = nullptr);
    ~AlertSettingsDialog() override;

    void setValues(const AlertSettingsValues &values);
    // The values as the controls show them. Settings the dialog has no
    // control for (the MQTT node id) are those setValues() gave.
    AlertSettingsValues values() const;

    // The camera whose areas are painted, with its mask (nonzero where
    // ignored; null for none). Changes are counted from here.
    void setCamera(const QString &name, const QImage &mask);
    // The painted mask, Format_Grayscale8 480 x 320, 255 where ignored; null
    // when nothing is painted.
    QImage mask() const;
    bool maskChanged() const;

    // The latest processed frame and the places steady movement leaves out
    // (null for none), for every tick while the dialog is visible; both are
    // kept shared and painted only when the painting page shows.
    void showFrame(const QImage &frame, const QImage &steadyArea);

    // Whether the capture library can record clips; when it cannot, the
    // clip choices are disabled and reason is shown beside them.
    void setClipsAvailable(bool available, const QString &reason);

private slots:
    void on_chkMinimumDuration_toggled(bool checked);
    void on_radioFrames_toggled(bool checked);
    void on_radioBrush_toggled(bool checked);
    void on_radioRectangle_toggled(bool checked);
    void on_radioErase_toggled(bool checked);
    void on_spinBrushSize_valueChanged(int value);
    void on_btnClear_clicked();
    void on_btnMqttPasswordFile_clicked();
    void on_btnMqttCaFile_clicked();
    void on_btnNtfyPasswordFile_clicked();
    void on_btnMqttTest_clicked();
    void on_btnNtfyTest_clicked();
    void on_btnWebhookTest_clicked();

private:
    void updateClipControls();
    void chooseFile(class QLineEdit *field, const QString &caption, const QString &filter);
    void startTest(PushChannel channel);
    void testFinished(PushChannel channel, bool ok, const QString &text);
    QPushButton *testButton(PushChannel channel) const;
    QLabel *testLabel(PushChannel channel) const;

    Ui::AlertSettingsDialog *ui;
    PushDispatcher &m_push;
    AlertSettingsValues m_values;
    bool m_clipsAvailable = true;
    bool m_testing[3] = {}; // by PushChannel: a test of it is under way
};

#endif
