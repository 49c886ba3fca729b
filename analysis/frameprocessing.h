#ifndef ORVELLA_FRAMEPROCESSING_H
#define ORVELLA_FRAMEPROCESSING_H

#include <QImage>

// The image steps of one capture tick before the comparison, driven by the
// window's controls: filterChoice is the index of the filter combo (0 none,
// 1 median, 2 mean, 3 median then mean), kernelSizeIndex that of the kernel
// combo (0 3x3, 1 5x5, 2 7x7), brightnessValue the brightness slider (1..20).
QImage processFrame(const QImage &frame, int filterChoice, int kernelSizeIndex,
                    int brightnessValue);

#endif
