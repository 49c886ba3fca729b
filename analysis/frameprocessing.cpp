#include "frameprocessing.h"

#include "brightness.h"
#include "imagefilter.h"

#include <utility>

QImage processFrame(const QImage &frame, int filterChoice, int kernelSizeIndex, int brightnessValue)
{
    QImage processed = frame.format() == QImage::Format_ARGB32 || frame.isNull()
                           ? frame
                           : frame.convertToFormat(QImage::Format_ARGB32);
    if (filterChoice != 0) {
        // The kernel combo only matters once a filter is chosen.
        const unsigned int kernelSize = 2 * kernelSizeIndex + 3;
        if (filterChoice == 1 || filterChoice == 3)
            processed = filterImage(std::move(processed), kernelSize, Median);
        if (filterChoice == 2 || filterChoice == 3)
            processed = filterImage(std::move(processed), kernelSize, Mean);
    }
    if (brightnessValue != 10)
        applyBrightnessOffset(processed, brightnessOffset(brightnessValue));
    return processed;
}
