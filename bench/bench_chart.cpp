// The chart's drawing without the window: one frame of the scene of
// bench_mainwin's chart pass (800 x 800 pixmap, 4 anchors, 4 tags with every
// display flag on), against a bare QPainter that draws the same circles, dots
// and texts with the same pens and Qt's defaults, without label placement and
// backings. Arg 1 of the bare frame draws its strokes with SourceIn as the
// chart does; arg 0 is what a plain painter pays.
#include "chartdrawing.h"
#include "chartgeometry.h"
#include "chartpens.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

struct TagItems
{
    Tag tag;
    QPointF raw;
    QList<int> rawDist, avgDist;
};

struct Scene
{
    ChartGeometry geo;
    ChartPens pens;
    QPixmap grid;
    QList<Anchor> anchors;
    QList<TagItems> tags;

    Scene()
    {
        computeChartGeometry(-500, -500, 1000, 1000, 1000, 800, geo);
        pens.applyScale(geo.cmPerPixel);
        anchors = {Anchor("1A2B", "Master", QColor(255, 0, 0), 0, 0, 0, true, 0),
                   Anchor("3C4D", "A1", QColor(0, 0, 255), 1000, 0, 0, false, 5),
                   Anchor("5E6F", "A2", QColor(0, 170, 170), 1000, 800, 0, false, 0),
                   Anchor("7A80", "A3", QColor(170, 0, 170), 0, 800, 0, false, -3)};
        for (int t = 0; t < 4; ++t) {
            TagItems items;
            items.tag = Tag("2B0" + QString::number(t + 1), "Tag" + QString::number(t + 1), QColor(34, 153, 255),
                            true, true, true, true, true, true, true);
            const int x = 300 + 100 * t, y = 200 + 80 * t;
            items.tag.updateAveragedPosition(x, y);
            items.tag.speedMps = 0.4;
            items.raw = QPointF(x + 7.3, y - 4.6);
            for (const Anchor& a : anchors) {
                const int d = int(std::hypot(a.x - x, a.y - y));
                items.rawDist << d + 6;
                items.avgDist << d;
            }
            tags << items;
        }
        // White-backed, as the window keeps it.
        grid = QPixmap(geo.pixmapW, geo.pixmapH);
        grid.fill(Qt::white);
        QPainter p(&grid);
        p.drawPixmap(0, 0, renderGridLayer(geo, true, nullptr, 0, 0, 1, anchorItemRects(geo, pens, anchors)));
    }
};

void BM_ChartFrame(benchmark::State& state)
{
    Scene s;
    for (auto _ : state) {
        QPixmap frame = s.grid.copy();
        QPainter p(&frame);
        p.setWindow(0, 0, s.geo.pixmapW, s.geo.pixmapH);
        drawScaleBar(&p, s.geo, chooseScaleBarCorner(s.geo, p.fontMetrics(), s.pens.placed));
        p.setWindow(0, 0, s.geo.gridW, s.geo.gridH);
        drawAnchorItems(&p, s.geo, s.pens, s.anchors);
        for (const TagItems& t : qAsConst(s.tags)) {
            for (int a = 0; a < s.anchors.size(); ++a) {
                drawDistanceCircle(&p, s.geo, s.pens.rawCirclePen, s.anchors.at(a), t.rawDist.at(a), t.tag.color);
                drawDistanceCircle(&p, s.geo, s.pens.avgCirclePen, s.anchors.at(a), t.avgDist.at(a), t.tag.color);
            }
            drawRawPosition(&p, s.geo, s.pens, t.tag, float(t.raw.x()), float(t.raw.y()));
            drawAveragedPosition(&p, s.geo, s.pens, t.tag, 9.8);
        }
        p.end();
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(BM_ChartFrame)->Unit(benchmark::kMillisecond);

void BM_BareSameContent(benchmark::State& state)
{
    Scene s;
    const auto mode = state.range(0) ? QPainter::CompositionMode_SourceIn : QPainter::CompositionMode_SourceOver;
    const double cx0 = s.geo.originX, cy0 = s.geo.originY, px = s.geo.cmPerPixel;
    for (auto _ : state) {
        QPixmap frame = s.grid.copy();
        QPainter p(&frame);
        p.drawText(QPointF(10, s.geo.pixmapH - 10), QStringLiteral("0 100 cm"));
        p.setWindow(0, 0, s.geo.gridW, s.geo.gridH);
        p.setFont(s.pens.labelFont);
        for (const Anchor& a : qAsConst(s.anchors)) {
            QPen pen = s.pens.anchorPen;
            pen.setColor(a.color);
            p.setPen(pen);
            p.setCompositionMode(mode);
            p.drawPoint(QPointF(cx0 + a.x, cy0 - a.y));
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
            p.drawText(QPointF(cx0 + a.x + 10 * px, cy0 - a.y), a.name);
        }
        for (const TagItems& t : qAsConst(s.tags)) {
            QPen raw = s.pens.rawCirclePen, avg = s.pens.avgCirclePen, dot = s.pens.avgPointPen;
            raw.setColor(t.tag.color);
            avg.setColor(t.tag.color);
            dot.setColor(t.tag.color);
            p.setCompositionMode(mode);
            for (int a = 0; a < s.anchors.size(); ++a) {
                const QPointF c(cx0 + s.anchors.at(a).x, cy0 - s.anchors.at(a).y);
                p.setPen(raw);
                p.drawEllipse(c, t.rawDist.at(a), t.rawDist.at(a));
                p.setPen(avg);
                p.drawEllipse(c, t.avgDist.at(a), t.avgDist.at(a));
            }
            p.setPen(dot);
            p.drawPoint(QPointF(cx0 + t.raw.x(), cy0 - t.raw.y()));
            p.drawPoint(QPointF(cx0 + t.tag.avgX, cy0 - t.tag.avgY));
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
            p.drawText(QPointF(cx0 + t.raw.x() + 10 * px, cy0 - t.raw.y()), t.tag.name);
            p.drawText(QPointF(cx0 + t.tag.avgX + 10 * px, cy0 - t.tag.avgY), averagedLabel(t.tag, 9.8));
        }
        p.end();
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(BM_BareSameContent)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// What every chart pass computes, painting or not: where the anchors' dots
// and names lie, which the grid labels keep clear of.
void BM_AnchorItemRects(benchmark::State& state)
{
    Scene s;
    for (auto _ : state) {
        QVector<QRectF> rects = anchorItemRects(s.geo, s.pens, s.anchors);
        benchmark::DoNotOptimize(rects);
    }
}
BENCHMARK(BM_AnchorItemRects)->Unit(benchmark::kMicrosecond);

} // namespace
