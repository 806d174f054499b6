#include "calibration.h"
#include "chartdrawing.h"
#include "chartgeometry.h"
#include "chartpens.h"

#include <QtTest>

#include <cmath>
#include <functional>

namespace {

// The standard chart: world -500..500 cm both ways, 2 cm per pixel, 500 x 500 px.
ChartGeometry standardGeometry()
{
    ChartGeometry geo;
    computeChartGeometry(-500, -500, 1000, 1000, 700, 500, geo);
    return geo;
}

// A white pixmap with a painter in chart units, as the chart pass sets it up.
struct ChartCanvas
{
    QPixmap pixmap;
    QPainter painter;
    explicit ChartCanvas(const ChartGeometry& geo, const QColor& fill = Qt::white)
        : pixmap(geo.pixmapW, geo.pixmapH)
    {
        pixmap.fill(fill);
        painter.begin(&pixmap);
        painter.setWindow(0, 0, geo.gridW, geo.gridH);
    }
    QImage finish()
    {
        painter.end();
        return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    }
};

// Pixel of a world point in the standard geometry.
QPoint pixelOf(const ChartGeometry& geo, double x, double y)
{
    return QPoint(int(std::floor((geo.originX + x) / geo.cmPerPixel)),
                  int(std::floor((geo.originY - y) / geo.cmPerPixel)));
}

bool hasColor(const QImage& img, int x, int y, const QColor& c)
{
    return img.valid(x, y) && img.pixelColor(x, y).rgba() == c.rgba();
}

// Some pixel within the square of the given half size around (x, y) has colour c.
bool colorNear(const QImage& img, QPoint p, int halfSize, const QColor& c)
{
    for (int y = p.y() - halfSize; y <= p.y() + halfSize; ++y)
        for (int x = p.x() - halfSize; x <= p.x() + halfSize; ++x)
            if (hasColor(img, x, y, c))
                return true;
    return false;
}

int countColor(const QImage& img, const QRect& r, const std::function<bool(QRgb)>& pred)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (img.valid(x, y) && pred(img.pixel(x, y)))
                ++n;
    return n;
}

bool transparentEverywhere(const QImage& img)
{
    return countColor(img, img.rect(), [](QRgb p) { return qAlpha(p) != 0; }) == 0;
}

