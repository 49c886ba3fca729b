#ifndef ORVELLA_MEDIANFILTER_X86_H
#define ORVELLA_MEDIANFILTER_X86_H

#include <QtGlobal>

// The vector median passes for radius 1 to 3 (see medianwavefront.h). They
// return false and leave the image alone for any other radius.
bool medianWavefrontSse2(quint32 *bits, int stride, int width, int height, int radius);
bool medianWavefrontAvx2(quint32 *bits, int stride, int width, int height, int radius);

#endif
