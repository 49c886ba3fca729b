#include "areatint.h"
#include "maskeditor.h"
#include "maskpainting.h"

#include <QMouseEvent>
#include <QtTest>

namespace
{

void mouse(QWidget *widget, QEvent::Type type, QPoint pos, Qt::MouseButton button)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton
                                  : type == QEvent::MouseMove        ? Qt::MouseButtons(button)
                                                                     : button;
    QMouseEvent event(type, pos, widget->mapToGlobal(pos),
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// A press at from, moves through the points between, a release at to.
void drag(QWidget *widget, QPoint from, QPoint to, Qt::MouseButton button = Qt::LeftButton)
{
    mouse(widget, QEvent::MouseButtonPress, from, button);
    mouse(widget, QEvent::MouseMove, (from + to) / 2, button);
    mouse(widget, QEvent::MouseMove, to, button);
    mouse(widget, QEvent::MouseButtonRelease, to, button);
}

void click(QWidget *widget, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    mouse(widget, QEvent::MouseButtonPress, at, button);
    mouse(widget, QEvent::MouseButtonRelease, at, button);
}

int countSet(const QImage &mask)
{
    int count = 0;
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x)
            count += mask.constScanLine(y)[x] != 0;
    return count;
}

// The nonzero pixels of mask, row by row.
QVector<QPoint> nonzeroPixels(const QImage &mask)
{
    QVector<QPoint> points;
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x)
            if (mask.constScanLine(y)[x])
                points << QPoint(x, y);
    return points;
}

void setGrey(QImage &mask, int x, int y, uchar value)
{
    mask.scanLine(y)[x] = value;
}

QImage maskWith(QSize size, const QRect &area = QRect())
{
    QImage mask(size, QImage::Format_Grayscale8);
    mask.fill(0);
    if (!area.isEmpty())
        paintRect(mask, area.topLeft(), area.bottomRight(), true);
    return mask;
}

} // namespace

class TestMaskEditor : public QObject
{
    Q_OBJECT
private slots:
    void discShapes_data();
    void discShapes();
    void brushPaintsThePixelUnderTheMouse_data();
    void brushPaintsThePixelUnderTheMouse();
    void strokeLeavesNoGaps();
    void rectangleBetweenPressAndRelease();
    void rightButtonAndEraseToolErase();
    void clearAndChanged();
    void maskOfAnotherSizeIsScaled();
    void frameIsShownUnderTheMask();
    void tint();
    void tintOfNothingIsNull();
};

void TestMaskEditor::discShapes_data()
{
    QTest::addColumn<int>("diameter");
    QTest::addColumn<QPoint>("centre");
    QTest::addColumn<int>("pixels");
    QTest::newRow("one pixel") << 1 << QPoint(5, 5) << 1;
    QTest::newRow("3 is a square") << 3 << QPoint(5, 5) << 9;
    QTest::newRow("5 is round") << 5 << QPoint(5, 5) << 21;
    QTest::newRow("clipped at a corner") << 5 << QPoint(0, 0) << 8;
    QTest::newRow("outside") << 3 << QPoint(-5, 4) << 0;
}

void TestMaskEditor::discShapes()
{
    QFETCH(int, diameter);
    QFETCH(QPoint, centre);
    QFETCH(int, pixels);
    QImage mask = maskWith(QSize(12, 10));
    QCOMPARE(paintDisc(mask, centre, diameter, true), pixels > 0);
    QCOMPARE(countSet(mask), pixels);
    if (pixels > 0)
        QVERIFY(mask.constScanLine(centre.y())[centre.x()] != 0);
    // The same again changes nothing; erasing restores the empty mask.
    QVERIFY(!paintDisc(mask, centre, diameter, true));
    paintDisc(mask, centre, diameter, false);
    QCOMPARE(countSet(mask), 0);
}

void TestMaskEditor::brushPaintsThePixelUnderTheMouse_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::newRow("top left") << QPoint(0, 0);
    QTest::newRow("inside") << QPoint(123, 45);
    QTest::newRow("bottom right") << QPoint(479, 319);
}

void TestMaskEditor::brushPaintsThePixelUnderTheMouse()
{
    QFETCH(QPoint, at);
    MaskEditor editor;
    editor.setBrushSize(1);
    click(&editor, at);
    QCOMPARE(nonzeroPixels(editor.mask()), QVector<QPoint>{at});
    QCOMPARE(editor.mask().size(), QSize(480, 320));
    QCOMPARE(editor.mask().format(), QImage::Format_Grayscale8);
    QCOMPARE(editor.mask().pixelColor(at).value(), 255);

    // A wider brush is centred on the same pixel.
    MaskEditor wide;
    wide.setBrushSize(3);
    click(&wide, at);
    const QVector<QPoint> pixels = nonzeroPixels(wide.mask());
    for (const QPoint &p : pixels)
        QVERIFY(qAbs(p.x() - at.x()) <= 1 && qAbs(p.y() - at.y()) <= 1);
    QVERIFY(pixels.contains(at));
}

