#ifndef ORVELLA_ALERTSETTINGS_H
#define ORVELLA_ALERTSETTINGS_H

#include <QString>
#include <QStringList>

class QSettings;

// How ticks at or over the threshold become alerts and events. The members'
// defaults are what a new user gets; off() is the plain threshold rule, where
// every tick at or over the threshold alerts.
struct AlertSettings {
    // What the level measures.
    enum Measure {
        Darkening = 0,  // the mean darkening of the counted pixels
        MovingArea = 1, // the share of the counted pixels that changed
    };

    // Alerting ticks closer together than this form one event.
    int quietGapSeconds = 10;
    // The camera's painted areas do not count.
    bool ignoreAreas = true;
    // A change of the whole picture's brightness is not an alert.
    bool lightingChanges = true;
    // Places that keep moving stop counting after a while.
    bool steadyMovement = true;
    // The level must stay at or over the threshold this long before an event starts.
    bool minimumDuration = true;
    int minimumDurationMs = 300;
    // The first frames after a start or a lost picture, frozen frames and
    // frames of one colour start no event.
    bool cameraGlitches = true;
    Measure measure = MovingArea;

    static AlertSettings off();

    bool operator==(const AlertSettings &other) const;
    bool operator!=(const AlertSettings &other) const { return !(*this == other); }
};

// The ranges the dialog and the command line accept.
const int minimumQuietGapSeconds = 1;
const int maximumQuietGapSeconds = 600;
const int maximumMinimumDurationMs = 5000;

// Reads the "alerts" group of settings. A missing key takes its default; a
// malformed one too, and its key is added to problems.
AlertSettings loadAlertSettings(QSettings &settings, QStringList *problems = nullptr);
void saveAlertSettings(QSettings &settings, const AlertSettings &alerts);

// "darkening" or "area", as the settings file and the command line write it.
QString measureName(AlertSettings::Measure measure);
bool measureFromName(const QString &name, AlertSettings::Measure *measure);

#endif
