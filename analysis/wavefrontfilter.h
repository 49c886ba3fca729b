#ifndef ORVELLA_WAVEFRONTFILTER_H
#define ORVELLA_WAVEFRONTFILTER_H

#include <QtGlobal>

// The vector median (median true) and mean passes for radius 1 to 3, see
// wavefrontkernel.h. They return false and leave the image alone for any
// other radius. The AVX2 one needs a processor that has it, the AVX-512
// one (the AVX2 pass with twice the registers) AVX-512VL and BW.
bool filterWavefrontSse2(quint32 *bits, int stride, int width, int height, int radius, bool median);
bool filterWavefrontAvx2(quint32 *bits, int stride, int width, int height, int radius, bool median);
bool filterWavefrontAvx512(quint32 *bits, int stride, int width, int height, int radius,
                           bool median);

// The same from source into target, an image of the same size and stride
// that does not overlap it: target gets what the pass in place would leave
// in source.
bool filterWavefrontSse2(const quint32 *source, quint32 *target, int stride, int width, int height,
                         int radius, bool median);
bool filterWavefrontAvx2(const quint32 *source, quint32 *target, int stride, int width, int height,
                         int radius, bool median);
bool filterWavefrontAvx512(const quint32 *source, quint32 *target, int stride, int width,
                           int height, int radius, bool median);

#endif
