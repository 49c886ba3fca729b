#ifndef ORVELLA_MEANFILTER_H
#define ORVELLA_MEANFILTER_H

#include <QImage>

// filterImage's mean pass, column by column with running sums, on a
// Format_ARGB32 image at least 2 * radius + 1 pixels wide and high. Works for
// any radius; on x86 the vector pass takes radius 1 to 3.
void meanFilterInPlace(QImage &image, int radius);

#endif
