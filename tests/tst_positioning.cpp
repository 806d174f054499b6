#include "anchor.h"
#include "rangingsample.h"
#include "solver.h"
#include "tag.h"
#include "tagmeasurement.h"
#include "timeofday.h"

#include <QtTest>

#include <climits>
#include <cmath>
#include <limits>
#include <random>

namespace {

// Owns the samples of one history so a failed check does not leak them.
struct History
{
    QList<RangingSample*> list;
    ~History() { qDeleteAll(list); }

    // Appends a sample made from a real 'D' line with the given distances.
    void add(const QTime& received, const QList<int>& distances)
    {
        QByteArray line = "$PD,1A2B";
        for (int d : distances)
            line += ',' + QByteArray::number(d, 16).toUpper();
        line += "\r\n";
        auto* s = new RangingSample(line, received);
        s->parse();
        list.append(s);
    }
    void add(const QTime& received) { add(received, {100}); }
};

Anchor anchorAt(int x, int y, int offset = 0, bool master = false)
{
    return Anchor("1", "A", Qt::black, x, y, 0, master, offset);
}

QTime t(int h, int m, int s, int ms = 0) { return QTime(h, m, s, ms); }

// The all-pairs least-squares answer through the normal equations, built
// independently of the solver.
QPointF normalEquations(const QList<QPointF>& p, const QList<float>& d)
{
    double ata00 = 0, ata01 = 0, ata11 = 0, atb0 = 0, atb1 = 0;
    for (int i = 0; i < p.size(); ++i) {
        for (int j = i + 1; j < p.size(); ++j) {
            const double a0 = p[i].x() - p[j].x();
            const double a1 = p[i].y() - p[j].y();
            const double di = d[i], dj = d[j];
            const double b = 0.5 * (p[i].x() * p[i].x() - p[j].x() * p[j].x()
                                    + p[i].y() * p[i].y() - p[j].y() * p[j].y()
                                    - (di * di - dj * dj));
            ata00 += a0 * a0;
            ata01 += a0 * a1;
            ata11 += a1 * a1;
            atb0 += a0 * b;
            atb1 += a1 * b;
        }
    }
    const double det = ata00 * ata11 - ata01 * ata01;
    return QPointF((ata11 * atb0 - ata01 * atb1) / det, (ata00 * atb1 - ata01 * atb0) / det);
}

QList<float> exactDistances(const QList<QPointF>& anchors, const QPointF& tag)
{
    QList<float> d;
    for (const QPointF& a : anchors)
        d.append(float(std::hypot(a.x() - tag.x(), a.y() - tag.y())));
    return d;
}

}

class TestPositioning : public QObject
{
    Q_OBJECT
private slots:
    void solverReferenceCases();
    void solverUsesAllPairs();
    void solverDegenerateGeometry();
    void solverWithNoisyDistances_data();
    void solverWithNoisyDistances();
    void solveFromDistanceMap();
    void truncatingCoordinates();
    void spansAcrossMidnight();
    void rate();
    void expiry();
    void averaging();
    void averagingWithHostileSettings();
    void masterDistance();
};

void TestPositioning::solverReferenceCases()
{
    const double eps = 1e-6;
    QPointF p = solvePosition({{0, 0}, {1000, 0}, {0, 1000}}, {707.1068f, 707.1068f, 707.1068f});
    QVERIFY2(std::fabs(p.x() - 500) < eps && std::fabs(p.y() - 500) < eps,
             qPrintable(QString("%1,%2").arg(p.x(), 0, 'g', 17).arg(p.y(), 0, 'g', 17)));

    p = solvePosition({{0, 0}, {400, 0}, {0, 300}}, {0.f, 400.f, 300.f});
    QVERIFY(std::fabs(p.x()) < eps && std::fabs(p.y()) < eps);

    // Not enough anchors, or lists that do not belong together.
    QCOMPARE(solvePosition({{0, 0}, {400, 0}}, {0.f, 400.f}), QPointF(0, 0));
    QCOMPARE(solvePosition({}, {}), QPointF(0, 0));
    QCOMPARE(solvePosition({{0, 0}, {400, 0}, {0, 300}}, {0.f, 400.f}), QPointF(0, 0));
    QCOMPARE(solvePosition({{0, 0}, {400, 0}, {0, 300}}, {0.f, 400.f, 300.f, 5.f}), QPointF(0, 0));
}

