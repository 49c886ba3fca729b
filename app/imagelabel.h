#ifndef ORVELLA_IMAGELABEL_H
#define ORVELLA_IMAGELABEL_H

#include <QImage>

class QLabel;

// Shows image in label as QLabel::setPixmap(QPixmap::fromImage(image)) does,
// unscaled and placed as the label places any pixmap. When the caller knows
// that every pixel of image has alpha 0xFF, the pixmap reads image's own
// pixels as Format_RGB32: no copy and no scan for transparent pixels. A label
// that such a picture covers completely paints without its parent behind it.
void showImage(QLabel *label, const QImage &image, bool opaque);

#endif
