// Paints the program's icons and writes them as PNG files into the folder
// given on the command line. The PNGs are kept in the repository, so this
// tool only runs when an image is redrawn.

#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSvgGenerator>
#include <QTextStream>
#include <QtMath>

namespace
{

QImage blank(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void prepare(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
}

// How the tray shows the capture state on the webcam.
enum class Badge { None, Idle, Watching, Alert };

// A round camera head with a large lens on a short neck and an oval foot,
// drawn on a 256 unit canvas with bold shapes so it survives scaling to 16.
// The tray's variants add a state badge at the lower right, big enough to
// read at tray size: grey (idle), green (watching), red with a mark (alert).
void paintWebcam(QPainter &p, Badge badge = Badge::None)
{

    // Foot and neck.
    QLinearGradient footFill(0, 206, 0, 244);
    footFill.setColorAt(0, QColor(92, 98, 110));
    footFill.setColorAt(1, QColor(38, 42, 50));
    p.setPen(QPen(QColor(24, 26, 32), 4));
    p.setBrush(footFill);
    p.drawEllipse(QRectF(58, 206, 140, 38));
    QLinearGradient neckFill(108, 0, 148, 0);
    neckFill.setColorAt(0, QColor(60, 64, 74));
    neckFill.setColorAt(0.5, QColor(120, 126, 138));
    neckFill.setColorAt(1, QColor(50, 54, 62));
    p.setBrush(neckFill);
    p.drawRoundedRect(QRectF(110, 180, 36, 42), 8, 8);

    // Head.
    QRadialGradient headFill(QPointF(100, 70), 170);
    headFill.setColorAt(0, QColor(250, 251, 253));
    headFill.setColorAt(0.55, QColor(196, 202, 212));
    headFill.setColorAt(1, QColor(120, 128, 142));
    p.setPen(QPen(QColor(40, 44, 54), 8));
    p.setBrush(headFill);
    p.drawEllipse(QPointF(128, 104), 96, 92);

    // Lens: dark bezel, blue glass, a highlight.
    QRadialGradient bezel(QPointF(128, 104), 60);
    bezel.setColorAt(0.75, QColor(30, 32, 38));
    bezel.setColorAt(1, QColor(80, 84, 94));
    p.setPen(Qt::NoPen);
    p.setBrush(bezel);
    p.drawEllipse(QPointF(128, 104), 58, 58);
    QRadialGradient glass(QPointF(112, 88), 64);
    glass.setColorAt(0, QColor(96, 170, 255));
    glass.setColorAt(0.45, QColor(24, 82, 190));
    glass.setColorAt(1, QColor(6, 18, 60));
    p.setBrush(glass);
    p.drawEllipse(QPointF(128, 104), 40, 40);
    p.setBrush(QColor(4, 8, 24));
    p.drawEllipse(QPointF(128, 104), 15, 15);
    p.setBrush(QColor(255, 255, 255, 210));
    p.drawEllipse(QPointF(111, 86), 11, 8);

    // Activity light.
    QRadialGradient led(QPointF(186, 46), 10);
    led.setColorAt(0, QColor(255, 190, 190));
    led.setColorAt(1, QColor(220, 20, 30));
    p.setPen(QPen(QColor(90, 10, 14), 2));
    p.setBrush(led);
    p.drawEllipse(QPointF(184, 48), 9, 9);

    if (badge == Badge::None)
        return;
    const QPointF centre(196, 196);
    QColor light, dark;
    switch (badge) {
    case Badge::Idle:
        light = QColor(200, 204, 212), dark = QColor(110, 116, 128);
        break;
    case Badge::Watching:
        light = QColor(120, 230, 120), dark = QColor(20, 140, 40);
        break;
    default:
        light = QColor(255, 120, 100), dark = QColor(200, 16, 20);
        break;
    }
    QRadialGradient fill(centre - QPointF(16, 16), 80);
    fill.setColorAt(0, light);
    fill.setColorAt(1, dark);
    p.setPen(QPen(Qt::white, 10));
    p.setBrush(fill);
    p.drawEllipse(centre, 54, 54);
    if (badge == Badge::Alert) {
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(186, 160, 20, 48), 8, 8);
        p.drawEllipse(QPointF(196, 224), 11, 11);
    }
}

QImage webcam(int size, Badge badge = Badge::None)
{
    QImage image = blank(size, size);
    QPainter p(&image);
    prepare(p);
    p.scale(size / 256.0, size / 256.0);
    paintWebcam(p, badge);
    return image;
}

// The webcam as a scalable drawing for the desktop's icon theme.
bool writeWebcamSvg(const QString &path)
{
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(QSize(256, 256));
    svg.setViewBox(QRect(0, 0, 256, 256));
    svg.setTitle("Orvella");
    QPainter p;
    if (!p.begin(&svg))
        return false;
    prepare(p);
    paintWebcam(p);
    return p.end();
}

// An open door frame with a red arrow leaving through it.
QImage exitIcon()
{
    QImage image = blank(32, 32);
    QPainter p(&image);
    prepare(p);

    QPainterPath frame;
    frame.moveTo(19, 9);
    frame.lineTo(19, 3);
    frame.lineTo(4, 3);
    frame.lineTo(4, 29);
    frame.lineTo(19, 29);
    frame.lineTo(19, 23);
    p.setPen(QPen(QColor(70, 74, 84), 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(frame);

    QPainterPath arrow;
    arrow.moveTo(9, 13);
    arrow.lineTo(19, 13);
    arrow.lineTo(19, 7.5);
    arrow.lineTo(29.5, 16);
    arrow.lineTo(19, 24.5);
    arrow.lineTo(19, 19);
    arrow.lineTo(9, 19);
    arrow.closeSubpath();
    QLinearGradient fill(0, 7, 0, 25);
    fill.setColorAt(0, QColor(255, 96, 80));
    fill.setColorAt(1, QColor(196, 24, 20));
    p.setPen(QPen(QColor(130, 12, 10), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(arrow);
    return image;
}

// A white "i" on a blue disc.
QImage aboutIcon()
{
    QImage image = blank(32, 32);
    QPainter p(&image);
    prepare(p);

    QLinearGradient disc(0, 1, 0, 31);
    disc.setColorAt(0, QColor(90, 160, 240));
    disc.setColorAt(1, QColor(20, 80, 180));
    p.setPen(QPen(QColor(14, 54, 130), 1.4));
    p.setBrush(disc);
    p.drawEllipse(QPointF(16, 16), 14.6, 14.6);

    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 8.8), 2.7, 2.7);
    p.drawRoundedRect(QRectF(13.6, 13.2, 4.8, 12.6), 1.4, 1.4);
    return image;
}

// One arc of the refresh sign: sweeps from startAngle through spanAngle
// (degrees, counter-clockwise) and ends in an arrow head.
void drawArcArrow(QPainter &p, qreal startAngle, qreal spanAngle)
{
    const QPointF centre(16, 16);
    const qreal radius = 10.5;
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    QPainterPath arc;
    arc.arcMoveTo(box, startAngle);
    arc.arcTo(box, startAngle, spanAngle);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(34, 140, 50), 4, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(arc);

    // The head points along the tangent at the end of the arc.
    const qreal end = qDegreesToRadians(startAngle + spanAngle);
    const QPointF tip(centre.x() + radius * qCos(end), centre.y() - radius * qSin(end));
    const QPointF along(-qSin(end), -qCos(end)); // counter-clockwise tangent
    const QPointF outward(qCos(end), -qSin(end));
    QPainterPath head;
    head.moveTo(tip + along * 6.5);
    head.lineTo(tip + outward * 5.5);
    head.lineTo(tip - outward * 5.5);
    head.closeSubpath();
    p.setPen(QPen(QColor(20, 100, 34), 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(34, 140, 50));
    p.drawPath(head);
}

// Two green arrows chasing each other round a circle.
QImage updateIcon()
{
    QImage image = blank(32, 32);
    QPainter p(&image);
    prepare(p);
    drawArcArrow(p, 20, 130);
    drawArcArrow(p, 200, 130);
    return image;
}

// A yellow folder with its front flap tilted open.
QImage loadIcon()
{
    QImage image = blank(32, 32);
    QPainter p(&image);
    prepare(p);
    const QColor outline(150, 100, 10);

    QPainterPath back;
    back.moveTo(2, 7);
    back.lineTo(11, 7);
    back.lineTo(14, 10);
    back.lineTo(27, 10);
    back.lineTo(27, 27);
    back.lineTo(2, 27);
    back.closeSubpath();
    p.setPen(QPen(outline, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(226, 170, 40));
    p.drawPath(back);

    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(5, 12, 19, 10));

    QPainterPath front;
    front.moveTo(7, 15);
    front.lineTo(31, 15);
    front.lineTo(26.5, 27);
    front.lineTo(2, 27);
    front.closeSubpath();
    QLinearGradient fill(0, 15, 0, 27);
    fill.setColorAt(0, QColor(255, 222, 110));
    fill.setColorAt(1, QColor(240, 180, 40));
    p.setPen(QPen(outline, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(front);
    return image;
}

// The maker's mark: a rounded square holding a stylised "K" made of an
// upright bar and two chevron strokes, then the maker's name beside it, the
// whole group centred in the image.
QImage companyLogo()
{
    QImage image = blank(261, 51);
    QPainter p(&image);
    prepare(p);

    QFont name("DejaVu Sans");
    name.setPixelSize(29);
    name.setBold(true);
    name.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    const QString maker = "Kelvane";
    const qreal nameWidth = QFontMetricsF(name).horizontalAdvance(maker);
    const qreal markSize = 43, gap = 9;
    const qreal left = qRound((image.width() - markSize - gap - nameWidth) / 2);
    p.translate(left, 0);

    const QRectF mark(0, 4, markSize, markSize);
    QLinearGradient markFill(mark.topLeft(), mark.bottomRight());
    markFill.setColorAt(0, QColor(32, 150, 200));
    markFill.setColorAt(1, QColor(16, 64, 130));
    p.setPen(Qt::NoPen);
    p.setBrush(markFill);
    p.drawRoundedRect(mark, 10, 10);

    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(10, 13, 7, 25), 2, 2);
    p.setPen(QPen(Qt::white, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(19, 25.5), QPointF(30, 15));
    p.setPen(QPen(QColor(140, 220, 255), 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(19, 25.5), QPointF(30, 36));

    const qreal textLeft = markSize + gap;
    p.setFont(name);
    p.setPen(QColor(24, 52, 96));
    p.drawText(QRectF(textLeft, 1, nameWidth + 4, 34), Qt::AlignLeft | Qt::AlignVCenter, maker);

    QFont tagline("DejaVu Sans");
    tagline.setPixelSize(10);
    tagline.setLetterSpacing(QFont::AbsoluteSpacing, 3.2);
    p.setFont(tagline);
    p.setPen(QColor(70, 110, 150));
    p.drawText(QRectF(textLeft + 2, 33, nameWidth, 14), Qt::AlignLeft | Qt::AlignVCenter,
               "SOFTWARE");
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 3) {
        err << "usage: " << argv[0] << " <resource icon folder> <icon theme folder>\n";
        return 2;
    }

    const QDir out(QString::fromLocal8Bit(argv[1]));
    const struct {
        const char *file;
        QImage image;
    } icons[] = {
        {"1429216426_webcam.png", webcam(256)},
        {"tray-idle.png", webcam(64, Badge::Idle)},
        {"tray-watching.png", webcam(64, Badge::Watching)},
        {"tray-alert.png", webcam(64, Badge::Alert)},
        {"exit.png", exitIcon()},
        {"about_icon.png", aboutIcon()},
        {"update.png", updateIcon()},
        {"load.png", loadIcon()},
        {"company-logo.png", companyLogo()},
    };
    for (const auto &icon : icons) {
        const QString path = out.filePath(icon.file);
        if (!icon.image.save(path, "PNG")) {
            err << "cannot write " << path << "\n";
            return 1;
        }
    }

    // The icon theme's layout: <theme>/<size>x<size>/apps and <theme>/scalable/apps.
    const QDir theme(QString::fromLocal8Bit(argv[2]));
    const QString name = "com.kelvane.Orvella";
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString folder = QString("%1x%1/apps").arg(size);
        const QString path = theme.filePath(folder + "/" + name + ".png");
        if (!theme.mkpath(folder) || !webcam(size).save(path, "PNG")) {
            err << "cannot write " << path << "\n";
            return 1;
        }
    }
    const QString svgPath = theme.filePath("scalable/apps/" + name + ".svg");
    if (!theme.mkpath("scalable/apps") || !writeWebcamSvg(svgPath)) {
        err << "cannot write " << svgPath << "\n";
        return 1;
    }
    return 0;
}