// The grid drawn by walking every multiple of the step from zero, the plain
// way; only usable for grids near the origin.
QImage referenceGrid(const ChartGeometry& geo)
{
    QPixmap pixmap(geo.pixmapW, geo.pixmapH);
    pixmap.fill(Qt::transparent);
    const double cpp = geo.cmPerPixel;
    QFont font;
    font.setPixelSize(10 * cpp < 6 ? 6 : int(10 * cpp));
    QPainter p(&pixmap);
    p.setWindow(0, 0, geo.gridW, geo.gridH);
    QPen linePen(Qt::darkGray, 2 * cpp, Qt::DotLine, Qt::RoundCap);
    QPen labelPen(Qt::black, 2 * cpp, Qt::SolidLine, Qt::RoundCap);
    QPen halfPen(Qt::lightGray, 2 * cpp, Qt::DotLine, Qt::RoundCap);
    QPen axisPen(Qt::darkGray, 2 * cpp, Qt::SolidLine, Qt::RoundCap);
    p.setFont(font);
    const int labelY = int(1.5 * p.fontMetrics().height() + (geo.originY - 5 * cpp));
    const int labelX = int(geo.originX + 5 * cpp);
    const int gx = geo.gridX, gy = geo.gridY, gw = geo.gridW, gh = geo.gridH;
    auto vline = [&](int x, bool label) {
        p.setPen(linePen);
        p.drawLine(QLineF(geo.originX + x, geo.originY - gy, geo.originX + x, geo.originY - gy - gh));
        if (label && x != 0) {
            p.setPen(labelPen);
            p.drawText(QPointF(geo.originX + x, labelY), QString::number(x) + " cm");
        }
    };
    auto hline = [&](int y, bool label) {
        p.setPen(linePen);
        p.drawLine(QLineF(geo.originX + gx, geo.originY - y, geo.originX + gx + gw, geo.originY - y));
        if (label && y != 0) {
            p.setPen(labelPen);
            p.drawText(QPointF(labelX, geo.originY - y - font.pixelSize()),
                       QString::number(y) + " cm");
        }
    };
    if (gx + gw > 0)
        for (int x = 0; x < gx + gw; x += geo.gridStepX)
            if (x > gx)
                vline(x, true);
    if (gx < 0)
        for (int x = 0; x > gx; x -= geo.gridStepX)
            vline(x, true);
    if (gy + gh > 0)
        for (int y = 0; y < gy + gh; y += geo.gridStepY)
            if (y > gy)
                hline(y, true);
    if (gy < 0)
        for (int y = 0; y > gy; y -= geo.gridStepY)
            hline(y, true);
    linePen = halfPen;
    for (int x = geo.gridStepX / 2; x < gx + gw; x += geo.gridStepX)
        if (x > gx)
            vline(x, false);
    for (int x = -(geo.gridStepX / 2); x > gx; x -= geo.gridStepX)
        vline(x, false);
    for (int y = geo.gridStepY / 2; y < gy + gh; y += geo.gridStepY)
        if (y > gy)
            hline(y, false);
    for (int y = -(geo.gridStepY / 2); y > gy; y -= geo.gridStepY)
        hline(y, false);
    p.setPen(axisPen);
    p.drawLine(QLineF(geo.originX, geo.originY - gy, geo.originX, geo.originY - gy - gh));
    p.drawLine(QLineF(geo.originX + gx, geo.originY, geo.originX + gx + gw, geo.originY));
    p.end();
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage gridImage(const ChartGeometry& geo, bool lines, const QImage* bg = nullptr,
                 int offX = 0, int offY = 0, double factor = 1.0)
{
    return renderGridLayer(geo, lines, bg, offX, offY, factor).toImage().convertToFormat(
        QImage::Format_ARGB32);
}

} // namespace

class TestChartDrawing : public QObject
{
    Q_OBJECT
private slots:
    void gridLayer();
    void gridLayerMatchesPlainWalk();
    void gridLayerBackgroundImage();
    void gridFarFromOriginRenders();
    void scaleBar();
    void anchors();
    void distanceCirclesAndPositions();
    void averagedLabelTexts();
    void calibrationMarks();
};

void TestChartDrawing::gridLayer()
{
    const ChartGeometry geo = standardGeometry();

    QVERIFY(transparentEverywhere(gridImage(geo, false)));
    const QImage grid = gridImage(geo, true);
    QCOMPARE(grid.size(), QSize(500, 500));
    // Solid axes: the y axis at pixel column 250 (x = 0), the x axis at row 250 (y = 0).
    for (int i = 0; i < 500; i += 7)
        QVERIFY2(colorNear(grid, QPoint(250, i), 1, Qt::darkGray) && colorNear(grid, QPoint(i, 250), 1, Qt::darkGray),
                 qPrintable(QString::number(i)));

    // Inside a half cell (between 125 px and 150 px both ways) nothing is drawn.
    QCOMPARE(countColor(grid, QRect(130, 130, 15, 15), [](QRgb p) { return qAlpha(p) != 0; }), 0);

    // A labelled line at x = -100 cm (pixel column 200) is dotted dark grey,
    // a half-step line at x = -150 cm (column 175) dotted light grey.
    QVERIFY(countColor(grid, QRect(199, 20, 2, 100),
                       [](QRgb p) { return p == QColor(Qt::darkGray).rgba(); }) > 10);
    QVERIFY(countColor(grid, QRect(174, 20, 2, 100),
                       [](QRgb p) { return p == QColor(Qt::lightGray).rgba(); }) > 10);

    // Labels are black (smoothed) text below the x axis; there is none at zero.
    auto black = [](QRgb p) {
        return qAlpha(p) > 128 && qRed(p) < 80 && qGreen(p) < 80 && qBlue(p) < 80;
    };
    QVERIFY(countColor(grid, QRect(302, 251, 40, 20), black) > 5);   // "100 cm"
    QCOMPARE(countColor(grid, QRect(253, 251, 40, 20), black), 0);   // no "0 cm"
    QVERIFY(countColor(grid, QRect(255, 178, 60, 13), black) > 5);   // "100 cm" on the y axis
}

