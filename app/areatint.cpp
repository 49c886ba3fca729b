#include "areatint.h"
#include "maskpainting.h"

namespace
{

QImage grey(const QImage &mask)
{
    return mask.format() == QImage::Format_Grayscale8 || mask.isNull()
               ? mask
               : mask.convertToFormat(QImage::Format_Grayscale8);
}

// Colours the pixels of overlay where mask is nonzero and the pixel is
// still transparent, so the mask painted first wins.
void tint(QImage &overlay, const QImage &mask, QRgb colour)
{
    const int width = qMin(overlay.width(), mask.width());
    const int height = qMin(overlay.height(), mask.height());
    for (int y = 0; y < height; ++y) {
        const uchar *in = mask.constScanLine(y);
        auto *out = reinterpret_cast<QRgb *>(overlay.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if (in[x] && !out[x])
                out[x] = colour;
        }
    }
}

} // namespace

QImage areaTint(const QImage &ignored, const QImage &steady, QSize shown)
{
    const QImage ignoredGrey = grey(ignored);
    const QImage steadyGrey = grey(steady);
    const bool hasIgnored = !isEmptyMask(ignoredGrey);
    const bool hasSteady = !isEmptyMask(steadyGrey);
    if ((!hasIgnored && !hasSteady) || shown.isEmpty())
        return QImage();
    QImage overlay(shown, QImage::Format_ARGB32_Premultiplied);
    overlay.fill(Qt::transparent);
    if (hasIgnored)
        tint(overlay, ignoredGrey, ignoredAreaTint);
    if (hasSteady)
        tint(overlay, steadyGrey, steadyAreaTint);
    return overlay;
}
