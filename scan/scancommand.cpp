#include "scancommand.h"

#include "clipdecoder.h"
#include "clipscan.h"
#include "ignoremask.h"

#include <QCommandLineParser>
#include <QSettings>
#include <QTextStream>

namespace
{

const int usageError = 1;

struct Option {
    const char *name;
    const char *description;
    const char *valueName;
};

const Option options[] = {
    {"scan", "Scan a video file or stream for alert events, without a window, and exit.",
     "file|address"},
    {"realtime", "With --scan: play the clip at its own rate.", nullptr},
    {"json", "With --scan: write one JSON object a line.", nullptr},
    {"ticks", "With --scan: write a line for every tick as well.", nullptr},
    {"filter", "With --scan: 0 raw, 1 median, 2 mean, 3 median + mean.", "0-3"},
    {"kernel", "With --scan: the filter's size, 3, 5 or 7.", "size"},
    {"threshold", "With --scan: the level that alerts, 5 to 95.", "level"},
    {"brightness", "With --scan: the brightness adjustment, 1 to 20 (10 leaves it).", "value"},
    {"mask", "With --scan: a picture of the areas to ignore (white) instead of the camera's.",
     "file"},
    {"ignore-areas", "With --scan: leave the painted areas out of the level.", "on|off"},
    {"lighting-guard", "With --scan: ignore changes of the whole picture's brightness.", "on|off"},
    {"steady-guard", "With --scan: stop counting places that keep moving.", "on|off"},
    {"glitch-guard", "With --scan: no event from a camera's starting, frozen or one-colour frames.",
     "on|off"},
    {"min-duration", "With --scan: how long the level must stay over the threshold, 0 for off.",
     "ms"},
    {"quiet-gap", "With --scan: alerts closer together than this are one event.", "seconds"},
    {"measure", "With --scan: what the level measures, darkening or area.", "measure"},
};

class ValueReader
{
public:
    ValueReader(const QCommandLineParser &parser, QTextStream &err) : parser(parser), err(err) {}

    bool ok = true;

    void number(const char *name, int minimum, int maximum, int *value)
    {
        if (!parser.isSet(name))
            return;
        bool parsed = false;
        const int given = parser.value(name).toInt(&parsed);
        if (parsed && given >= minimum && given <= maximum) {
            *value = given;
            return;
        }
        err << "orvella: --" << name << " takes a whole number from " << minimum << " to "
            << maximum << ", not \"" << parser.value(name) << "\"\n";
        ok = false;
    }

    void onOff(const char *name, bool *value)
    {
        if (!parser.isSet(name))
            return;
        const QString given = parser.value(name);
        if (given == "on" || given == "off") {
            *value = given == "on";
            return;
        }
        err << "orvella: --" << name << " takes on or off, not \"" << given << "\"\n";
        ok = false;
    }

private:
    const QCommandLineParser &parser;
    QTextStream &err;
};

// The window's remembered controls, each only if it is there and valid.
void readRememberedControls(QSettings &remembered, WatchSettings *settings, QTextStream &err)
{
    const struct {
        const char *key;
        int minimum;
        int maximum;
        int *value;
    } numbers[] = {{"filter", 0, 3, &settings->filterChoice},
                   {"kernel", 0, 2, &settings->kernelSizeIndex},
                   {"brightness", 1, 20, &settings->brightness},
                   {"threshold", 5, 95, &settings->threshold}};
    for (const auto &entry : numbers) {
        if (!remembered.contains(entry.key))
            continue;
        bool ok = false;
        const int value = remembered.value(entry.key).toString().toInt(&ok);
        if (ok && value >= entry.minimum && value <= entry.maximum)
            *entry.value = value;
        else
            err << "orvella: the remembered " << entry.key << " is not valid; using "
                << *entry.value << "\n";
    }
}

} // namespace

