#include "alertsettingsdialog.h"
#include "httpsink.h"
#include "maskeditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>

namespace
{

// Every setting away from its default.
AlertSettingsValues unusualValues()
{
    AlertSettingsValues v;
    v.alerts.quietGapSeconds = 37;
    v.alerts.ignoreAreas = false;
    v.alerts.lightingChanges = false;
    v.alerts.steadyMovement = false;
    v.alerts.minimumDuration = false;
    v.alerts.minimumDurationMs = 1200;
    v.alerts.cameraGlitches = false;
    v.alerts.measure = AlertSettings::Darkening;
    v.output.kind = OutputSettings::FramesAndClips;
    v.output.prerollSeconds = 12;
    v.output.postrollSeconds = 45;
    MqttSettings &m = v.push.mqtt;
    m.enabled = true;
    m.host = "broker.lan";
    m.port = 8883;
    m.user = "cam";
    m.passwordFile = "/etc/orvella/mqtt-password";
    m.tls = true;
    m.caFile = "/etc/orvella/ca.pem";
    m.discoveryPrefix = "ha";
    m.topicPrefix = "house/cams";
    m.nodeId = "attic"; // no control: kept as given
    NtfySettings &n = v.push.ntfy;
    n.enabled = true;
    n.url = "https://push.example/cams";
    n.user = "me";
    n.passwordFile = "/home/me/.ntfy-token";
    n.attachSnapshot = false;
    v.push.webhook.enabled = true;
    v.push.webhook.url = "http://127.0.0.1:9/hook";
    return v;
}

// The controls by name with what unusualValues() puts in them.
const QVector<QPair<const char *, QVariant>> &unusualControls()
{
    static const QVector<QPair<const char *, QVariant>> controls{
        {"spinQuietGap", 37},
        {"chkIgnoreAreas", false},
        {"chkLightingChanges", false},
        {"chkSteadyMovement", false},
        {"chkMinimumDuration", false},
        {"spinMinimumDuration", 1200},
        {"chkCameraGlitches", false},
        {"comboMeasure", 1},
        {"radioFramesAndClips", true},
        {"spinPreroll", 12},
        {"spinPostroll", 45},
        {"chkMqttEnabled", true},
        {"txtMqttHost", "broker.lan"},
        {"spinMqttPort", 8883},
        {"txtMqttUser", "cam"},
        {"txtMqttPasswordFile", "/etc/orvella/mqtt-password"},
        {"chkMqttTls", true},
        {"txtMqttCaFile", "/etc/orvella/ca.pem"},
        {"txtMqttDiscoveryPrefix", "ha"},
        {"txtMqttTopicPrefix", "house/cams"},
        {"chkNtfyEnabled", true},
        {"txtNtfyUrl", "https://push.example/cams"},
        {"txtNtfyUser", "me"},
        {"txtNtfyPasswordFile", "/home/me/.ntfy-token"},
        {"chkNtfyAttachSnapshot", false},
        {"chkWebhookEnabled", true},
        {"txtWebhookUrl", "http://127.0.0.1:9/hook"},
    };
    return controls;
}

QVariant controlValue(QWidget *w)
{
    if (auto *box = qobject_cast<QAbstractButton *>(w))
        return box->isChecked();
    if (auto *spin = qobject_cast<QSpinBox *>(w))
        return spin->value();
    if (auto *edit = qobject_cast<QLineEdit *>(w))
        return edit->text();
    if (auto *combo = qobject_cast<QComboBox *>(w))
        return combo->currentIndex();
    return QVariant();
}

// As a user would set it.
void setControl(QWidget *w, const QVariant &value)
{
    if (auto *box = qobject_cast<QAbstractButton *>(w)) {
        if (box->isChecked() != value.toBool())
            box->click();
    } else if (auto *spin = qobject_cast<QSpinBox *>(w)) {
        spin->setValue(value.toInt());
    } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
        edit->setText(value.toString());
    } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
        combo->setCurrentIndex(value.toInt());
    }
}

void compareValues(const AlertSettingsValues &actual, const AlertSettingsValues &expected)
{
    QVERIFY(actual.alerts == expected.alerts);
    QVERIFY(actual.output == expected.output);
    QVERIFY(actual.push.mqtt == expected.push.mqtt);
    QVERIFY(actual.push.ntfy == expected.push.ntfy);
    QVERIFY(actual.push.webhook == expected.push.webhook);
}

template <class T> T *child(QWidget &dialog, const char *name)
{
    T *found = dialog.findChild<T *>(name);
    if (!found)
        qFatal("no %s", name);
    return found;
}

} // namespace

class TestAlertSettingsDialog : public QObject
{
    Q_OBJECT
private slots:
    void defaultsRoundTrip();
    void valuesShowInTheControls();
    void controlsGiveTheValues();
    void measureChoice();
    void clipsUnavailable();
    void maskOfTheCamera();
    void sendTest_data();
    void sendTest();
    void failedTestSaysWhy();
};

