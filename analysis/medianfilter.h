#ifndef ORVELLA_MEDIANFILTER_H
#define ORVELLA_MEDIANFILTER_H

#include <QImage>

// filterImage's median pass on a Format_ARGB32 image at least 2 * radius + 1
// pixels wide and high.
void medianFilterInPlace(QImage &image, int radius);

#endif
