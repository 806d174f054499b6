#include "calibration.h"
#include "chartgeometry.h"
#include "chartpens.h"

#include <QtTest>

#include <limits>

static const int IntMax = std::numeric_limits<int>::max();
static const int IntMin = std::numeric_limits<int>::min();

static bool sameGeometry(const ChartGeometry& a, const ChartGeometry& b)
{
    return a.gridX == b.gridX && a.gridY == b.gridY && a.gridW == b.gridW && a.gridH == b.gridH
        && a.originX == b.originX && a.originY == b.originY && a.cmPerPixel == b.cmPerPixel
        && a.pixmapW == b.pixmapW && a.pixmapH == b.pixmapH && a.gridStepX == b.gridStepX
        && a.gridStepY == b.gridStepY;
}

class TestChartGeometry : public QObject
{
    Q_OBJECT
private slots:
    void fitsGridIntoContainer();
    void niceStepRule();
    void failedUpdateKeepsGeometry();
    void extremeButValidGrids();
    void pixelToWorldTruncates();
    void pensFollowScale();
    void calibrationFitsPicture();
    void calibrationRejectsCoincidentPoints();
    void calibrationSurvivesHugeNumbers();
};

void TestChartGeometry::fitsGridIntoContainer()
{
    ChartGeometry geo;
    QVERIFY(computeChartGeometry(-500, -500, 1000, 1000, 700, 500, geo));
    QCOMPARE(geo.gridX, -500);
    QCOMPARE(geo.gridY, -500);
    QCOMPARE(geo.gridW, 1000);
    QCOMPARE(geo.gridH, 1000);
    QCOMPARE(geo.cmPerPixel, 2.0);
    QCOMPARE(geo.pixmapW, 500);
    QCOMPARE(geo.pixmapH, 500);
    QCOMPARE(geo.originX, 500);
    QCOMPARE(geo.originY, 500);
    QCOMPARE(geo.gridStepX, 100);
    QCOMPARE(geo.gridStepY, 100);

    // A wide area in a tall container is limited by the width.
    QVERIFY(computeChartGeometry(0, 0, 2000, 500, 500, 800, geo));
    QCOMPARE(geo.cmPerPixel, 4.0);
    QCOMPARE(geo.pixmapW, 500);
    QCOMPARE(geo.pixmapH, 125);
    QCOMPARE(geo.originX, 0);
    QCOMPARE(geo.originY, 500);
}

void TestChartGeometry::niceStepRule()
{
    QCOMPARE(niceStep(1000 / 10), 100);
    QCOMPARE(niceStep(500 / 10), 100);
    QCOMPARE(niceStep(1400 / 10), 100);
    QCOMPARE(niceStep(1430 / 10), 1000);
    QCOMPARE(niceStep(60 / 10), 10);
    QCOMPARE(niceStep(0), 10);
    QCOMPARE(niceStep(-7), 10);
    QCOMPARE(niceStep(10), 10);
    QCOMPARE(niceStep(100000000), 100000000);
    QCOMPARE(niceStep(100000001), 100000001);   // beyond the table: r itself
    QCOMPARE(niceStep(IntMax / 10), IntMax / 10);

    // Both directions use the finer step so the cells are square.
    ChartGeometry geo;
    QVERIFY(computeChartGeometry(0, 0, 1000, 200, 700, 500, geo));
    QCOMPARE(geo.gridStepX, 100);
    QCOMPARE(geo.gridStepY, 100);
    QVERIFY(computeChartGeometry(0, 0, 1000, 120, 700, 500, geo));
    QCOMPARE(geo.gridStepX, 10);
    QCOMPARE(geo.gridStepY, 10);
}

