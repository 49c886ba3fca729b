#include "imagefilter.h"

#include "meanfilter.h"
#include "medianfilter.h"

#ifdef ORVELLA_WAVEFRONT_FILTER
#include "cpufeatures.h"
#include "wavefrontfilter.h"
#endif

namespace
{

// The vector passes where the processor and the radius allow.
bool filterByVectors(QImage &image, int radius, int type)
{
#ifdef ORVELLA_WAVEFRONT_FILTER
    auto *bits = reinterpret_cast<quint32 *>(image.bits());
    const int stride = image.bytesPerLine() / 4;
    const bool median = type == Median;
    if (cpuHasAvx2())
        return filterWavefrontAvx2(bits, stride, image.width(), image.height(), radius, median);
    return filterWavefrontSse2(bits, stride, image.width(), image.height(), radius, median);
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
