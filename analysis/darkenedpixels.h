#ifndef ORVELLA_DARKENEDPIXELS_H
#define ORVELLA_DARKENEDPIXELS_H

#include <QtGlobal>

// Adds to `moved` how many of `count` difference pixels darkened by at least
// `minimum` in red, green and blue together, and to `counted` how many were
// looked at: a nonzero `skip` byte, where skip is given, leaves its pixel
// out. Built for AVX-512 (BW, VL); call only where cpuHasAvx512() says so.
void countDarkenedAvx512(const quint32 *pixels, const uchar *skip, int count, int minimum,
                         int &moved, int &counted);

// The same for a whole row with nothing left out, block by block: block i
// is pixels i * blockSize on, and adds to moved[i] and counted[i].
void countDarkenedBlocksAvx512(const quint32 *pixels, int width, int blockSize, int minimum,
                               int *moved, int *counted);

#endif
