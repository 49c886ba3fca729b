#ifndef ORVELLA_FRAMESTATISTICS_H
#define ORVELLA_FRAMESTATISTICS_H

#include <QImage>

// The mean colour of each blockSize x blockSize block of frame (the last
// row and column of blocks may be smaller), as a Format_ARGB32 image with
// one opaque pixel a block, channels rounded to the nearest whole number.
// With rowStep 2 or more, only every rowStep-th row of a block is read.
QImage blockMeans(const QImage &frame, int blockSize, int rowStep = 1);

// Whether a frame is of one colour: no block mean differs from another by
// more than tolerance in any channel. means is what blockMeans gives.
bool isUniform(const QImage &means, int tolerance);

// Whether b shows nothing new after a: the same size, and at most
// fewPixels pixels whose red, green or blue differs by more than tolerance.
// A camera slower than the ticks, or a clip stored with repeated frames,
// gives such pairs.
bool sameFrame(const QImage &a, const QImage &b, int tolerance, int fewPixels);

#endif