void TestChartDrawing::gridLayerMatchesPlainWalk()
{
    // The lines are found without walking from zero; the picture must be the
    // one the plain walk draws.
    struct Case { int x, y, w, h, cw, ch; };
    const Case cases[] = {
        { -500, -500, 1000, 1000, 700, 500 },
        { -1234, 37, 3000, 1700, 640, 480 },
        { 150, 220, 800, 600, 400, 400 },            // origin outside, left below
        { -2500, -3100, 1200, 900, 500, 500 },       // whole area at negative values
        { -9000, -100, 1000, 50000, 300, 600 },      // long and narrow
        { -333, -777, 1430, 60, 500, 500 },
    };
    for (const Case& c : cases) {
        ChartGeometry geo;
        QVERIFY(computeChartGeometry(c.x, c.y, c.w, c.h, c.cw, c.ch, geo));
        const QImage fast = gridImage(geo, true);
        const QImage plain = referenceGrid(geo);
        const QString what = QString("grid %1 %2 %3 %4").arg(c.x).arg(c.y).arg(c.w).arg(c.h);
        QVERIFY2(fast == plain, qPrintable(what));
        QVERIFY2(!transparentEverywhere(fast), qPrintable(what));
    }
}

void TestChartDrawing::gridLayerBackgroundImage()
{
    const ChartGeometry geo = standardGeometry();
    // 100 x 50 picture: left half blue, right half green.
    QImage picture(100, 50, QImage::Format_RGB32);
    picture.fill(Qt::green);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 50; ++x)
            picture.setPixel(x, y, qRgb(0, 0, 255));

    // Top-left corner at world (0, 50), 2 cm per image pixel: the picture covers
    // world x 0..200 and y -50..50, i.e. pixels (250, 225) to (350, 275).
    // A freshly loaded picture: lower-left corner at the origin, 1 cm per pixel.
    const QImage layer = gridImage(geo, false, &picture, 0, 50, 2.0);
    const QImage loaded = gridImage(geo, false, &picture, 0, 50, 1.0);
    const QColor none(Qt::transparent);
    struct Probe {
        const QImage* img;
        int x, y;
        QColor c;
    };
    const QList<Probe> probes = {{&layer, 252, 227, Qt::blue}, {&layer, 298, 272, Qt::blue}, {&layer, 302, 227, Qt::green},
                                 {&layer, 348, 272, Qt::green}, {&layer, 248, 240, none},    {&layer, 352, 240, none},
                                 {&layer, 300, 222, none},      {&layer, 300, 277, none},    {&loaded, 251, 248, Qt::blue},
                                 {&loaded, 298, 226, Qt::green}, {&loaded, 251, 252, none}};
    for (const Probe& p : probes)
        QVERIFY2(p.c == none ? qAlpha(p.img->pixel(p.x, p.y)) == 0 : hasColor(*p.img, p.x, p.y, p.c),
                 qPrintable(QString("%1,%2").arg(p.x).arg(p.y)));

    // The grid is drawn over the picture.
    const QImage both = gridImage(geo, true, &picture, 0, 50, 2.0);
    QVERIFY(colorNear(both, QPoint(250, 240), 1, Qt::darkGray));
    QVERIFY(hasColor(both, 262, 240, Qt::blue));

    // No picture, or an unreadable one, draws nothing.
    const QImage nothing;
    QVERIFY(transparentEverywhere(gridImage(geo, false, &nothing, 0, 50, 2.0)));
    QVERIFY(transparentEverywhere(gridImage(geo, false, nullptr, 0, 50, 2.0)));
}

