#include "imagefilter.h"

#include "meanfilter.h"
#include "medianfilter.h"

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
    if (type == Median)
        medianFilterInPlace(image, int(radius));
    else
        meanFilterInPlace(image, int(radius));
    return image.format() == format ? image : image.convertToFormat(format);
}