void TestAlertSettingsDialog::defaultsRoundTrip()
{
    PushDispatcher push;
    AlertSettingsDialog dialog(push);
    QCOMPARE(dialog.windowTitle(), QString("Alert Settings"));
    compareValues(dialog.values(), AlertSettingsValues());
    dialog.setValues(unusualValues());
    dialog.setValues(AlertSettingsValues());
    compareValues(dialog.values(), AlertSettingsValues());
}

void TestAlertSettingsDialog::valuesShowInTheControls()
{
    PushDispatcher push;
    AlertSettingsDialog dialog(push);
    dialog.setValues(unusualValues());
    for (const auto &control : unusualControls())
        QVERIFY2(controlValue(child<QWidget>(dialog, control.first)) == control.second,
                 control.first);
    compareValues(dialog.values(), unusualValues());
}

void TestAlertSettingsDialog::controlsGiveTheValues()
{
    PushDispatcher push;
    AlertSettingsDialog dialog(push);
    AlertSettingsValues start;
    start.push.mqtt.nodeId = "attic";
    dialog.setValues(start);
    for (const auto &control : unusualControls())
        setControl(child<QWidget>(dialog, control.first), control.second);
    compareValues(dialog.values(), unusualValues());

    // Text fields are taken without the spaces around them.
    child<QLineEdit>(dialog, "txtWebhookUrl")->setText("  http://127.0.0.1:9/hook \t");
    QCOMPARE(dialog.values().push.webhook.url, QString("http://127.0.0.1:9/hook"));
}

void TestAlertSettingsDialog::measureChoice()
{
    PushDispatcher push;
    AlertSettingsDialog dialog(push);
    auto *combo = child<QComboBox>(dialog, "comboMeasure");
    QCOMPARE(combo->count(), 2);
    QCOMPARE(combo->itemText(0), QString("Changed area"));
    QCOMPARE(combo->itemText(1), QString("Darkening (classic)"));
    QCOMPARE(dialog.values().alerts.measure, AlertSettings::MovingArea);
    combo->setCurrentIndex(1);
    QCOMPARE(dialog.values().alerts.measure, AlertSettings::Darkening);

    // The minimum duration is only set while the guard is on.
    auto *minimum = child<QCheckBox>(dialog, "chkMinimumDuration");
    auto *duration = child<QSpinBox>(dialog, "spinMinimumDuration");
    QVERIFY(duration->isEnabled());
    minimum->click();
    QVERIFY(!duration->isEnabled());
}

void TestAlertSettingsDialog::clipsUnavailable()
{
    PushDispatcher push;
    AlertSettingsDialog dialog(push);
    AlertSettingsValues values;
    values.output.kind = OutputSettings::Clips;
    dialog.setValues(values);
    auto *reason = child<QLabel>(dialog, "lblClipsUnavailable");
    auto *clips = child<QRadioButton>(dialog, "radioClips");
    auto *both = child<QRadioButton>(dialog, "radioFramesAndClips");
    auto *frames = child<QRadioButton>(dialog, "radioFrames");
    auto *preroll = child<QSpinBox>(dialog, "spinPreroll");
    auto *postroll = child<QSpinBox>(dialog, "spinPostroll");
    QVERIFY(clips->isEnabled() && both->isEnabled() && preroll->isEnabled());
    QVERIFY(!!reason->isHidden());

    dialog.setClipsAvailable(false, "The capture library records no clips.");
    QVERIFY(!clips->isEnabled());
    QVERIFY(!both->isEnabled());
    QVERIFY(!preroll->isEnabled() && !postroll->isEnabled());
    QVERIFY(frames->isEnabled());
    QVERIFY(!reason->isHidden());
    QCOMPARE(reason->text(), QString("The capture library records no clips."));
    // The saved choice is kept for a library that has clips again.
    QCOMPARE(dialog.values().output.kind, OutputSettings::Clips);
    frames->click();
    QCOMPARE(dialog.values().output.kind, OutputSettings::Frames);

    dialog.setClipsAvailable(true, QString());
    QVERIFY(clips->isEnabled() && both->isEnabled());
    QVERIFY(!!reason->isHidden());
    // Pre- and post-roll belong to clips.
    QVERIFY(!preroll->isEnabled());
    both->click();
    QVERIFY(preroll->isEnabled() && postroll->isEnabled());
}