void TestChartDrawing::gridFarFromOriginRenders()
{
    // Ten metres shown a thousand kilometres east of the origin.
    ChartGeometry geo;
    QVERIFY(computeChartGeometry(1000000000, 0, 1000, 1000, 700, 500, geo));
    QCOMPARE(geo.originX, -1000000000);
    const QImage far = gridImage(geo, true);
    QCOMPARE(far.size(), QSize(500, 500));
    // The labelled line at x = 1000000100 cm lies at pixel column 50.
    QVERIFY(countColor(far, QRect(49, 0, 2, 200),
                       [](QRgb p) { return p == QColor(Qt::darkGray).rgba(); }) > 10);

    // The same far to the west and south, and the extremes of the int range.
    for (const QRect& r : {QRect(-1000000000, -2000000000, 1000, 1000), QRect(2147482647, 2147482647 - 1000, 1000, 1000)}) {
        QVERIFY(computeChartGeometry(r.x(), r.y(), r.width(), r.height(), 700, 500, geo));
        QVERIFY(!transparentEverywhere(gridImage(geo, true)));
    }
    QVERIFY(computeChartGeometry(-2147483647, -2147483647, 2147483647, 2147483647, 700, 500, geo));
    QVERIFY(!transparentEverywhere(gridImage(geo, true)));

    // Grid steps far below one pixel (only reachable by a hand-made geometry):
    // two hundred million lines each way must not be walked one by one.
    ChartGeometry dense;
    dense.gridX = -1000000000; dense.gridY = -1000000000;
    dense.gridW = 2000000000; dense.gridH = 2000000000;
    dense.originX = 1000000000; dense.originY = 1000000000;
    dense.cmPerPixel = 4000000.0;
    dense.pixmapW = 500; dense.pixmapH = 500;
    dense.gridStepX = 10; dense.gridStepY = 10;
    QVERIFY(!transparentEverywhere(gridImage(dense, true)));
}

void TestChartDrawing::scaleBar()
{
    const ChartGeometry geo = standardGeometry();   // one step = 100 cm = 50 px
    QPixmap pixmap(geo.pixmapW, geo.pixmapH);
    pixmap.fill(Qt::gray);
    QPainter painter(&pixmap);
    painter.setWindow(0, 0, geo.pixmapW, geo.pixmapH);
    const QFontMetrics fm = painter.fontMetrics();
    const int w0 = fm.horizontalAdvance("0");
    const int h = fm.height();
    drawScaleBar(&painter, geo);
    painter.end();
    const QImage img = pixmap.toImage();

    const int base = geo.pixmapH - h;
    const int midY = base - h / 2;
    // Left half: white inside a black outline; right half: filled black.
    QCOMPARE(img.pixel(w0 + 15 + 12, midY), qRgb(255, 255, 255));
    QCOMPARE(img.pixel(w0 + 15, midY), qRgb(0, 0, 0));
    QCOMPARE(img.pixel(w0 + 15 + 25 + 12, midY), qRgb(0, 0, 0));
    // The white box starts at x = 10 and spans bar and texts; outside it the chart shows.
    QCOMPARE(img.pixel(9, midY), QColor(Qt::gray).rgb());
    QCOMPARE(img.pixel(11, base - h + 1), qRgb(255, 255, 255));
    QCOMPARE(img.pixel(20, base + 2), QColor(Qt::gray).rgb());
    // The "100 cm" text leaves black pixels right of the bar.
    int ink = 0;
    for (int y = base - h; y < base; ++y)
        for (int x = 50 + w0 + 20; x < 50 + w0 + 20 + fm.horizontalAdvance("100 cm"); ++x)
            ink += img.pixel(x, y) == qRgb(0, 0, 0);
    QVERIFY(ink > 5);
}