void TestPositioning::solverUsesAllPairs()
{
    // Four anchors, one distance grossly wrong: the answer is the compromise of
    // all six pair equations, not of the three pairs with the first anchor.
    const QList<QPointF> anchors{{0, 0}, {1000, 0}, {1000, 800}, {0, 800}};
    QList<float> d = exactDistances(anchors, {300, 200});
    d[2] += 400.f;
    const QPointF p = solvePosition(anchors, d);
    const QPointF expected = normalEquations(anchors, d);
    QVERIFY2(std::fabs(p.x() - expected.x()) < 1e-6 && std::fabs(p.y() - expected.y()) < 1e-6,
             qPrintable(QString("%1,%2 vs %3,%4").arg(p.x()).arg(p.y())
                            .arg(expected.x()).arg(expected.y())));

    // Five consistent anchors still find the exact point.
    const QList<QPointF> five{{0, 0}, {1000, 0}, {1000, 800}, {0, 800}, {500, 1200}};
    const QPointF q = solvePosition(five, exactDistances(five, {640, 310}));
    QVERIFY(std::fabs(q.x() - 640) < 1e-3 && std::fabs(q.y() - 310) < 1e-3);
}

void TestPositioning::solverDegenerateGeometry()
{
    // Anchors on the x axis say nothing about y: the minimum-norm answer has y = 0.
    const QList<QPointF> line{{0, 0}, {500, 0}, {1000, 0}};
    QPointF p = solvePosition(line, exactDistances(line, {300, 400}));
    QVERIFY2(std::fabs(p.y()) < 1e-9, qPrintable(QString::number(p.y())));
    QVERIFY2(std::fabs(p.x() - 300) < 1e-3, qPrintable(QString::number(p.x())));

    // All anchors in one place: nothing to solve, and no NaN either.
    p = solvePosition({{200, 200}, {200, 200}, {200, 200}}, {10.f, 20.f, 30.f});
    QCOMPARE(p, QPointF(0, 0));

    // Two anchors in one place give a zero row; the other pairs still solve.
    const QList<QPointF> twin{{0, 0}, {0, 0}, {1000, 0}, {0, 1000}};
    p = solvePosition(twin, exactDistances(twin, {250, 750}));
    QVERIFY(std::fabs(p.x() - 250) < 1e-3 && std::fabs(p.y() - 750) < 1e-3);

    // Anchors at the far ends of the int range stay finite.
    const QList<QPointF> far{{double(INT_MIN), double(INT_MIN)}, {double(INT_MAX), 0},
                             {0, double(INT_MAX)}};
    p = solvePosition(far, {float(INT_MAX), float(INT_MAX), float(INT_MAX)});
    QVERIFY(std::isfinite(p.x()) && std::isfinite(p.y()));
}

void TestPositioning::solverWithNoisyDistances_data()
{
    QTest::addColumn<QList<QPointF>>("anchors");
    QTest::newRow("4 anchors") << QList<QPointF>{{0, 0}, {1000, 0}, {1000, 800}, {0, 800}};
    QTest::newRow("5 anchors")
        << QList<QPointF>{{0, 0}, {1000, 0}, {1000, 800}, {0, 800}, {500, 1200}};
}

void TestPositioning::solverWithNoisyDistances()
{
    QFETCH(QList<QPointF>, anchors);
    std::mt19937 rng(20240611);
    std::normal_distribution<double> noise(0.0, 5.0);   // cm
    const QList<QPointF> tags{{500, 400}, {200, 150}, {850, 650}, {100, 700}, {620, 90}};
    const int trials = 400;
    for (const QPointF& tag : tags) {
        double sumSq = 0;
        for (int k = 0; k < trials; ++k) {
            QList<float> d = exactDistances(anchors, tag);
            for (float& v : d)
                v = float(v + noise(rng));
            const QPointF p = solvePosition(anchors, d);
            sumSq += std::pow(p.x() - tag.x(), 2) + std::pow(p.y() - tag.y(), 2);
        }
        const double rms = std::sqrt(sumSq / trials);
        QVERIFY2(rms < 10.0, qPrintable(QString("tag %1,%2: RMS %3 cm")
                                             .arg(tag.x()).arg(tag.y()).arg(rms)));
    }
}

void TestPositioning::solveFromDistanceMap()
{
    const QList<Anchor> anchors{anchorAt(0, 0), anchorAt(1000, 0), anchorAt(0, 1000),
                                anchorAt(1000, 1000)};
    // Keys pick the anchors; the ones that name no anchor are left out.
    QMap<int, int> dists{{-1, 5}, {1, 500}, {2, 500}, {3, 707}, {4, 123}, {99, 1}};
    // Built in key order, the lists match a direct call with anchors 1, 2, 3.
    const QPointF expected = solvePosition({{1000, 0}, {0, 1000}, {1000, 1000}},
                                           {500.f, 500.f, 707.f});
    QCOMPARE(solveFromDistances(dists, anchors), expected);

}