void TestChartGeometry::failedUpdateKeepsGeometry()
{
    ChartGeometry good;
    QVERIFY(computeChartGeometry(-500, -500, 1000, 1000, 700, 500, good));

    struct Case { const char* what; int x, y, w, h, cw, ch; };
    const Case cases[] = {
        { "width 0", -500, -500, 0, 1000, 700, 500 },
        { "height 0", -500, -500, 1000, 0, 700, 500 },
        { "negative width", -500, -500, -1000, 1000, 700, 500 },
        { "negative height", -500, -500, 1000, -1, 700, 500 },
        { "container without width", -500, -500, 1000, 1000, 0, 500 },
        { "container without height", -500, -500, 1000, 1000, 700, 0 },
        { "negative container", -500, -500, 1000, 1000, -700, 500 },
        // -gridX does not fit an int
        { "origin x overflow", IntMin, 0, 1000, 1000, 700, 500 },
        // gridH + gridY does not fit an int
        { "origin y overflow", 0, IntMax - 10, 1000, 1000, 700, 500 },
        { "origin y underflow", 0, IntMin, 1000, -1, 700, 500 },
        // a pixmap less than one pixel high
        { "flat pixmap", 0, 0, 1000000, 10, 700, 500 },
    };
    for (const Case& c : cases) {
        ChartGeometry geo = good;
        QVERIFY2(!computeChartGeometry(c.x, c.y, c.w, c.h, c.cw, c.ch, geo), c.what);
        QVERIFY2(sameGeometry(geo, good), c.what);
    }
}

void TestChartGeometry::extremeButValidGrids()
{
    ChartGeometry geo;
    QVERIFY(computeChartGeometry(IntMin + 1, IntMin, IntMax, IntMax, 700, 500, geo));
    QCOMPARE(geo.originX, IntMax);
    QCOMPARE(geo.originY, -1);
    QCOMPARE(geo.pixmapW, 500);
    QCOMPARE(geo.pixmapH, 500);
    QVERIFY(geo.gridStepX >= 10);
    QVERIFY(geo.gridStepX == geo.gridStepY);

    // One centimetre per pixel in a large container.
    QVERIFY(computeChartGeometry(0, 0, 1, 1, 16777215, 16777215, geo));
    QCOMPARE(geo.pixmapW, 16777215);
    QCOMPARE(geo.gridStepX, 10);
}

void TestChartGeometry::pixelToWorldTruncates()
{
    ChartGeometry geo;
    QVERIFY(computeChartGeometry(-500, -500, 1000, 1000, 700, 500, geo));
    QCOMPARE(pixelToWorld(geo, QPointF(250, 250)), QPoint(0, 0));
    QCOMPARE(pixelToWorld(geo, QPointF(251, 249)), QPoint(2, 2));
    QCOMPARE(pixelToWorld(geo, QPointF(249, 251)), QPoint(-2, -2));
    QCOMPARE(pixelToWorld(geo, QPointF(0, 0)), QPoint(-500, 500));
    QCOMPARE(pixelToWorld(geo, QPointF(249.8, 250.2)), QPoint(0, 0));   // toward zero

    // Far outside the int range the result is clamped, not wrapped.
    ChartGeometry far;
    QVERIFY(computeChartGeometry(IntMin + 1, IntMin, IntMax, IntMax, 700, 500, far));
    QCOMPARE(pixelToWorld(far, QPointF(1e6, 1e6)), QPoint(IntMax, IntMin));
    QCOMPARE(pixelToWorld(far, QPointF(-1e6, -1e6)), QPoint(IntMin, IntMax));
}

