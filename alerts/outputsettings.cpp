#include "outputsettings.h"

#include <QSettings>

namespace
{

int number(const QSettings &settings, const char *key, int minimum, int maximum, int fallback)
{
    bool ok = false;
    const int value = settings.value(key).toString().toInt(&ok);
    return ok && value >= minimum && value <= maximum ? value : fallback;
}

} // namespace

OutputSettings OutputSettings::load(QSettings &settings)
{
    OutputSettings output;
    settings.beginGroup("output");
    const QString kind = settings.value("kind").toString();
    if (kind == "clips")
        output.kind = Clips;
    else if (kind == "both")
        output.kind = FramesAndClips;
    output.prerollSeconds =
        number(settings, "preroll", 0, maximumPrerollSeconds, output.prerollSeconds);
    output.postrollSeconds =
        number(settings, "postroll", 0, maximumPostrollSeconds, output.postrollSeconds);
    settings.endGroup();
    return output;
}

void OutputSettings::save(QSettings &settings) const
{
    settings.beginGroup("output");
    settings.setValue("kind", kind == Clips ? "clips" : kind == FramesAndClips ? "both" : "frames");
    settings.setValue("preroll", prerollSeconds);
    settings.setValue("postroll", postrollSeconds);
    settings.endGroup();
}
