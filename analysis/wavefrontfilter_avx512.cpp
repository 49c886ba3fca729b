// The AVX2 passes compiled with AVX-512VL and BW enabled: the same 256-bit
// vectors, but 32 registers instead of 16, so the 7 x 7 median's network
// spills far less. Only called after checking the processor.
#include "wavefrontfilter.h"

#include "avx2vector.h"

bool filterWavefrontAvx512(quint32 *bits, int stride, int width, int height, int radius,
                           bool median)
{
    return filterWavefront<Avx2>(bits, bits, stride, width, height, radius, median);
}

bool filterWavefrontAvx512(const quint32 *source, quint32 *target, int stride, int width,
                           int height, int radius, bool median)
{
    return filterWavefront<Avx2>(source, target, stride, width, height, radius, median);
}