void TestChartGeometry::pensFollowScale()
{
    ChartPens pens;
    for (const QPen* pen : { &pens.anchorPen, &pens.masterRingPen, &pens.rawCirclePen,
                             &pens.avgCirclePen, &pens.rawPointPen, &pens.avgPointPen })
        QCOMPARE(pen->capStyle(), Qt::RoundCap);

    pens.applyScale(2.0);
    QCOMPARE(pens.anchorPen.widthF(), 20.0);
    QCOMPARE(pens.masterRingPen.widthF(), 3.0);
    QCOMPARE(pens.rawCirclePen.widthF(), 4.0);
    QCOMPARE(pens.avgCirclePen.widthF(), 6.0);
    QCOMPARE(pens.rawPointPen.widthF(), 20.0);
    QCOMPARE(pens.avgPointPen.widthF(), 20.0);
    QCOMPARE(pens.labelFont.pixelSize(), 40);
    QCOMPARE(pens.anchorPen.capStyle(), Qt::RoundCap);

    pens.applyScale(0.3);   // 6 chart units would be too small: at least 10
    QCOMPARE(pens.labelFont.pixelSize(), 10);
    pens.applyScale(0.77);
    QCOMPARE(pens.labelFont.pixelSize(), 15);

    // Qt refuses pen widths from 32768 on and its font engine draws nothing
    // above 65535 px: huge scales stay at those limits instead of keeping
    // stale widths or losing the labels.
    pens.applyScale(1e7);
    QCOMPARE(pens.labelFont.pixelSize(), 65535);
    QCOMPARE(pens.anchorPen.widthF(), 32767.0);
    QCOMPARE(pens.masterRingPen.widthF(), 32767.0);
    pens.applyScale(2.0);
    QCOMPARE(pens.anchorPen.widthF(), 20.0);
}

void TestChartGeometry::calibrationFitsPicture()
{
    Calibration c;
    c.originX = 100; c.originY = 500; c.originSet = true;
    c.pointX = 400; c.pointY = 500; c.pointSet = true;
    c.distance = 600; c.distanceSet = true;
    CalibrationResult r;
    QVERIFY(computeCalibration(c, 800, 600, r));
    QCOMPARE(r.factor, 2.0);
    QCOMPARE(r.offsetX, -200);
    QCOMPARE(r.offsetY, 200);
    QCOMPARE(r.gridX, -200);
    QCOMPARE(r.gridY, -1000);
    QCOMPARE(r.gridW, 1600);
    QCOMPARE(r.gridH, 1200);

    // A diagonal pick: 3-4-5 triangle, 250 cm over 5 pixels.
    c.originX = 0; c.originY = 0; c.pointX = 3; c.pointY = 4; c.distance = 250;
    QVERIFY(computeCalibration(c, 100, 80, r));
    QCOMPARE(r.factor, 50.0);
    QCOMPARE(r.offsetX, 0);
    QCOMPARE(r.offsetY, 4000);
    QCOMPARE(r.gridX, 0);
    QCOMPARE(r.gridY, 0);
    QCOMPARE(r.gridW, 5000);
    QCOMPARE(r.gridH, 4000);

    // Zero and negative distances are accepted as typed.
    c.distance = -250;
    QVERIFY(computeCalibration(c, 100, 80, r));
    QCOMPARE(r.factor, -50.0);
    QCOMPARE(r.gridW, -5000);
}

void TestChartGeometry::calibrationRejectsCoincidentPoints()
{
    Calibration c;
    c.originX = 120; c.originY = 80; c.originSet = true;
    c.pointX = 120; c.pointY = 80; c.pointSet = true;
    c.distance = 500; c.distanceSet = true;
    CalibrationResult r;
    r.factor = 3.5; r.offsetX = 7; r.gridW = 99;
    QVERIFY(!computeCalibration(c, 800, 600, r));
    QCOMPARE(r.factor, 3.5);
    QCOMPARE(r.offsetX, 7);
    QCOMPARE(r.gridW, 99);
}

void TestChartGeometry::calibrationSurvivesHugeNumbers()
{
    // Scales and offsets far beyond the int range are clamped.
    Calibration c;
    c.originX = IntMax; c.originY = IntMin;
    c.pointX = IntMax - 200; c.pointY = IntMin;
    c.distance = IntMax;
    CalibrationResult r;
    QVERIFY(computeCalibration(c, IntMax, IntMax, r));
    QVERIFY(r.factor > 1e6);
    QCOMPARE(r.offsetX, IntMin);
    QCOMPARE(r.offsetY, IntMax);
    QCOMPARE(r.gridX, IntMin);
    QCOMPARE(r.gridW, IntMax);
    QCOMPARE(r.gridH, IntMax);
    QVERIFY(qIsFinite(r.factor));
}

QTEST_MAIN(TestChartGeometry)
#include "tst_chartgeometry.moc"
