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
    void gridLayerBackgroundImage();
    void gridFarFromOriginRenders();
    void anchors();
    void distanceCirclesAndPositions();
    void averagedLabelTexts();
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
    const QList<Probe> probes = {{&layer, 252, 227, Qt::blue}, {&layer, 348, 272, Qt::green}, {&layer, 248, 240, none},
                                 {&layer, 300, 277, none},      {&loaded, 251, 248, Qt::blue}, {&loaded, 251, 252, none}};
    for (const Probe& p : probes)
        QVERIFY2(p.c == none ? qAlpha(p.img->pixel(p.x, p.y)) == 0 : hasColor(*p.img, p.x, p.y, p.c),
                 qPrintable(QString("%1,%2").arg(p.x).arg(p.y)));

    // The grid is drawn over the picture.
    const QImage both = gridImage(geo, true, &picture, 0, 50, 2.0);
    QVERIFY(colorNear(both, QPoint(250, 240), 1, Qt::darkGray));
    QVERIFY(hasColor(both, 262, 240, Qt::blue));

    // An unreadable picture draws nothing.
    const QImage nothing;
    QVERIFY(transparentEverywhere(gridImage(geo, false, &nothing, 0, 50, 2.0)));
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

    // Raw dot at (200, -120) truncated toward zero; averaged at (-200, 150).
    for (const QPoint& p : {pixelOf(geo, 200, -120), pixelOf(geo, -200, 150)})
        QVERIFY(hasColor(img, p.x(), p.y(), tagColor));
}

void TestChartDrawing::averagedLabelTexts()
{
    Tag tag("1", "Tag1", Qt::red, false, true, false, false, true, true, true);
    tag.updateAveragedPosition(120, -35);
    tag.speedMps = 0.4;
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

    // 0.04 m/s shows with one decimal.
    tag.showRate = false;
    tag.showSpeed = true;
    tag.speedMps = 0.04;
    QCOMPARE(averagedLabel(tag, 0.0), QString("Tag1 [0.0 m/s]"));

    // A name with placeholders in it is shown as it is.
    tag.name = "T%1 %2";
    QCOMPARE(averagedLabel(tag, 0.0), QString("T%1 %2 [0.0 m/s]"));
}

QTEST_MAIN(TestChartDrawing)
#include "tst_chartdrawing.moc"
