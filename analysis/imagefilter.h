#ifndef ORVELLA_IMAGEFILTER_H
#define ORVELLA_IMAGEFILTER_H

#include <QImage>

enum FilterType { Median = 0, Mean = 1 };

// Median or mean filter over a square window of kernelSize pixels (radius
// (kernelSize - 1) / 2), applied in place column by column: each window sees
// the results already written to its left and above. Border pixels closer
// than the radius to an edge keep their input value; processed pixels get
// alpha 255. Works on its own copy of source and returns it.
QImage filterImage(QImage source, unsigned int kernelSize, int type);

#endif
