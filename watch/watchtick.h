#ifndef ORVELLA_WATCHTICK_H
#define ORVELLA_WATCHTICK_H

#include <QImage>
#include <QMetaType>

// The window's controls as one tick reads them.
struct WatchSettings {
    int filterChoice = 0;    // 0 none, 1 median, 2 mean, 3 median then mean
    int kernelSizeIndex = 0; // 0 3x3, 1 5x5, 2 7x7
    int brightness = 10;     // 1..20, 10 leaves the frame alone
    int threshold = 20;      // level at which a frame counts as dissimilar
    bool record = false;     // the master switch of recording and alerts
    bool onlyDissimilar = false;
};

// What one tick made of a camera frame.
struct TickResult {
    QImage frame;          // the processed frame, shown live
    bool opaque = false;   // every pixel of frame has alpha 0xFF
    bool compared = false; // false on the first frame of a comparison
    double dissimilarity = 0.0;
    int level = 0;            // 1000 * dissimilarity, truncated
    bool atThreshold = false; // compared, and level at or over the threshold
    bool record = false;      // save the processed frame
    bool alert = false;       // raise the sound and e-mail alerts
};

Q_DECLARE_METATYPE(TickResult)

// Whether a comparing tick saves its frame.
bool shouldRecordFrame(bool onlyDissimilarities, int level, int threshold);

// The work of a capture tick, without widgets: processes each frame with the
// settings given, compares it with the previous processed frame and decides
// on recording and alerts. A new comparison, in which the next frame is only
// stored, starts after restart() and whenever the filter, the kernel size or
// the brightness differ from those the previous frame was processed with:
// frames processed differently are not compared.
class WatchTick
{
public:
    void restart() { hasPrevious = false; }

    TickResult process(const QImage &cameraFrame, const WatchSettings &settings);

    // The last comparison's difference image; every pixel has alpha 0xFF.
    // Two images take turns, so the one on show stays untouched while the
    // next is written, and neither is ever copied or allocated again.
    const QImage &difference() const { return differenceImages[shownDifference]; }

private:
    bool hasPrevious = false;
    QImage previous;
    WatchSettings previousSettings;
    QImage differenceImages[2];
    int shownDifference = 0;
};

#endif
