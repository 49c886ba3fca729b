#include "maskeditor.h"
#include "areatint.h"
#include "maskpainting.h"

#include <QMouseEvent>
#include <QPainter>

namespace
{

QImage emptyMask()
{
    QImage mask(MaskEditor::frameSize(), QImage::Format_Grayscale8);
    mask.fill(0);
    return mask;
}

// mask as 255 where nonzero and 0 elsewhere, at the frame's size.
QImage frameMask(const QImage &mask)
{
    if (mask.isNull())
        return emptyMask();
    QImage grey = mask.convertToFormat(QImage::Format_Grayscale8);
    if (grey.size() != MaskEditor::frameSize())
        grey = grey.scaled(MaskEditor::frameSize(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    for (int y = 0; y < grey.height(); ++y) {
        uchar *line = grey.scanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            line[x] = line[x] ? 255 : 0;
    }
    return grey;
}

} // namespace

MaskEditor::MaskEditor(QWidget *parent) : QWidget(parent), m_mask(emptyMask()), m_original(m_mask)
{
    setFixedSize(frameSize());
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void MaskEditor::setMask(const QImage &mask)
{
    m_mask = frameMask(mask);
    m_original = m_mask;
    m_button = Qt::NoButton;
    m_overlayValid = false;
    update();
}

QImage MaskEditor::mask() const
{
    return isEmptyMask(m_mask) ? QImage() : m_mask;
}

bool MaskEditor::isChanged() const
{
    return m_mask != m_original;
}

void MaskEditor::clear()
{
    edited(paintRect(m_mask, QPoint(0, 0), QPoint(m_mask.width() - 1, m_mask.height() - 1), false));
}

void MaskEditor::setTool(Tool tool)
{
    m_tool = tool;
    update();
}

void MaskEditor::setBrushSize(int pixels)
{
    m_brushSize = qMax(1, pixels);
    update();
}

void MaskEditor::showFrame(const QImage &frame, const QImage &steadyArea)
{
    m_frame = frame;
    if (steadyArea.cacheKey() != m_steady.cacheKey()) {
        m_steady = steadyArea;
        m_overlayValid = false;
    }
    update();
}

bool MaskEditor::paints(Qt::MouseButton button) const
{
    return button == Qt::LeftButton && m_tool != Erase;
}

void MaskEditor::edited(bool changed)
{
    if (!changed)
        return;
    m_overlayValid = false;
    update();
    emit maskEdited();
}

void MaskEditor::mousePressEvent(QMouseEvent *event)
{
    if (m_button != Qt::NoButton ||
        (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)) {
        event->ignore();
        return;
    }
    m_button = event->button();
    m_start = m_last = event->pos();
    if (m_tool == Rectangle)
        update();
    else
        edited(paintDisc(m_mask, m_last, m_brushSize, paints(m_button)));
}

void MaskEditor::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint from = m_last;
    m_last = event->pos();
    m_hovering = rect().contains(m_last);
    if (m_button != Qt::NoButton && m_tool != Rectangle)
        edited(paintStroke(m_mask, from, m_last, m_brushSize, paints(m_button)));
    else
        update();
}

void MaskEditor::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != m_button) {
        event->ignore();
        return;
    }
    const Qt::MouseButton button = m_button;
    m_button = Qt::NoButton;
    m_last = event->pos();
    if (m_tool == Rectangle)
        edited(paintRect(m_mask, m_start, m_last, paints(button)));
    update();
}

void MaskEditor::leaveEvent(QEvent *)
{
    m_hovering = false;
    update();
}

void MaskEditor::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect frameRect(QPoint(0, 0), frameSize());
    if (m_frame.isNull()) {
        painter.fillRect(frameRect, QColor(48, 48, 48));
        painter.setPen(QColor(200, 200, 200));
        painter.drawText(frameRect, Qt::AlignCenter, QString("No picture from the camera yet"));
    } else if (m_frame.size() == frameSize()) {
        painter.drawImage(0, 0, m_frame);
    } else {
        painter.drawImage(frameRect, m_frame);
    }
    if (!m_overlayValid) {
        m_overlay = areaTint(m_mask, m_steady, frameSize());
        m_overlayValid = true;
    }
    if (!m_overlay.isNull())
        painter.drawImage(0, 0, m_overlay);

    // What the next click would touch: the rectangle being dragged, or the brush.
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 1, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    if (m_tool == Rectangle && m_button != Qt::NoButton) {
        const QRectF dragged(
            QPointF(qMin(m_start.x(), m_last.x()), qMin(m_start.y(), m_last.y())),
            QPointF(qMax(m_start.x(), m_last.x()) + 1, qMax(m_start.y(), m_last.y()) + 1));
        painter.drawRect(dragged.adjusted(0.5, 0.5, -0.5, -0.5));
    } else if (m_tool != Rectangle && (m_hovering || m_button != Qt::NoButton)) {
        const qreal radius = m_brushSize / 2.0;
        painter.drawEllipse(QPointF(m_last) + QPointF(0.5, 0.5), radius, radius);
    }
}
