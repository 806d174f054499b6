// Receive path and chart pass of the main window, on the offscreen platform.
#include "coveragemap.h"
#include "mainwin.h"
#include "zoneeditflow.h"

#include <QCheckBox>

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

QList<Anchor> fourAnchors()
{
    return {Anchor("1A2B", "Master", QColor(255, 0, 0), 0, 0, 0, true, 0),
            Anchor("3C4D", "A1", QColor(0, 0, 255), 1000, 0, 0, false, 5),
            Anchor("5E6F", "A2", QColor(0, 170, 170), 1000, 800, 0, false, 0),
            Anchor("7A80", "A3", QColor(170, 0, 170), 0, 800, 0, false, -3)};
}

// Realistic 'D' lines for four tags at slightly varying places.
QByteArray rangingStream(int lines, int shift = 0)
{
    const QList<Anchor> anchors = fourAnchors();
    QByteArray out;
    for (int i = 0; i < lines; ++i) {
        const int tag = i % 4;
        const double x = 300 + 100 * tag + (i % 17) + shift, y = 200 + 80 * tag + (i % 13);
        out += "$PD,2B0" + QByteArray::number(tag + 1);
        for (const Anchor& a : anchors)
            out += ',' + QByteArray::number(int(std::hypot(a.x - x, a.y - y)), 16).toUpper();
        out += "\r\n";
    }
    return out;
}

