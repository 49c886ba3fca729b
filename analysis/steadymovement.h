#ifndef ORVELLA_STEADYMOVEMENT_H
#define ORVELLA_STEADYMOVEMENT_H

#include <QImage>
#include <QSize>

// Places that keep moving, learned on a grid of blocks. Each function is one
// step of the learning; the grids are small images with one pixel a block.

// Moves each block's activity (Format_Grayscale16, 0 to 65535; a null image
// starts at 0) a 1 / 2^rateShift step towards 65535 where the block moved
// (255 in moved, as movedBlocks() gives it), towards 0 where it did not.
void updateActivity(QImage &activity, const QImage &moved, int rateShift);

// The blocks steady from now on (a Format_Grayscale8 grid, 255 or 0): those
// whose activity reached on, and those steady before whose activity is still
// over off. A null steady starts with none.
void updateSteadyBlocks(QImage &steady, const QImage &activity, int on, int off);

// Each block of a Format_Grayscale8 grid takes the largest value of itself
// and its eight neighbours.
QImage growBlocks(const QImage &blocks);

// A grid of blocks as a Format_Grayscale8 mask of frameSize: each pixel
// takes its block's value. With grow, a block also takes the largest value
// of its eight neighbours.
QImage blocksToPixels(const QImage &blocks, int blockSize, QSize frameSize, bool grow);

#endif
