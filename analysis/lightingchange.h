#ifndef ORVELLA_LIGHTINGCHANGE_H
#define ORVELLA_LIGHTINGCHANGE_H

#include <QImage>

// How the light changed between two frames, judged from their block means
// (blockMeans()): one gain a channel that carries the blocks of the first
// frame into those of the second, the median of the blocks' own ratios, so
// that a person covering fewer than half of the blocks does not sway it.
struct LightChange {
    double gains[3] = {1.0, 1.0, 1.0}; // red, green, blue
    // The share of the blocks whose brightness moved the way of the gains
    // by more than a tenth: near 1 when the whole picture changed.
    double wholeShare = 0.0;
    bool valid = false; // too few blocks neither too dark nor too bright to tell
};

LightChange measureLightChange(const QImage &beforeMeans, const QImage &afterMeans);

// frame as it would look under the new light: each channel times its gain,
// clamped to 0..255, alpha 255.
QImage relit(const QImage &frame, const LightChange &change);

#endif