void TestMaskEditor::strokeLeavesNoGaps()
{
    MaskEditor editor;
    editor.setBrushSize(1);
    // Mouse moves arrive far apart when the mouse is fast.
    drag(&editor, QPoint(100, 50), QPoint(300, 150));
    const QImage mask = editor.mask();
    for (int x = 100; x <= 300; ++x) {
        const int y = 50 + qRound((x - 100) / 2.0);
        QVERIFY2(mask.constScanLine(y)[x] || mask.constScanLine(y - 1)[x] ||
                     mask.constScanLine(y + 1)[x],
                 qPrintable(QString("gap at x %1").arg(x)));
    }
    QVERIFY(countSet(mask) <= 2 * 201);
}

void TestMaskEditor::rectangleBetweenPressAndRelease()
{
    MaskEditor editor;
    editor.setTool(MaskEditor::Rectangle);
    // Dragged up and left; both corners are in.
    drag(&editor, QPoint(30, 40), QPoint(20, 10));
    QCOMPARE(editor.mask(), maskWith(QSize(480, 320), QRect(QPoint(20, 10), QPoint(30, 40))));
    // One pixel back is still a rectangle, and one past the edge is clipped.
    drag(&editor, QPoint(201, 201), QPoint(200, 200));
    drag(&editor, QPoint(470, 300), QPoint(520, 400));
    QImage expected = maskWith(QSize(480, 320), QRect(QPoint(20, 10), QPoint(30, 40)));
    paintRect(expected, QPoint(200, 200), QPoint(201, 201), true);
    paintRect(expected, QPoint(470, 300), QPoint(479, 319), true);
    QCOMPARE(editor.mask(), expected);
    // Nothing is painted before the release.
    mouse(&editor, QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton);
    mouse(&editor, QEvent::MouseMove, QPoint(150, 150), Qt::LeftButton);
    QCOMPARE(editor.mask(), expected);
    mouse(&editor, QEvent::MouseButtonRelease, QPoint(150, 150), Qt::LeftButton);
    QCOMPARE(countSet(editor.mask()), countSet(expected) + 51 * 51);
}

void TestMaskEditor::rightButtonAndEraseToolErase()
{
    MaskEditor editor;
    editor.setTool(MaskEditor::Rectangle);
    drag(&editor, QPoint(0, 0), QPoint(99, 99));
    drag(&editor, QPoint(10, 10), QPoint(19, 19), Qt::RightButton);
    QCOMPARE(countSet(editor.mask()), 100 * 100 - 100);
    QCOMPARE(editor.mask().pixelColor(15, 15).value(), 0);

    editor.setTool(MaskEditor::Brush);
    editor.setBrushSize(1);
    click(&editor, QPoint(50, 50), Qt::RightButton);
    QCOMPARE(editor.mask().pixelColor(50, 50).value(), 0);

    // With the Erase tool the left button erases.
    editor.setTool(MaskEditor::Erase);
    click(&editor, QPoint(60, 60));
    QCOMPARE(editor.mask().pixelColor(60, 60).value(), 0);
    QCOMPARE(countSet(editor.mask()), 100 * 100 - 102);
}

void TestMaskEditor::clearAndChanged()
{
    MaskEditor editor;
    QSignalSpy edited(&editor, &MaskEditor::maskEdited);
    const QImage start = maskWith(QSize(480, 320), QRect(10, 10, 20, 20));
    editor.setMask(start);
    QVERIFY(!editor.isChanged());
    QCOMPARE(editor.mask(), start);

    // Painting where it is painted already changes nothing.
    editor.setBrushSize(3);
    click(&editor, QPoint(15, 15));
    QVERIFY(!editor.isChanged());
    QCOMPARE(edited.count(), 0);

    click(&editor, QPoint(100, 100));
    QVERIFY(editor.isChanged());
    QCOMPARE(edited.count(), 1);
    // Erased again, it is the mask it was.
    click(&editor, QPoint(100, 100), Qt::RightButton);
    QVERIFY(!editor.isChanged());

    editor.clear();
    QVERIFY(editor.isChanged());
    QVERIFY(editor.mask().isNull());

    // A camera without a mask: clearing nothing is no change.
    editor.setMask(QImage());
    QVERIFY(editor.mask().isNull());
    editor.clear();
    QVERIFY(!editor.isChanged());
}

