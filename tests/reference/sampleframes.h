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

// Scenes for the alert guards: a picture of a still room, then what a camera
// would give a moment later.

// scene with a camera's noise of up to amplitude levels a channel, the same
// for a given seed.
QImage withNoise(const QImage &scene, int amplitude, quint32 seed);

// scene with a person painted in: a dark body of clothes, a lighter head,
// and a texture so that moving it changes most of what it covers.
QImage withPerson(const QImage &scene, const QRect &body, QRgb clothes = qRgb(40, 45, 60));

// scene with every channel times gain, as a lamp or a cloud changes it.
QImage withGain(const QImage &scene, double gain);

// scene with a patch of fine texture that changes with step, as leaves in
// the wind or a screen: phase is the picture the patch shows.
QImage withStirring(const QImage &scene, const QRect &patch, int phase);

#endif
