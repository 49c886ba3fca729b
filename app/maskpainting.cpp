#include "maskpainting.h"

#include <QRect>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace
{

uchar value(bool paint)
{
    return paint ? 255 : 0;
}

// Sets count pixels of a row starting at x, already clipped.
bool fillRow(QImage &mask, int y, int x, int count, uchar to)
{
    uchar *line = mask.scanLine(y) + x;
    const bool changed = std::any_of(line, line + count, [to](uchar v) { return v != to; });
    if (changed)
        std::memset(line, to, size_t(count));
    return changed;
}

} // namespace

bool paintDisc(QImage &mask, QPoint centre, int diameter, bool paint)
{
    if (mask.isNull() || diameter < 1)
        return false;
    // Pixel (x, y) is in when 4 (dx² + dy²) <= diameter².
    const int d2 = diameter * diameter;
    const int reach = diameter / 2;
    bool changed = false;
    for (int dy = -reach; dy <= reach; ++dy) {
        const int y = centre.y() + dy;
        if (y < 0 || y >= mask.height())
            continue;
        if (4 * dy * dy > d2)
            continue;
        int dx = reach;
        while (dx > 0 && 4 * (dx * dx + dy * dy) > d2)
            --dx;
        const int left = std::max(centre.x() - dx, 0);
        const int right = std::min(centre.x() + dx, mask.width() - 1);
        if (left <= right)
            changed |= fillRow(mask, y, left, right - left + 1, value(paint));
    }
    return changed;
}

bool paintStroke(QImage &mask, QPoint from, QPoint to, int diameter, bool paint)
{
    // A disc at every pixel of the line between them, as Bresenham walks it.
    const int steps = std::max(std::abs(to.x() - from.x()), std::abs(to.y() - from.y()));
    bool changed = false;
    for (int i = 0; i <= steps; ++i) {
        const int x =
            steps ? from.x() + int(std::lround(double(to.x() - from.x()) * i / steps)) : from.x();
        const int y =
            steps ? from.y() + int(std::lround(double(to.y() - from.y()) * i / steps)) : from.y();
        changed |= paintDisc(mask, QPoint(x, y), diameter, paint);
    }
    return changed;
}

bool paintRect(QImage &mask, QPoint corner, QPoint opposite, bool paint)
{
    const QRect rect(
        QPoint(std::min(corner.x(), opposite.x()), std::min(corner.y(), opposite.y())),
        QPoint(std::max(corner.x(), opposite.x()), std::max(corner.y(), opposite.y())));
    const QRect clipped = rect & mask.rect();
    bool changed = false;
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        changed |= fillRow(mask, y, clipped.left(), clipped.width(), value(paint));
    return changed;
}

bool isEmptyMask(const QImage &mask)
{
    for (int y = 0; y < mask.height(); ++y) {
        const uchar *line = mask.constScanLine(y);
        if (std::any_of(line, line + mask.width(), [](uchar v) { return v != 0; }))
            return false;
    }
    return true;
}
