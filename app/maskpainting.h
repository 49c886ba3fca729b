#ifndef ORVELLA_MASKPAINTING_H
#define ORVELLA_MASKPAINTING_H

#include <QImage>
#include <QPoint>

// Painting on an ignore mask (Format_Grayscale8): paint sets pixels to 255,
// erasing sets them to 0. Everything outside the mask is clipped. Each
// returns whether a pixel changed.

// A round brush of diameter pixels centred on the pixel centre: the pixels
// whose distance from centre is at most diameter / 2 (1 is the pixel
// alone, 3 a 3 x 3 square).
bool paintDisc(QImage &mask, QPoint centre, int diameter, bool paint);
// The brush dragged from one pixel to another, leaving no gaps.
bool paintStroke(QImage &mask, QPoint from, QPoint to, int diameter, bool paint);
// Every pixel of the rectangle between two opposite corners, both included.
bool paintRect(QImage &mask, QPoint corner, QPoint opposite, bool paint);

// Whether a mask has no pixel set; a null mask is empty.
bool isEmptyMask(const QImage &mask);

#endif
