#ifndef ORVELLA_FRAMECOMPARISON_H
#define ORVELLA_FRAMECOMPARISON_H

#include <QImage>
#include <QString>

// Compares two processed frames channel by channel. Only darkening counts:
// d = previous - current, 0 where negative. Fills difference (Format_ARGB32,
// same size; its memory is reused when it already has that shape) with
// 0xFF000000 | dR << 16 | dG << 8 | dB and returns the mean of
// (dR + dG + dB) / 765 over all pixels, in 0..1.
double compareFrames(const QImage &previous, const QImage &current, QImage &difference);

// The same over the pixels that count: those where ignored (Format_Grayscale8)
// is 0, and those outside it. The sum runs over the counted pixels in the
// same order and is divided by their number; 0 when none counts. A null
// ignored counts every pixel, so the result is exactly the one above. The
// difference image shows every pixel either way.
double compareFrames(const QImage &previous, const QImage &current, QImage &difference,
                     const QImage &ignored);

// The integer level every threshold is compared with: 1000 * d, truncated.
int dissimilarityLevel(double dissimilarity);

// "Orvella - <1000 * d with up to six significant digits>% Dissimilarity"
QString dissimilarityTitle(double dissimilarity);

#endif