void TestMaskEditor::maskOfAnotherSizeIsScaled()
{
    MaskEditor editor;
    QImage half(240, 160, QImage::Format_Grayscale8);
    half.fill(0);
    setGrey(half, 10, 20, 1); // nonzero is ignored, however dark
    editor.setMask(half);
    QCOMPARE(nonzeroPixels(editor.mask()),
             (QVector<QPoint>{{20, 40}, {21, 40}, {20, 41}, {21, 41}}));
    QCOMPARE(editor.mask().pixelColor(20, 40).value(), 255);
    QVERIFY(!editor.isChanged());
}

void TestMaskEditor::frameIsShownUnderTheMask()
{
    // What is seen under the mouse is the frame's pixel there, and a
    // painted pixel is tinted exactly where it was painted.
    QImage frame(480, 320, QImage::Format_ARGB32);
    for (int y = 0; y < 320; ++y)
        for (int x = 0; x < 480; ++x)
            frame.setPixel(x, y, qRgb(x % 256, y % 256, (x / 256) * 100 + (y / 256) * 50));
    QImage steady(480, 320, QImage::Format_Grayscale8);
    steady.fill(0);
    setGrey(steady, 300, 200, 255);
    MaskEditor editor;
    editor.setBrushSize(1);
    editor.showFrame(frame, steady);
    click(&editor, QPoint(77, 201));
    mouse(&editor, QEvent::MouseMove, QPoint(400, 10), Qt::NoButton);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&editor, &leave);

    const QImage shown = editor.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(480, 320));
    for (const QPoint p : {QPoint(0, 0), QPoint(76, 201), QPoint(78, 201), QPoint(77, 200),
                           QPoint(479, 319), QPoint(301, 200)})
        QCOMPARE(shown.pixel(p), frame.pixel(p));
    QVERIFY(shown.pixel(77, 201) != frame.pixel(77, 201));
    QVERIFY(shown.pixel(300, 200) != frame.pixel(300, 200));
}

void TestMaskEditor::tint()
{
    QImage ignored(4, 3, QImage::Format_Grayscale8);
    ignored.fill(0);
    setGrey(ignored, 1, 1, 200);
    // Another format is read as grey.
    QImage steady(4, 3, QImage::Format_ARGB32);
    steady.fill(qRgb(0, 0, 0));
    steady.setPixel(1, 1, qRgb(255, 255, 255));
    steady.setPixel(2, 1, qRgb(255, 255, 255));
    steady.setPixel(3, 2, qRgb(255, 255, 255));

    // The top-left part only.
    const QImage part = areaTint(ignored, steady, QSize(3, 2));
    QCOMPARE(part.size(), QSize(3, 2));
    QCOMPARE(part.format(), QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(part.pixel(1, 1), ignoredAreaTint); // painted wins over steady
    QCOMPARE(part.pixel(2, 1), steadyAreaTint);
    for (const QPoint p : {QPoint(0, 0), QPoint(1, 0), QPoint(2, 0), QPoint(0, 1)})
        QCOMPARE(qAlpha(part.pixel(p)), 0);

    // Beyond the masks, transparent.
    const QImage larger = areaTint(ignored, QImage(), QSize(6, 5));
    QCOMPARE(larger.size(), QSize(6, 5));
    QCOMPARE(larger.pixel(1, 1), ignoredAreaTint);
    int tinted = 0;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            tinted += qAlpha(larger.pixel(x, y)) != 0;
    QCOMPARE(tinted, 1);

    // Steady alone.
    const QImage steadyOnly = areaTint(QImage(), steady, QSize(4, 3));
    QCOMPARE(steadyOnly.pixel(1, 1), steadyAreaTint);
    QCOMPARE(steadyOnly.pixel(3, 2), steadyAreaTint);
    QVERIFY(ignoredAreaTint != steadyAreaTint);
}

void TestMaskEditor::tintOfNothingIsNull()
{
    QImage empty(4, 3, QImage::Format_Grayscale8);
    empty.fill(0);
    QImage one = empty;
    setGrey(one, 0, 0, 255);
    QVERIFY(areaTint(QImage(), QImage(), QSize(4, 3)).isNull());
    QVERIFY(areaTint(empty, empty, QSize(4, 3)).isNull());
    QVERIFY(areaTint(empty, QImage(), QSize(4, 3)).isNull());
    QVERIFY(areaTint(one, QImage(), QSize()).isNull());
    QVERIFY(!areaTint(empty, one, QSize(4, 3)).isNull());
}

QTEST_MAIN(TestMaskEditor)
#include "tst_maskeditor.moc"
