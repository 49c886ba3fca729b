#ifndef ORVELLA_CPUFEATURES_H
#define ORVELLA_CPUFEATURES_H

// Whether this processor, and the operating system that saves its
// registers, lets us run AVX2 code. False on every other processor.
bool cpuHasAvx2();

// The same for AVX-512 with its byte and word instructions (BW) on 128- and
// 256-bit vectors (VL).
bool cpuHasAvx512();

// AVX-512 as above, with the byte permutes (VBMI) on 512-bit vectors.
bool cpuHasAvx512Vbmi();

#endif