void TestPositioning::truncatingCoordinates()
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const QList<QPair<double, int>> cases = {
        {12.9, 12}, {-12.9, -12}, {-0.5, 0}, {nan, 0}, {inf, INT_MAX}, {-inf, INT_MIN}, {-1e300, INT_MIN},
        {2147483600.0, INT_MAX},          // below INT_MAX as a double, 2^31 as a float
    };
    for (const auto& c : cases)
        QVERIFY2(truncCm(c.first) == c.second, qPrintable(QString::number(c.first, 'g', 17)));
}

void TestPositioning::spansAcrossMidnight()
{
    // Milliseconds, and whole seconds of the day with milliseconds dropped before subtracting.
    const QList<QPair<QPair<QTime, QTime>, qint64>> ms = {
        {{t(12, 0, 0, 250), t(12, 0, 1, 0)}, 750}, {{t(12, 0, 0), t(12, 0, 0)}, 0},
        {{t(23, 59, 59, 500), t(0, 0, 0, 500)}, 1000}, {{t(0, 0, 0, 1), t(0, 0, 0, 0)}, 86399999},
        {{QTime(), t(1, 0, 0)}, 0}, {{t(1, 0, 0), QTime()}, 0}};
    for (const auto& c : ms)
        QCOMPARE(msecsBetween(c.first.first, c.first.second), c.second);
    const QList<QPair<QPair<QTime, QTime>, int>> secs = {
        {{t(12, 0, 0, 900), t(12, 0, 2, 999)}, 2}, {{t(12, 0, 0, 900), t(12, 0, 3, 0)}, 3},
        {{t(23, 59, 59), t(0, 0, 2)}, 3}, {{t(23, 59, 59, 999), t(0, 0, 0, 0)}, 1},
        {{t(0, 0, 1), t(0, 0, 0)}, 86399}, {{QTime(), t(1, 0, 0)}, 0}};
    for (const auto& c : secs)
        QCOMPARE(secsBetween(c.first.first, c.first.second), c.second);
}

void TestPositioning::rate()
{
    // Intervals over the span: five samples over one second are 4 Hz; the same
    // across midnight; a single sample or one instant gives no rate.
    struct Case {
        QTime first;
        int count, stepMs;
        double expected;
    };
    const QList<Case> cases = {{t(12, 0, 0), 5, 250, 4.0}, {t(23, 59, 59, 600), 5, 250, 4.0},
                               {t(23, 59, 59, 500), 11, 100, 10.0}, {t(12, 0, 0), 1, 0, 0.0}, {t(12, 0, 0), 2, 0, 0.0}};
    for (const Case& c : cases) {
        History h;
        for (int i = 0; i < c.count; ++i)
            h.add(c.first.addMSecs(c.stepMs * i));
        QCOMPARE(historyRate(h.list), c.expected);
    }
    QCOMPARE(historyRate({}), 0.0);
}

void TestPositioning::expiry()
{
    {
        History h;
        h.add(t(12, 0, 0, 900));
        expireSamples(h.list, t(12, 0, 2, 999));
        QCOMPARE(h.list.size(), 1);
        expireSamples(h.list, t(12, 0, 3, 0));
        QCOMPARE(h.list.size(), 0);
    }
    {
        // Across midnight: 23:59:59 is 3 s old at 00:00:02.
        History h;
        h.add(t(23, 59, 58, 500));
        h.add(t(23, 59, 59, 0));
        h.add(t(0, 0, 0, 300));
        expireSamples(h.list, t(0, 0, 1, 999));
        QCOMPARE(h.list.size(), 2);
        QCOMPARE(h.list.first()->received, t(23, 59, 59));
        expireSamples(h.list, t(0, 0, 2, 0));
        QCOMPARE(h.list.size(), 1);
        QCOMPARE(h.list.first()->received, t(0, 0, 0, 300));
        expireSamples(h.list, t(0, 0, 3, 0));
        QVERIFY(h.list.isEmpty());
    }
    {
        // A sample without an arrival time must not hold back the ones behind it.
        History h;
        h.list.append(new RangingSample("$PD,1\r\n", QTime()));
        h.add(t(12, 0, 0));
        expireSamples(h.list, t(12, 0, 3));
        QVERIFY(h.list.isEmpty());
        // No clock to compare with: nothing is removed.
        h.add(t(12, 0, 0));
        expireSamples(h.list, QTime());
        QCOMPARE(h.list.size(), 1);
    }
}