void BM_Ingest(benchmark::State& state)
{
    MainWin w;
    w.modules.anchors = fourAnchors();
    const QByteArray stream = rangingStream(4000);
    int lines = 0;
    for (auto _ : state) {
        // 64-byte serial chunks through framing, dispatch, parsing and storage.
        for (int pos = 0; pos < stream.size(); pos += 64)
            w.dataReceived(stream.mid(pos, 64));
        lines += 4000;
    }
    state.counters["lines/s"] = benchmark::Counter(lines, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Ingest)->Unit(benchmark::kMillisecond);

// First argument 1: paint every pass (the cost of a pass that draws); 0:
// nothing changes between passes, so a pass computes and skips the painting;
// 2: as 1 with every tag's uncertainty ellipse and 10-second trail drawn as
// well. Second argument 1: the coverage shading and its legend on. Third
// argument: that many zones (8: in two rows over the room, the tags inside).
void BM_ChartPass(benchmark::State& state)
{
    MainWin w;
    w.setPaintEveryPass(state.range(0) != 0);
    w.findChild<QCheckBox*>("chkShowCoverage")->setChecked(state.range(1) != 0);
    const bool layers = state.range(0) == 2;
    w.resize(1400, 1000);
    w.show();
    w.findChild<QWidget*>("chart")->setFixedSize(1000, 800);
    QCoreApplication::processEvents();
    w.modules.anchors = fourAnchors();
    for (int t = 1; t <= 4; ++t)
        w.modules.tags << Tag("2B0" + QString::number(t), "Tag" + QString::number(t), QColor(34, 153, 255),
                              true, true, true, true, true, true, true);
    for (Tag& t : w.modules.tags)
        t.showUncertainty = t.showTrail = layers;
    w.averageCount = 100;
    QVector<Zone> zones;
    for (int z = 0; z < state.range(2); ++z) {
        const double x = 50 + 230 * (z % 4), y = 100 + 330 * (z / 4);
        zones.append(Zone{"Zone " + QString::number(z + 1), QColor::fromHsv(45 * z, 160, 230),
                          QPolygonF({{x, y}, {x + 200, y}, {x + 200, y + 280}, {x + 60, y + 300}}), 0, true});
    }
    w.zoneEditFlow()->replaceAll(zones);
    QTime clock = QTime::currentTime();
    qint64 epoch = 1700000000000;
    w.setClocks([&clock] { return clock; }, [&epoch] { return epoch; });
    // 200 samples per tag, the tags moving for the last 10 s: full trails.
    w.dataReceived(rangingStream(800));
    for (int pass = 0; pass < 200; ++pass) {
        clock = clock.addMSecs(50);
        epoch += 50;
        w.dataReceived(rangingStream(20, pass));   // 200 per tag within the 2 s a sample lives
        w.redrawChart();
    }
    // The clock then stands, so nothing expires during the measurement.
    for (auto _ : state)
        w.redrawChart();
    w.redrawTimer->stop();
    state.counters["pixmap_w"] = w.chartGeo.pixmapW;
    state.counters["pixmap_h"] = w.chartGeo.pixmapH;
}
BENCHMARK(BM_ChartPass)->Args({1, 0, 0})->Args({1, 1, 0})->Args({2, 0, 0})->Args({2, 1, 0})->Args({0, 0, 0})->Args({0, 1, 0})
    ->Args({1, 0, 8})->Args({0, 0, 8})->Unit(benchmark::kMillisecond);

// A chart pass while an anchor is dragged with the coverage on: every pass
// rebuilds the grid layer with a new shading.
void BM_CoverageDrag(benchmark::State& state)
{
    MainWin w;
    w.findChild<QCheckBox*>("chkShowCoverage")->setChecked(state.range(0) != 0);
    w.resize(1400, 1000);
    w.show();
    w.findChild<QWidget*>("chart")->setFixedSize(1000, 800);
    QCoreApplication::processEvents();
    w.modules.anchors = fourAnchors();
    w.redrawChart();
    int step = 0;
    for (auto _ : state) {
        w.modules.anchors[2].x = 900 + (++step % 200);
        w.redrawChart();
    }
    w.redrawTimer->stop();
}
BENCHMARK(BM_CoverageDrag)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The shading alone for a 1000 x 800 pixel chart and four anchors.
void BM_CoverageRebuild(benchmark::State& state)
{
    ChartGeometry geo;
    computeChartGeometry(-100, -100, 1200, 1000, 1000, 800, geo);
    QList<Anchor> anchors = fourAnchors();
    CoverageMap map;
    int step = 0;
    for (auto _ : state) {
        anchors[2].x = 900 + (++step % 200);
        benchmark::DoNotOptimize(map.update(geo, anchors, state.range(0)));
    }
    state.counters["cells"] = map.shading().width() * map.shading().height();
}
BENCHMARK(BM_CoverageRebuild)->Arg(0)->Arg(900)->Unit(benchmark::kMillisecond);

// The same frame's content painted with a bare QPainter: the floor a chart
// pass that draws is measured against.
void BM_BareFrame(benchmark::State& state)
{
    QPixmap frame(800, 800);
    const QList<Anchor> anchors = fourAnchors();
    for (auto _ : state) {
        frame.fill(Qt::white);
        QPainter p(&frame);
        p.setRenderHint(QPainter::Antialiasing);
        for (const Anchor& a : anchors) {
            p.drawEllipse(QPointF(a.x * 0.66 + 60, 740 - a.y * 0.66), 6, 6);
            p.drawText(QPointF(a.x * 0.66 + 70, 740 - a.y * 0.66), a.name);
            for (int t = 0; t < 4; ++t) {
                p.drawEllipse(QPointF(a.x * 0.66 + 60, 740 - a.y * 0.66), 200 + 30 * t, 200 + 30 * t);
                p.drawEllipse(QPointF(a.x * 0.66 + 60, 740 - a.y * 0.66), 210 + 30 * t, 210 + 30 * t);
            }
        }
        for (int t = 0; t < 4; ++t) {
            p.drawEllipse(QPointF(300 + 50 * t, 300), 5, 5);
            p.drawEllipse(QPointF(310 + 50 * t, 310), 5, 5);
            p.drawText(QPointF(320 + 50 * t, 300), QStringLiteral("Tag%1 [X: 456 cm Y: 123 cm 1.0 m/s 10.0 Hz]").arg(t));
        }
        p.end();
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(BM_BareFrame)->Unit(benchmark::kMillisecond);

} // namespace
