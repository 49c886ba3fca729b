#ifndef ORVELLA_MOVINGAREA_H
#define ORVELLA_MOVINGAREA_H

#include <QImage>

// Where something moved, on a grid of blockSize x blockSize areas, from a
// difference image (compareFrames()): a Format_Grayscale8 grid with one
// pixel an area, 255 where at least minimumPixels of its counted pixels
// darkened by minimumDarkening or more (dR + dG + dB), 1 where it has
// counted pixels but fewer of them moved, 0 where it has none. Counted are
// the pixels where ignored (Format_Grayscale8; null for none) is 0. Leaves
// stirring in the wind change a few scattered pixels of an area, a person
// most of it.
QImage movedBlocks(const QImage &difference, const QImage &ignored, int blockSize,
                   int minimumDarkening, int minimumPixels);

// The share of the areas with counted pixels that moved; 0 when none has.
double movedShare(const QImage &blocks);

#endif
