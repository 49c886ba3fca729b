#include "imagelabel.h"

#include <QLabel>
#include <QPixmap>

namespace
{

void releaseImage(void *image)
{
    delete static_cast<QImage *>(image);
}

// The same pixels read as Format_RGB32; the view keeps image's data alive.
QImage opaqueView(const QImage &image)
{
    auto *kept = new QImage(image);
    return QImage(kept->constBits(), kept->width(), kept->height(), kept->bytesPerLine(),
                  QImage::Format_RGB32, releaseImage, kept);
}

bool coversLabel(const QLabel *label, const QPixmap &pixmap)
{
    if (pixmap.hasAlphaChannel() || label->margin() != 0 || label->contentsRect() != label->rect())
        return false;
    const QSize shown = pixmap.size() / pixmap.devicePixelRatio();
    return label->hasScaledContents() ||
           (shown.width() >= label->width() && shown.height() >= label->height());
}

} // namespace

void showImage(QLabel *label, const QImage &image, bool opaque)
{
    const bool viewable = opaque && image.format() == QImage::Format_ARGB32;
    const QPixmap pixmap = QPixmap::fromImage(viewable ? opaqueView(image) : image);
    label->setPixmap(pixmap);
    // Nothing of the parent shows through such a label, so its updates need
    // not repaint the parent.
    label->setAttribute(Qt::WA_OpaquePaintEvent, coversLabel(label, pixmap));
}
