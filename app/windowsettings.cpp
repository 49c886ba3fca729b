#include "windowsettings.h"

#include "emailaddress.h"
#include "mainwindow.h"
#include "windowstart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDataStream>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>

namespace
{

const char organisation[] = "Kelvane";
const char application[] = "Orvella";
// Moves come in bursts while the window is dragged; the last one counts.
const int geometryDelayMs = 500;
const int writeFailureShownMs = 10000;

const char *const keys[] = {"camera",    "filter",       "kernel",         "brightness",
                            "threshold", "record",       "onlyDissimilar", "outputDir",
                            "sendEmail", "emailAddress", "playSound",      "soundFile",
                            "geometry"};

template <typename T> T *control(QMainWindow &window, const char *name)
{
    return window.findChild<T *>(name);
}

// Reads keys of the settings file, each in the form this program writes it.
// A key that is there but malformed marks the whole file damaged.
class SettingsReader
{
public:
    explicit SettingsReader(QSettings &settings) : settings(settings) {}

    bool damaged = false;

    // The file gives every value back as text; values this process wrote
    // come back with their own type.
    QString text(const char *key)
    {
        const QVariant value = settings.value(key);
        if (!value.isValid())
            return QString();
        if (value.type() == QVariant::StringList || !value.canConvert<QString>()) {
            damaged = true;
            return QString();
        }
        return value.toString();
    }

    int number(const char *key, int minimum, int maximum, int fallback)
    {
        if (!settings.contains(key))
            return fallback;
        bool ok = false;
        const int value = text(key).toInt(&ok);
        if (!ok || value < minimum || value > maximum) {
            damaged = true;
            return fallback;
        }
        return value;
    }

    bool flag(const char *key)
    {
        if (!settings.contains(key))
            return false;
        const QString value = text(key);
        if (value != "true" && value != "false")
            damaged = true;
        return value == "true";
    }

    // What QWidget::saveGeometry writes starts with its own magic number.
    QByteArray geometry(const char *key)
    {
        const QVariant value = settings.value(key);
        if (!value.isValid())
            return QByteArray();
        const QByteArray bytes = value.toByteArray();
        QDataStream stream(bytes);
        quint32 magic = 0;
        stream >> magic;
        if (value.type() != QVariant::ByteArray || magic != 0x1D9D0CB) {
            damaged = true;
            return QByteArray();
        }
        return bytes;
    }

private:
    QSettings &settings;
};

// The alert, output and push settings are groups of their own.
const char *const groups[] = {"alerts", "output", "push"};

bool holdsAnyKey(const QSettings &settings)
{
    for (const char *key : keys)
        if (settings.contains(key))
            return true;
    const QStringList present = settings.childGroups();
    for (const char *group : groups)
        if (present.contains(group))
            return true;
    return false;
}

} // namespace

WindowSettings::WindowSettings(MainWindow &window) : window(window)
{
    geometryTimer.setSingleShot(true);
    geometryTimer.setInterval(geometryDelayMs);
    connect(&geometryTimer, &QTimer::timeout, this, &WindowSettings::writeGeometry);
    restore();
    watchControls();
    window.installEventFilter(this);
}

WindowSettings::~WindowSettings()
{
    if (geometryTimer.isActive())
        writeGeometry();
}

QString WindowSettings::filePath()
{
    return QSettings(organisation, application).fileName();
}

QString WindowSettings::damagedFilePath()
{
    return filePath() + ".damaged";
}

