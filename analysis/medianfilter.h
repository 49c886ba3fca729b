#ifndef ORVELLA_MEDIANFILTER_H
#define ORVELLA_MEDIANFILTER_H

#include <QImage>

// filterImage's median pass, column by column with running histograms, on a
// Format_ARGB32 image at least 2 * radius + 1 pixels wide and high. Works for
// any radius; on x86 the vector pass takes radius 1 to 3.
void medianFilterInPlace(QImage &image, int radius);

#endif