void TestChartDrawing::anchors()
{
    const ChartGeometry geo = standardGeometry();
    ChartPens pens;
    pens.applyScale(geo.cmPerPixel);
    const QColor red(200, 0, 0), blue(0, 0, 200), green(0, 150, 0);
    QList<Anchor> list;
    list << Anchor("1", "A1", red, 100, 200, 0, false, 0)
         << Anchor("2", "M", blue, -300, -100, 0, true, 0)
         << Anchor("3", "A3", green, 300, -300, 0, false, 0);

    ChartCanvas canvas(geo);
    drawAnchorItems(&canvas.painter, geo, pens, list);
    const QImage img = canvas.finish();

    for (const Anchor& a : list) {
        const QPoint c = pixelOf(geo, a.x, a.y);
        // A disc 10 px across in the anchor's colour, white around it; the name
        // starts 10 px to the right, its base line at the anchor's height.
        auto ink = [&](QRgb p) { return p == a.color.rgba(); };
        QVERIFY2(hasColor(img, c.x(), c.y(), a.color) && hasColor(img, c.x() - 3, c.y(), a.color)
                     && hasColor(img, c.x(), c.y() + 3, a.color) && hasColor(img, c.x() - 7, c.y(), Qt::white)
                     && hasColor(img, c.x() - 7, c.y() + 1, Qt::white)
                     && countColor(img, QRect(c.x() + 10, c.y() - 12, 30, 12), ink) > 5,
                 qPrintable(a.name));
        // A ring of radius 10 px only around the master.
        const bool ring = colorNear(img, QPoint(c.x() - 10, c.y()), 1, a.color)
                          && colorNear(img, QPoint(c.x(), c.y() + 10), 1, a.color)
                          && colorNear(img, QPoint(c.x(), c.y() - 10), 1, a.color);
        QCOMPARE(ring, a.master);
    }

    // Moving the master flag moves the ring.
    list[1].master = false;
    list[2].master = true;
    ChartCanvas second(geo);
    drawAnchorItems(&second.painter, geo, pens, list);
    const QImage moved = second.finish();
    const QPoint m = pixelOf(geo, -300, -100), g = pixelOf(geo, 300, -300);
    QVERIFY(!colorNear(moved, QPoint(m.x() - 10, m.y()), 1, blue));
    QVERIFY(colorNear(moved, QPoint(g.x() - 10, g.y()), 1, green));

    // Nothing to draw leaves the chart untouched; anchors off the int range do not wrap.
    ChartCanvas none(geo);
    drawAnchorItems(&none.painter, geo, pens, QList<Anchor>());
    QList<Anchor> far;
    far << Anchor("9", "F", red, 2147483647, -2147483647 - 1, 0, true, 0);
    drawAnchorItems(&none.painter, geo, pens, far);
    const QImage blank = none.finish();
    QCOMPARE(countColor(blank, blank.rect(), [](QRgb p) { return p != qRgb(255, 255, 255); }), 0);
}

void TestChartDrawing::distanceCirclesAndPositions()
{
    const ChartGeometry geo = standardGeometry();
    ChartPens pens;
    pens.applyScale(geo.cmPerPixel);
    const QColor tagColor(255, 128, 0), other(0, 128, 128);
    const Anchor anchor("1", "A", Qt::black, 0, 0, 0, false, 0);
    Tag tag("1A2B", "Tag1", tagColor, true, true, true, true, false, false, false);

    ChartCanvas canvas(geo);
    // Raw circle of 300 cm (150 px), averaged circle of 400 cm (200 px) in another colour.
    drawDistanceCircle(&canvas.painter, geo, pens.rawCirclePen, anchor, 300, tagColor);
    drawDistanceCircle(&canvas.painter, geo, pens.avgCirclePen, anchor, 400, other);
    tag.updateAveragedPosition(-200, 150);
    drawRawPosition(&canvas.painter, geo, pens, tag, 200.7f, -120.9f);
    drawAveragedPosition(&canvas.painter, geo, pens, tag, 9.8);
    const QImage img = canvas.finish();

    QVERIFY(colorNear(img, QPoint(400, 250), 1, tagColor));   // right of the anchor
    QVERIFY(colorNear(img, QPoint(250, 100), 1, tagColor));   // above
    QVERIFY(colorNear(img, QPoint(50, 250), 2, other));
    QVERIFY(colorNear(img, QPoint(250, 450), 2, other));
    QVERIFY(hasColor(img, 320, 250, Qt::white));              // between the two circles
    QVERIFY(hasColor(img, 250, 250, Qt::white));              // the centre stays empty

    // Raw dot at (200, -120) truncated: pixel (350, 310); averaged at (-200, 150): (150, 175).
    const QPoint raw = pixelOf(geo, 200, -120), avg = pixelOf(geo, -200, 150);
    // Their labels start 10 px to the right.
    auto ink = [&](QRgb p) { return p == tagColor.rgba(); };
    for (const QPoint& p : {raw, avg})
        QVERIFY(hasColor(img, p.x(), p.y(), tagColor) && hasColor(img, p.x() - 3, p.y() + 3, tagColor)
                && countColor(img, QRect(p.x() + 10, p.y() - 12, 30, 12), ink) > 5);
    QVERIFY(hasColor(img, avg.x() - 8, avg.y(), Qt::white));
}