void addScanOptions(QCommandLineParser &parser)
{
    for (const Option &option : options)
        parser.addOption(option.valueName
                             ? QCommandLineOption(option.name, option.description, option.valueName)
                             : QCommandLineOption(option.name, option.description));
}

bool isScanRequest(const QCommandLineParser &parser)
{
    return parser.isSet("scan");
}

QStringList scanOnlyOptions()
{
    QStringList names;
    for (const Option &option : options)
        if (QLatin1String(option.name) != QLatin1String("scan"))
            names << option.name;
    return names;
}

int runScanCommand(const QCommandLineParser &parser)
{
    QTextStream out(stdout);
    QTextStream err(stderr);

    ScanRequest request;
    request.source = parser.value("scan");
    request.realtime = parser.isSet("realtime");
    request.json = parser.isSet("json");
    request.ticks = parser.isSet("ticks");

    QSettings remembered("Kelvane", "Orvella");
    readRememberedControls(remembered, &request.settings, err);
    QStringList damaged;
    AlertSettings &alerts = request.settings.alerts;
    alerts = loadAlertSettings(remembered, &damaged);
    for (const QString &key : damaged)
        err << "orvella: the remembered " << key << " is not valid; using its default\n";

    ValueReader read(parser, err);
    read.number("filter", 0, 3, &request.settings.filterChoice);
    int kernel = 2 * request.settings.kernelSizeIndex + 3;
    read.number("kernel", 3, 7, &kernel);
    if (kernel % 2 == 0) {
        err << "orvella: --kernel takes 3, 5 or 7, not \"" << kernel << "\"\n";
        read.ok = false;
    }
    request.settings.kernelSizeIndex = (kernel - 3) / 2;
    read.number("threshold", 5, 95, &request.settings.threshold);
    read.number("brightness", 1, 20, &request.settings.brightness);
    // A mask given is meant to be used.
    if (parser.isSet("mask"))
        alerts.ignoreAreas = true;
    read.onOff("ignore-areas", &alerts.ignoreAreas);
    read.onOff("lighting-guard", &alerts.lightingChanges);
    read.onOff("steady-guard", &alerts.steadyMovement);
    read.onOff("glitch-guard", &alerts.cameraGlitches);
    int minimumDuration = alerts.minimumDuration ? alerts.minimumDurationMs : 0;
    read.number("min-duration", 0, maximumMinimumDurationMs, &minimumDuration);
    alerts.minimumDuration = minimumDuration > 0;
    if (alerts.minimumDuration)
        alerts.minimumDurationMs = minimumDuration;
    read.number("quiet-gap", minimumQuietGapSeconds, maximumQuietGapSeconds,
                &alerts.quietGapSeconds);
    if (parser.isSet("measure") && !measureFromName(parser.value("measure"), &alerts.measure)) {
        err << "orvella: --measure takes darkening or area, not \"" << parser.value("measure")
            << "\"\n";
        read.ok = false;
    }
    if (!read.ok)
        return usageError;

    if (alerts.ignoreAreas) {
        const QSize frameSize(ClipDecoder::frameWidth, ClipDecoder::frameHeight);
        const bool given = parser.isSet("mask");
        const QString camera =
            parser.isSet("camera") ? parser.value("camera") : remembered.value("camera").toString();
        const QString path = given ? parser.value("mask") : ignoreMaskPath(camera);
        QString error;
        switch (given || !camera.isEmpty()
                    ? loadIgnoreMask(path, frameSize, &request.ignoredArea, &error)
                    : MaskFile::Missing) {
        case MaskFile::Loaded:
            break;
        case MaskFile::Missing:
            if (given) {
                err << "orvella: there is no mask " << path << "\n";
                return usageError;
            }
            break;
        case MaskFile::Damaged:
            err << "orvella: the mask " << path << " could not be read (" << error << ")";
            if (given) {
                err << "\n";
                return usageError;
            }
            err << "; scanning without it\n";
            break;
        }
    }
    return runScan(request, out, err);
}
