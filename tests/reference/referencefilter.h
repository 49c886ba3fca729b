#ifndef ORVELLA_REFERENCEFILTER_H
#define ORVELLA_REFERENCEFILTER_H

#include <QImage>

// The image filter written the plain way, one window at a time with
// QImage::pixel/setPixel and a sort per channel. Slow, but easy to check by
// eye; the fast filterImage must give exactly the same pixels.
QImage referenceFilterImage(QImage source, unsigned int kernelSize, int type);

#endif
