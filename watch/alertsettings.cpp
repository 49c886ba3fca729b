#include "alertsettings.h"

#include <QSettings>

namespace
{

const char group[] = "alerts";

// Reads one group the way the settings file gives values back: as text,
// or with their own type when this process wrote them.
class Reader
{
public:
    Reader(QSettings &settings, QStringList *problems) : settings(settings), problems(problems) {}

    bool flag(const char *key, bool fallback)
    {
        if (!settings.contains(key))
            return fallback;
        const QString text = settings.value(key).toString();
        if (text == "true" || text == "false")
            return text == "true";
        return damaged(key, fallback);
    }

    int number(const char *key, int minimum, int maximum, int fallback)
    {
        if (!settings.contains(key))
            return fallback;
        bool ok = false;
        const int value = settings.value(key).toString().toInt(&ok);
        if (ok && value >= minimum && value <= maximum)
            return value;
        return damaged(key, fallback);
    }

    AlertSettings::Measure measure(const char *key, AlertSettings::Measure fallback)
    {
        if (!settings.contains(key))
            return fallback;
        AlertSettings::Measure measure;
        if (measureFromName(settings.value(key).toString(), &measure))
            return measure;
        return damaged(key, fallback);
    }

private:
    template <typename T> T damaged(const char *key, T fallback)
    {
        if (problems)
            problems->append(QString(group) + "/" + key);
        return fallback;
    }

    QSettings &settings;
    QStringList *problems;
};

} // namespace

AlertSettings AlertSettings::off()
{
    AlertSettings settings;
    settings.ignoreAreas = false;
    settings.lightingChanges = false;
    settings.steadyMovement = false;
    settings.minimumDuration = false;
    settings.cameraGlitches = false;
    settings.measure = Darkening;
    return settings;
}

bool AlertSettings::operator==(const AlertSettings &other) const
{
    return quietGapSeconds == other.quietGapSeconds && ignoreAreas == other.ignoreAreas &&
           lightingChanges == other.lightingChanges && steadyMovement == other.steadyMovement &&
           minimumDuration == other.minimumDuration &&
           minimumDurationMs == other.minimumDurationMs && cameraGlitches == other.cameraGlitches &&
           measure == other.measure;
}

AlertSettings loadAlertSettings(QSettings &settings, QStringList *problems)
{
    const AlertSettings defaults;
    AlertSettings alerts;
    settings.beginGroup(group);
    Reader read(settings, problems);
    alerts.quietGapSeconds = read.number("quietGap", minimumQuietGapSeconds, maximumQuietGapSeconds,
                                         defaults.quietGapSeconds);
    alerts.ignoreAreas = read.flag("ignoreAreas", defaults.ignoreAreas);
    alerts.lightingChanges = read.flag("lightingChanges", defaults.lightingChanges);
    alerts.steadyMovement = read.flag("steadyMovement", defaults.steadyMovement);
    alerts.minimumDuration = read.flag("minimumDuration", defaults.minimumDuration);
    alerts.minimumDurationMs =
        read.number("minimumDurationMs", 0, maximumMinimumDurationMs, defaults.minimumDurationMs);
    alerts.cameraGlitches = read.flag("cameraGlitches", defaults.cameraGlitches);
    alerts.measure = read.measure("measure", defaults.measure);
    settings.endGroup();
    return alerts;
}

void saveAlertSettings(QSettings &settings, const AlertSettings &alerts)
{
    settings.beginGroup(group);
    settings.setValue("quietGap", alerts.quietGapSeconds);
    settings.setValue("ignoreAreas", alerts.ignoreAreas);
    settings.setValue("lightingChanges", alerts.lightingChanges);
    settings.setValue("steadyMovement", alerts.steadyMovement);
    settings.setValue("minimumDuration", alerts.minimumDuration);
    settings.setValue("minimumDurationMs", alerts.minimumDurationMs);
    settings.setValue("cameraGlitches", alerts.cameraGlitches);
    settings.setValue("measure", measureName(alerts.measure));
    settings.endGroup();
}

QString measureName(AlertSettings::Measure measure)
{
    return measure == AlertSettings::MovingArea ? "area" : "darkening";
}

bool measureFromName(const QString &name, AlertSettings::Measure *measure)
{
    if (name == "darkening")
        *measure = AlertSettings::Darkening;
    else if (name == "area")
        *measure = AlertSettings::MovingArea;
    else
        return false;
    return true;
}
