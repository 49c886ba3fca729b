#ifndef ORVELLA_MASKEDITOR_H
#define ORVELLA_MASKEDITOR_H

#include <QImage>
#include <QPoint>
#include <QWidget>

// Paints a camera's ignore mask over its live picture, one widget pixel to
// one frame pixel: the frame at its full size with the ignored areas tinted
// and the places of steady movement (read only) in another tint. The left
// button paints and the right one erases, with a round brush or rectangles;
// the Erase tool makes the left button erase as well.
class MaskEditor : public QWidget
{
    Q_OBJECT
public:
    enum Tool { Brush, Rectangle, Erase };

    // The size of the frames and of the mask.
    static QSize frameSize() { return QSize(480, 320); }

    explicit MaskEditor(QWidget *parent = nullptr);

    // The mask to edit (nonzero where ignored), null for none; a picture of
    // another size is scaled to the frame. Changes are counted from here.
    void setMask(const QImage &mask);
    // Format_Grayscale8 of frameSize(), 255 where ignored; null when
    // nothing is painted.
    QImage mask() const;
    // Whether mask() differs from what setMask() gave.
    bool isChanged() const;
    void clear();

    Tool tool() const { return m_tool; }
    void setTool(Tool tool);
    // The brush's diameter in frame pixels.
    int brushSize() const { return m_brushSize; }
    void setBrushSize(int pixels);

    // The latest live frame and the steady places (Format_Grayscale8,
    // nonzero where steady; null for none). Both are kept shared, not
    // copied; the overlay is only made again when the steady places change.
    void showFrame(const QImage &frame, const QImage &steadyArea);

signals:
    void maskEdited();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    bool paints(Qt::MouseButton button) const;
    void edited(bool changed);

    QImage m_mask; // Format_Grayscale8, frameSize(), 255 or 0
    QImage m_original;
    QImage m_frame;
    QImage m_steady;
    QImage m_overlay;
    bool m_overlayValid = false;

    Tool m_tool = Brush;
    int m_brushSize = 24;
    Qt::MouseButton m_button = Qt::NoButton; // the button of the stroke under way
    QPoint m_start;
    QPoint m_last;
    bool m_hovering = false;
};

#endif
