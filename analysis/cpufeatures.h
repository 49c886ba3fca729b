#ifndef ORVELLA_CPUFEATURES_H
#define ORVELLA_CPUFEATURES_H

// Whether this processor, and the operating system that saves its
// registers, lets us run AVX2 code. False on every other processor.
bool cpuHasAvx2();

#endif
