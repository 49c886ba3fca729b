#ifndef ORVELLA_SAMPLEFRAMES_H
#define ORVELLA_SAMPLEFRAMES_H

#include <QImage>

// Deterministic test pictures in Format_ARGB32, the same for a given seed on
// every platform.

// Smooth gradients with sensor noise and a few flat shapes, like a camera
// picture of a room. Alpha is 255 unless randomAlpha is set.
QImage cameraLikeFrame(int width, int height, quint32 seed, bool randomAlpha = false);

// Every pixel the same word.
QImage filledFrame(int width, int height, QRgb word);

// Every byte random, alpha included.
QImage noiseFrame(int width, int height, quint32 seed);

#endif
