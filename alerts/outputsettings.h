#ifndef ORVELLA_OUTPUTSETTINGS_H
#define ORVELLA_OUTPUTSETTINGS_H

class QSettings;

// What Record writes into the output folder: JPEG frames as ticks decide,
// one clip per event, or both; and how much of the camera's pictures a clip
// holds before the event's first alerting tick and after its last.
struct OutputSettings {
    enum Kind { Frames = 0, Clips = 1, FramesAndClips = 2 };

    Kind kind = Frames;
    int prerollSeconds = 5;
    int postrollSeconds = 5;

    bool frames() const { return kind != Clips; }
    bool clips() const { return kind != Frames; }

    bool operator==(const OutputSettings &other) const
    {
        return kind == other.kind && prerollSeconds == other.prerollSeconds &&
               postrollSeconds == other.postrollSeconds;
    }
    bool operator!=(const OutputSettings &other) const { return !(*this == other); }

    // Reads the "output" group; a missing or unusable value keeps its default.
    static OutputSettings load(QSettings &settings);
    void save(QSettings &settings) const;
};

const int maximumPrerollSeconds = 30;
const int maximumPostrollSeconds = 60;

#endif
