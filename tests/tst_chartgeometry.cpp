#include "calibration.h"
#include "chartgeometry.h"
#include "chartpens.h"

#include <QtTest>

#include <limits>

static const int IntMax = std::numeric_limits<int>::max();
static const int IntMin = std::numeric_limits<int>::min();

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
    void calibrationSurvivesHugeNumbers();
};

// Every field, for comparing a geometry in one go.
static QList<double> fieldsOf(const ChartGeometry& g)
{
    return {double(g.gridX), double(g.gridY), double(g.gridW), double(g.gridH), double(g.originX), double(g.originY),
            g.cmPerPixel, double(g.pixmapW), double(g.pixmapH), double(g.gridStepX), double(g.gridStepY)};
}

void TestChartGeometry::fitsGridIntoContainer()
{
    ChartGeometry geo;
    QVERIFY(computeChartGeometry(-500, -500, 1000, 1000, 700, 500, geo));
    QCOMPARE(fieldsOf(geo), QList<double>({-500, -500, 1000, 1000, 500, 500, 2, 500, 500, 100, 100}));
    // A wide area in a tall container is limited by the width.
    QVERIFY(computeChartGeometry(0, 0, 2000, 500, 500, 800, geo));
    QCOMPARE(fieldsOf(geo).mid(4, 5), QList<double>({0, 500, 4, 500, 125}));
}

void TestChartGeometry::niceStepRule()
{
    const QList<QPair<int, int>> steps = {{140, 100}, {143, 1000}, {-7, 10},
                                          {100000001, 100000001},   // beyond the table: r itself
                                          {IntMax / 10, IntMax / 10}};
    for (const auto& s : steps)
        QVERIFY2(niceStep(s.first) == s.second, qPrintable(QString::number(s.first)));

    // Both directions use the finer step so the cells are square.
    ChartGeometry geo;
    QVERIFY(computeChartGeometry(0, 0, 1000, 200, 700, 500, geo));
    QCOMPARE(QPoint(geo.gridStepX, geo.gridStepY), QPoint(100, 100));
    QVERIFY(computeChartGeometry(0, 0, 1000, 120, 700, 500, geo));
    QCOMPARE(QPoint(geo.gridStepX, geo.gridStepY), QPoint(10, 10));
}

void TestChartGeometry::failedUpdateKeepsGeometry()
{
    ChartGeometry good;
    QVERIFY(computeChartGeometry(-500, -500, 1000, 1000, 700, 500, good));

    struct Case { const char* what; int x, y, w, h, cw, ch; };
    const Case cases[] = {
        { "width 0", -500, -500, 0, 1000, 700, 500 },
        { "negative width", -500, -500, -1000, 1000, 700, 500 },
        { "container without width", -500, -500, 1000, 1000, 0, 500 },
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
        QVERIFY2(fieldsOf(geo) == fieldsOf(good), c.what);
    }
}

void TestChartGeometry::extremeButValidGrids()
{
    ChartGeometry geo;
    QVERIFY(computeChartGeometry(IntMin + 1, IntMin, IntMax, IntMax, 700, 500, geo));
    QCOMPARE(QList<int>({geo.originX, geo.originY, geo.pixmapW, geo.pixmapH}), QList<int>({IntMax, -1, 500, 500}));
    QVERIFY(geo.gridStepX >= 10 && geo.gridStepX == geo.gridStepY);

    // One centimetre per pixel in a large container.
    QVERIFY(computeChartGeometry(0, 0, 1, 1, 16777215, 16777215, geo));
    QCOMPARE(geo.pixmapW, 16777215);
    QCOMPARE(geo.gridStepX, 10);
}

void TestChartGeometry::pixelToWorldTruncates()
{
    ChartGeometry geo;
    QVERIFY(computeChartGeometry(-500, -500, 1000, 1000, 700, 500, geo));
    const QList<QPair<QPointF, QPoint>> cases = {{{250, 250}, {0, 0}}, {{251, 249}, {2, 2}}, {{249, 251}, {-2, -2}},
                                                 {{0, 0}, {-500, 500}}, {{249.8, 250.2}, {0, 0}}};   // toward zero
    for (const auto& c : cases)
        QCOMPARE(pixelToWorld(geo, c.first), c.second);

    // Far outside the int range the result is clamped, not wrapped.
    ChartGeometry far;
    QVERIFY(computeChartGeometry(IntMin + 1, IntMin, IntMax, IntMax, 700, 500, far));
    QCOMPARE(pixelToWorld(far, QPointF(1e6, 1e6)), QPoint(IntMax, IntMin));
    QCOMPARE(pixelToWorld(far, QPointF(-1e6, -1e6)), QPoint(IntMin, IntMax));
}

void TestChartGeometry::pensFollowScale()
{
    ChartPens pens;
    auto widths = [&] {
        return QList<double>({pens.anchorPen.widthF(), pens.masterRingPen.widthF(), pens.rawCirclePen.widthF(),
                              pens.avgCirclePen.widthF(), pens.rawPointPen.widthF(), pens.avgPointPen.widthF(),
                              double(pens.labelFont.pixelSize())});
    };
    pens.applyScale(2.0);
    const QList<double> atTwo = widths();
    pens.applyScale(0.3);   // 6 chart units would be too small: at least 10
    QCOMPARE(pens.labelFont.pixelSize(), 10);

    // Qt refuses pen widths from 32768 on and its font engine draws nothing
    // above 65535 px: huge scales stay at those limits instead of keeping
    // stale widths or losing the labels.
    pens.applyScale(1e7);
    QCOMPARE(pens.labelFont.pixelSize(), 65535);
    QCOMPARE(widths().mid(0, 2), QList<double>({32767, 32767}));
    pens.applyScale(2.0);
    QCOMPARE(widths(), atTwo);
}

void TestChartGeometry::calibrationFitsPicture()
{
    Calibration c;
    c.originX = 100; c.originY = 500; c.originSet = true;
    c.pointX = 400; c.pointY = 500; c.pointSet = true;
    c.distance = 600; c.distanceSet = true;
    CalibrationResult r;
    auto result = [&] { return QList<double>({r.factor, double(r.offsetX), double(r.offsetY), double(r.gridX),
                                              double(r.gridY), double(r.gridW), double(r.gridH)}); };
    QVERIFY(computeCalibration(c, 800, 600, r));
    QCOMPARE(result(), QList<double>({2, -200, 200, -200, -1000, 1600, 1200}));

    // A diagonal pick: 3-4-5 triangle, 250 cm over 5 pixels.
    c.originX = 0; c.originY = 0; c.pointX = 3; c.pointY = 4; c.distance = 250;
    QVERIFY(computeCalibration(c, 100, 80, r));
    QCOMPARE(result(), QList<double>({50, 0, 4000, 0, 0, 5000, 4000}));

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
    QVERIFY(qIsFinite(r.factor));
    QCOMPARE(QList<int>({r.offsetX, r.offsetY, r.gridX, r.gridW, r.gridH}), QList<int>({IntMin, IntMax, IntMin, IntMax, IntMax}));
}

QTEST_MAIN(TestChartGeometry)
#include "tst_chartgeometry.moc"
