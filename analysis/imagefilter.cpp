#include "imagefilter.h"

#include "meanfilter.h"
#include "medianfilter.h"

#ifdef ORVELLA_WAVEFRONT_FILTER
#include "cpufeatures.h"
#include "wavefrontfilter.h"
#endif

#include <QColorSpace>

namespace
{

#ifdef ORVELLA_WAVEFRONT_FILTER
// A new image for the pixels of `image`, with its size and settings.
QImage imageLike(const QImage &image)
{
    QImage target(image.size(), QImage::Format_ARGB32);
    target.setDotsPerMeterX(image.dotsPerMeterX());
    target.setDotsPerMeterY(image.dotsPerMeterY());
    target.setDevicePixelRatio(image.devicePixelRatio());
    target.setOffset(image.offset());
    target.setColorSpace(image.colorSpace());
    for (const QString &key : image.textKeys())
        target.setText(key, image.text(key));
    return target;
}
#endif

// The vector passes where the processor and the radius allow. When the
// pixels are shared, the pass reads them and writes a new image, instead of
// copying them first and then working in place.
bool filterByVectors(QImage &image, int radius, int type)
{
#ifdef ORVELLA_WAVEFRONT_FILTER
    if (radius < 1 || radius > 3)
        return false;
    const int width = image.width(), height = image.height();
    const int stride = image.bytesPerLine() / 4;
    const bool median = type == Median;
    const bool avx512 = cpuHasAvx512();
    const bool avx2 = cpuHasAvx2();
    auto run = [&](const quint32 *source, quint32 *target) {
        if (avx512)
            return filterWavefrontAvx512(source, target, stride, width, height, radius, median);
        if (avx2)
            return filterWavefrontAvx2(source, target, stride, width, height, radius, median);
        return filterWavefrontSse2(source, target, stride, width, height, radius, median);
    };
    if (!image.isDetached()) {
        QImage target = imageLike(image);
        if (!target.isNull() && target.bytesPerLine() == image.bytesPerLine()) {
            run(reinterpret_cast<const quint32 *>(image.constBits()),
                reinterpret_cast<quint32 *>(target.bits()));
            image = std::move(target);
            return true;
        }
    }
    auto *bits = reinterpret_cast<quint32 *>(image.bits());
    return run(bits, bits);
#else
    Q_UNUSED(image);
    Q_UNUSED(radius);
    Q_UNUSED(type);
    return false;
#endif
}

} // namespace

QImage filterImage(QImage source, unsigned int kernelSize, int type)
{
    // Unsigned arithmetic as in the signature: a kernel size of 0 wraps to a
    // huge radius and so leaves every image unchanged.
    const qint64 radius = (kernelSize - 1u) / 2u;
    if (source.isNull() || (type != Median && type != Mean) || source.width() < 2 * radius + 1 ||
        source.height() < 2 * radius + 1)
        return source;

    const QImage::Format format = source.format();
    QImage image = format == QImage::Format_ARGB32 ? std::move(source)
                                                   : source.convertToFormat(QImage::Format_ARGB32);
    if (!filterByVectors(image, int(radius), type)) {
        if (type == Median)
            medianFilterInPlace(image, int(radius));
        else
            meanFilterInPlace(image, int(radius));
    }
    return image.format() == format ? image : image.convertToFormat(format);
}
