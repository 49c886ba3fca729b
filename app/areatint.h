#ifndef ORVELLA_AREATINT_H
#define ORVELLA_AREATINT_H

#include <QImage>
#include <QRgb>
#include <QSize>

// The colours, premultiplied, that mark the painted areas whose changes do
// not count and the places steady movement left out, over a live picture.
constexpr QRgb ignoredAreaTint = qPremultiply(qRgba(230, 30, 60, 110));
constexpr QRgb steadyAreaTint = qPremultiply(qRgba(30, 140, 255, 110));

// An overlay (Format_ARGB32_Premultiplied, of size shown) for the top-left
// shown part of a picture: ignoredAreaTint where ignored is nonzero,
// steadyAreaTint where steady is nonzero and ignored is not, transparent
// elsewhere and outside the masks. Both masks are Format_Grayscale8 (other
// formats are converted) of the picture's size. A null image when both
// masks are null or empty, or shown is empty.
QImage areaTint(const QImage &ignored, const QImage &steady, QSize shown);

#endif