void TestPositioning::averaging()
{
    // The averaged distance of one anchor for a history, an offset and a window;
    // -1 when there is none.
    auto avg = [](const QList<int>& distances, int offset, int window) {
        History h;
        for (int d : distances)
            h.add(t(12, 0, 0), {d});
        const TagDistances r = measureDistances(h.list, {anchorAt(0, 0, offset)}, window);
        return qMakePair(r.avgDist.value(0, -1), r.rawDist.value(0, -1));
    };
    QCOMPARE(avg({500, 0, 520, 540}, 10, 10), qMakePair(530, 550));   // zeros are no readings
    QCOMPARE(avg({100, 101, 101}, 0, 10).first, 100);                  // integer division truncates
    // One good reading among nine zeros averages to that reading; the newest
    // being 0 leaves no raw distance; with a window of 9 it falls out.
    const QList<int> sparse = {777, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    QCOMPARE(avg(sparse, 0, 10), qMakePair(777, -1));
    QCOMPARE(avg(sparse, 0, 9).first, -1);
    // Only the newest N samples count; a window larger than the history takes it all.
    for (const auto& w : {qMakePair(1, 400), qMakePair(2, 350), qMakePair(100, 250)})
        QCOMPARE(avg({100, 200, 300, 400}, 0, w.first).first, w.second);

    const QTime now = t(12, 0, 0);
    {
        // 500 - 600 is not a distance: neither raw nor part of the average.
        History h;
        h.add(now, {900, 700});
        h.add(now, {500, 700});
        const TagDistances r = measureDistances(h.list, {anchorAt(0, 0, -600), anchorAt(100, 0, -600)}, 10);
        QVERIFY(!r.rawDist.contains(0));
        QCOMPARE(r.avgDist.value(0), 300);
        QCOMPARE(qMakePair(r.rawDist.value(1), r.avgDist.value(1)), qMakePair(100, 100));
    }
}

void TestPositioning::averagingWithHostileSettings()
{
    const QTime now = t(12, 0, 0);
    History h;
    h.add(now, {100000});
    h.add(now, {100000});
    // Offsets near INT_MAX must not overflow: the sums clamp; INT_MIN gives nothing.
    for (int offset : {INT_MAX, INT_MAX - 50000}) {
        const TagDistances r = measureDistances(h.list, {anchorAt(0, 0, offset)}, 10);
        QCOMPARE(qMakePair(r.rawDist.value(0), r.avgDist.value(0)), qMakePair(INT_MAX, INT_MAX));
    }
    {
        const TagDistances r = measureDistances(h.list, {anchorAt(0, 0, INT_MIN)}, 10);
        QVERIFY(r.rawDist.isEmpty() && r.avgDist.isEmpty());
    }
    {
        // A window of 0 or less averages nothing (and divides by nothing).
        for (int n : {0, -1, INT_MIN}) {
            const TagDistances r = measureDistances(h.list, {anchorAt(0, 0, 0, true)}, n);
            QCOMPARE(r.rawDist.value(0), 100000);
            QVERIFY(r.avgDist.isEmpty() && r.hasMaster && r.masterAvg == 0);
        }
    }
}

void TestPositioning::masterDistance()
{
    History h;
    h.add(t(12, 0, 0), {300, 0, 500, 600});
    h.add(t(12, 0, 0), {310, 0, 520, 600});
    // The first master in list order wins, even when its average is 0.
    TagDistances r = measureDistances(h.list, {anchorAt(0, 0), anchorAt(1, 0, 0, true), anchorAt(2, 0, 0, true), anchorAt(3, 0)}, 10);
    QVERIFY(r.hasMaster && r.masterAvg == 0 && !r.avgDist.contains(1));
    r = measureDistances(h.list, {anchorAt(0, 0, 5), anchorAt(1, 0), anchorAt(2, 0, 5, true)}, 10);
    QVERIFY(r.hasMaster);
    QCOMPARE(r.masterAvg, 515);
    r = measureDistances(h.list, {anchorAt(0, 0), anchorAt(1, 0)}, 10);
    QVERIFY(!r.hasMaster && r.masterAvg == 0);
}

QTEST_MAIN(TestPositioning)
#include "tst_positioning.moc"