void TestChartDrawing::averagedLabelTexts()
{
    Tag tag("1", "Tag1", Qt::red, false, true, false, false, true, true, true);
    tag.updateAveragedPosition(100, -20);
    tag.updateAveragedPosition(120, -35);   // 25 cm step
    tag.prevUpdateMs = 1000;
    tag.lastUpdateMs = 1625;                // 25 cm in 625 ms = 0.4 m/s
    // Coordinates, speed, rate: each part only when ticked.
    struct Case {
        bool coordinates, speed, rate;
        double hz;
        QString expected;
    };
    const QList<Case> cases = {{true, true, true, 9.8, "Tag1 [X: 120 cm Y: -35 cm 0.4 m/s 9.8 Hz]"},
                               {false, true, false, 9.8, "Tag1 [0.4 m/s]"},
                               {false, false, false, 9.8, "Tag1"},
                               {true, false, false, 9.8, "Tag1 [X: 120 cm Y: -35 cm]"},
                               {false, false, true, 9.96, "Tag1 [10.0 Hz]"},
                               {false, false, true, 0.0, "Tag1 [0.0 Hz]"}};
    for (const Case& c : cases) {
        tag.showCoordinates = c.coordinates;
        tag.showSpeed = c.speed;
        tag.showRate = c.rate;
        QCOMPARE(averagedLabel(tag, c.hz), c.expected);
    }

    // 4 cm in one second: 0.04 m/s shows with one decimal.
    tag.showRate = false;
    tag.showSpeed = true;
    tag.updateAveragedPosition(120, -31);
    tag.prevUpdateMs = 0;
    tag.lastUpdateMs = 1000;
    QCOMPARE(averagedLabel(tag, 0.0), QString("Tag1 [0.0 m/s]"));

    // A name with placeholders in it is shown as it is.
    tag.name = "T%1 %2";
    QCOMPARE(averagedLabel(tag, 0.0), QString("T%1 %2 [0.0 m/s]"));
}

void TestChartDrawing::calibrationMarks()
{
    ChartGeometry geo;
    QVERIFY(computeChartGeometry(0, 0, 800, 600, 400, 300, geo));   // 2 cm per pixel
    ChartPens pens;
    pens.applyScale(geo.cmPerPixel);
    Calibration c;
    c.originX = 100; c.originY = 500;
    c.pointX = 400; c.pointY = 500;

    auto draw = [&] {
        ChartCanvas canvas(geo);
        drawCalibrationMarks(&canvas.painter, geo, pens, c);
        return canvas.finish();
    };
    // Nothing picked: nothing drawn.
    QImage img = draw();
    QCOMPARE(countColor(img, img.rect(), [](QRgb p) { return p != qRgb(255, 255, 255); }), 0);
    // Only the origin: a red dot at pixel (50, 50).
    c.originSet = true;
    img = draw();
    QVERIFY(hasColor(img, 50, 50, Qt::red) && hasColor(img, 125, 50, Qt::white) && hasColor(img, 200, 50, Qt::white));
    // Both: green dot at pixel (200, 50) and a green line between them, drawn
    // last, across the middle of the red dot.
    c.pointSet = true;
    img = draw();
    QVERIFY(hasColor(img, 50, 46, Qt::red) && hasColor(img, 46, 50, Qt::red));
    QVERIFY(hasColor(img, 50, 50, Qt::green) && hasColor(img, 200, 50, Qt::green));
    QVERIFY(colorNear(img, QPoint(125, 50), 1, Qt::green) && hasColor(img, 125, 55, Qt::white));
}

QTEST_MAIN(TestChartDrawing)
#include "tst_chartdrawing.moc"
