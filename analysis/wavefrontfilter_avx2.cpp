// Compiled with AVX2 enabled; only called after checking the processor.
#include "wavefrontfilter.h"

#include "avx2vector.h"

bool filterWavefrontAvx2(quint32 *bits, int stride, int width, int height, int radius, bool median)
{
    return filterWavefront<Avx2>(bits, bits, stride, width, height, radius, median);
}

bool filterWavefrontAvx2(const quint32 *source, quint32 *target, int stride, int width, int height,
                         int radius, bool median)
{
    return filterWavefront<Avx2>(source, target, stride, width, height, radius, median);
}