void TestAlertSettingsDialog::maskOfTheCamera()
{
    PushDispatcher push;
    AlertSettingsDialog dialog(push);
    auto *editor = child<MaskEditor>(dialog, "maskEditor");
    QVERIFY(!editor->isEnabled()); // no camera yet

    QImage mask(480, 320, QImage::Format_Grayscale8);
    mask.fill(0);
    mask.scanLine(6)[5] = 255;
    dialog.setCamera("Hall", mask);
    QVERIFY(editor->isEnabled());
    QCOMPARE(child<QLabel>(dialog, "lblCamera")->text(), QString("Camera: Hall"));
    QCOMPARE(dialog.mask(), mask);
    QVERIFY(!dialog.maskChanged());

    // The tools and the brush size reach the editor; Clear empties it.
    child<QRadioButton>(dialog, "radioRectangle")->click();
    QCOMPARE(editor->tool(), MaskEditor::Rectangle);
    child<QRadioButton>(dialog, "radioErase")->click();
    QCOMPARE(editor->tool(), MaskEditor::Erase);
    child<QSpinBox>(dialog, "spinBrushSize")->setValue(7);
    QCOMPARE(editor->brushSize(), 7);
    child<QPushButton>(dialog, "btnClear")->click();
    QVERIFY(dialog.mask().isNull());
    QVERIFY(dialog.maskChanged());

    // Another camera starts from its own mask.
    dialog.setCamera("Yard", QImage());
    QVERIFY(dialog.mask().isNull());
    QVERIFY(!dialog.maskChanged());

    // The editor is shown at the frame's size, so its pixels are the frame's.
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    child<QTabWidget>(dialog, "tabWidget")->setCurrentIndex(1);
    QVERIFY(editor->isVisible());
    QCOMPARE(editor->size(), QSize(480, 320));
}

void TestAlertSettingsDialog::sendTest_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("method");
    QTest::newRow("push") << int(PushChannel::Ntfy) << "btnNtfyTest"
                          << "lblNtfyTest"
                          << "txtNtfyUrl" << QByteArray("POST");
    QTest::newRow("webhook") << int(PushChannel::Webhook) << "btnWebhookTest"
                             << "lblWebhookTest"
                             << "txtWebhookUrl" << QByteArray("POST");
}

void TestAlertSettingsDialog::sendTest()
{
    QFETCH(QString, button);
    QFETCH(QString, label);
    QFETCH(QString, url);
    QFETCH(QByteArray, method);
    HttpSink sink;
    QVERIFY(sink.isListening());
    PushDispatcher push;
    push.setHttpTiming({}, 5000);
    AlertSettingsDialog dialog(push);
    // The dialog's own values, neither applied nor turned on.
    child<QLineEdit>(dialog, qPrintable(url))->setText(sink.url("/test").toString());
    auto *send = child<QPushButton>(dialog, qPrintable(button));
    auto *result = child<QLabel>(dialog, qPrintable(label));
    QSignalSpy finished(&push, &PushDispatcher::testFinished);
    send->click();
    QVERIFY(!send->isEnabled());
    QCOMPARE(result->text(), QString("Sending a test message..."));
    QVERIFY(finished.wait(10000));
    QCOMPARE(sink.requests.size(), 1);
    QCOMPARE(sink.requests.first().method, method);
    QCOMPARE(sink.requests.first().path, QByteArray("/test"));
    QCOMPARE(result->text(), QString("test message delivered"));
    QVERIFY(send->isEnabled());
    QVERIFY(push.settings().webhook.url.isEmpty() && push.settings().ntfy.url.isEmpty());
}

void TestAlertSettingsDialog::failedTestSaysWhy()
{
    PushDispatcher push;
    push.setHttpTiming({}, 5000);
    AlertSettingsDialog dialog(push);
    QSignalSpy finished(&push, &PushDispatcher::testFinished);

    // A refused webhook.
    const quint16 closed = HttpSink::freePort();
    child<QLineEdit>(dialog, "txtWebhookUrl")
        ->setText(QString("http://127.0.0.1:%1/hook").arg(closed));
    child<QPushButton>(dialog, "btnWebhookTest")->click();
    QVERIFY(finished.wait(10000));
    auto *webhook = child<QLabel>(dialog, "lblWebhookTest");
    QCOMPARE(webhook->text(), QString("Not sent: connection refused"));

    // An MQTT broker that is not there.
    child<QLineEdit>(dialog, "txtMqttHost")->setText("127.0.0.1");
    child<QSpinBox>(dialog, "spinMqttPort")->setValue(closed);
    child<QPushButton>(dialog, "btnMqttTest")->click();
    QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(dialog, "btnMqttTest")->isEnabled(), 15000);
    auto *mqtt = child<QLabel>(dialog, "lblMqttTest");
    QVERIFY2(mqtt->text().startsWith("Not sent: "), qPrintable(mqtt->text()));
    QVERIFY(mqtt->text().size() > QString("Not sent: ").size());
    // Each result beside its own channel.
    QCOMPARE(webhook->text(), QString("Not sent: connection refused"));
    QVERIFY(child<QLabel>(dialog, "lblNtfyTest")->text().isEmpty());

    // A test started elsewhere is not this dialog's to show.
    push.sendTest(PushChannel::Ntfy, PushSettings());
    QVERIFY(finished.wait(10000));
    QVERIFY(child<QLabel>(dialog, "lblNtfyTest")->text().isEmpty());
}

QTEST_MAIN(TestAlertSettingsDialog)
#include "tst_alertsettingsdialog.moc"
