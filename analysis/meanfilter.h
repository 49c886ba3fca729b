#ifndef ORVELLA_MEANFILTER_H
#define ORVELLA_MEANFILTER_H

#include <QImage>

// filterImage's mean pass on a Format_ARGB32 image at least 2 * radius + 1
// pixels wide and high.
void meanFilterInPlace(QImage &image, int radius);

#endif