void WindowSettings::restore()
{
    QSettings settings(organisation, application);
    if (!QFileInfo::exists(settings.fileName()))
        return; // first start: the form's own state

    auto *cameras = control<QComboBox>(window, "camCombo");
    auto *filter = control<QComboBox>(window, "comboFilterChoice");
    auto *kernel = control<QComboBox>(window, "comboKernelSize");
    auto *brightness = control<QSlider>(window, "hSlideBrightnessAdjust");
    auto *threshold = control<QSlider>(window, "hSlideDissimilarity");

    SettingsReader read(settings);
    const QString camera = read.text("camera");
    const int filterIndex = read.number("filter", 0, filter->count() - 1, filter->currentIndex());
    const int kernelIndex = read.number("kernel", 0, kernel->count() - 1, kernel->currentIndex());
    const int brightnessValue = read.number("brightness", brightness->minimum(),
                                            brightness->maximum(), brightness->value());
    const int thresholdValue =
        read.number("threshold", threshold->minimum(), threshold->maximum(), threshold->value());
    const bool record = read.flag("record");
    const bool onlyDissimilar = read.flag("onlyDissimilar");
    const QString outputDir = read.text("outputDir");
    const bool sendEmail = read.flag("sendEmail");
    const QString emailAddress = read.text("emailAddress");
    const bool playSound = read.flag("playSound");
    const QString soundFile = read.text("soundFile");
    const QByteArray geometry = read.geometry("geometry");

    if (read.damaged || settings.status() != QSettings::NoError || !holdsAnyKey(settings)) {
        const QString damaged = damagedFilePath();
        QFile::remove(damaged);
        QFile::rename(settings.fileName(), damaged);
        appendStatusMessage(window, QString("The remembered settings could not be read; they were "
                                            "moved to %1 and the defaults are in use.")
                                        .arg(QFileInfo(damaged).fileName()));
        return;
    }

    if (!geometry.isEmpty())
        window.restoreGeometry(geometry);

    // A camera that is gone leaves the first one selected.
    const int cameraIndex = cameras->findText(camera, Qt::MatchExactly);
    if (cameraIndex >= 0)
        cameras->setCurrentIndex(cameraIndex);
    else if (!camera.isEmpty() && cameras->count() > 0)
        appendStatusMessage(window, "Camera \"" + camera + "\" is not connected; using \"" +
                                        cameras->currentText() + "\".");

    filter->setCurrentIndex(filterIndex);
    kernel->setCurrentIndex(kernelIndex);
    brightness->setValue(brightnessValue);
    threshold->setValue(thresholdValue);

    control<QLineEdit>(window, "txtOutputDirPath")->setText(outputDir);
    const bool folderGone = !outputDir.isEmpty() && !QDir(outputDir).exists();
    if (record && folderGone)
        appendStatusMessage(window,
                            "Record is off: the output folder " + outputDir + " no longer exists.");
    control<QCheckBox>(window, "chkRecord")->setChecked(record && !folderGone);
    control<QCheckBox>(window, "chkDissimilar")->setChecked(onlyDissimilar);

    // Ticking the box runs the window's own address check, which passes
    // silently for a valid address; an invalid one is left unticked rather
    // than asked about at start-up.
    control<QLineEdit>(window, "txtEmailAddr")->setText(emailAddress);
    if (sendEmail && isValidEmailAddress(emailAddress))
        control<QCheckBox>(window, "chkEmail")->setChecked(true);
    else if (sendEmail)
        appendStatusMessage(window,
                            "Send Email is off: \"" + emailAddress + "\" is not a valid address.");

    control<QLineEdit>(window, "txtSoundFilePath")->setText(soundFile);
    control<QCheckBox>(window, "chkPlaySound")->setChecked(playSound);

    QStringList problems;
    AlertSettings alerts = loadAlertSettings(settings, &problems);
    // Whoever set a threshold before there was a choice of measure set it
    // for the mean darkening, and keeps it until choosing another.
    if (settings.contains("threshold") && !settings.contains("alerts/measure"))
        alerts.measure = AlertSettings::Darkening;
    window.applyAlertSettings(alerts);
    window.applyOutputSettings(OutputSettings::load(settings));
    window.applyPushSettings(PushSettings::load(settings));
    if (!problems.isEmpty())
        appendStatusMessage(window, "Alert settings not understood, their defaults are in use: " +
                                        problems.join(", ") + ".");
}

void WindowSettings::watchControls()
{
    auto *cameras = control<QComboBox>(window, "camCombo");
    connect(cameras, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this, cameras](int index) {
                if (index >= 0)
                    write("camera", cameras->currentText());
            });

    const struct {
        const char *key;
        const char *name;
    } combos[] = {{"filter", "comboFilterChoice"}, {"kernel", "comboKernelSize"}},
      sliders[] = {{"brightness", "hSlideBrightnessAdjust"}, {"threshold", "hSlideDissimilarity"}},
      boxes[] = {{"record", "chkRecord"},
                 {"onlyDissimilar", "chkDissimilar"},
                 {"sendEmail", "chkEmail"},
                 {"playSound", "chkPlaySound"}},
      fields[] = {{"outputDir", "txtOutputDirPath"},
                  {"emailAddress", "txtEmailAddr"},
                  {"soundFile", "txtSoundFilePath"}};

    for (const auto &entry : combos) {
        const QString key = entry.key;
        connect(control<QComboBox>(window, entry.name),
                QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                [this, key](int index) { write(key, index); });
    }
    for (const auto &entry : sliders) {
        const QString key = entry.key;
        connect(control<QSlider>(window, entry.name), &QSlider::valueChanged, this,
                [this, key](int value) { write(key, value); });
    }
    for (const auto &entry : boxes) {
        const QString key = entry.key;
        connect(control<QCheckBox>(window, entry.name), &QCheckBox::toggled, this,
                [this, key](bool checked) { write(key, checked); });
    }
    for (const auto &entry : fields) {
        const QString key = entry.key;
        connect(control<QLineEdit>(window, entry.name), &QLineEdit::textChanged, this,
                [this, key](const QString &text) { write(key, text); });
    }
}

bool WindowSettings::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &window) {
        switch (event->type()) {
        case QEvent::Show:
            windowShown = true;
            break;
        case QEvent::Move:
            if (windowShown)
                geometryTimer.start();
            break;
        case QEvent::Close:
            if (windowShown)
                writeGeometry();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void WindowSettings::write(const QString &key, const QVariant &value)
{
    QSettings settings(organisation, application);
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() != QSettings::NoError && !writeFailureShown) {
        writeFailureShown = true;
        window.statusBar()->showMessage("Settings could not be saved to " + settings.fileName(),
                                        writeFailureShownMs);
    }
}

void WindowSettings::writeGeometry()
{
    geometryTimer.stop();
    write("geometry", window.saveGeometry());
}
