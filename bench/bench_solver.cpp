#include "solver.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

// Anchors on a circle of 10 m around the middle of the area, the tag off-centre.
void setUp(int anchors, QList<QPointF>& points, QList<float>& distances)
{
    const QPointF tag(430, 270);
    for (int i = 0; i < anchors; ++i) {
        const double a = 2 * M_PI * i / anchors + 0.3;
        const QPointF p(500 + 1000 * std::cos(a), 500 + 1000 * std::sin(a));
        points.append(p);
        distances.append(float(std::hypot(p.x() - tag.x(), p.y() - tag.y()) + (i % 2 ? 3 : -2)));
    }
}

void BM_SolvePosition(benchmark::State& state)
{
    QList<QPointF> points;
    QList<float> distances;
    setUp(int(state.range(0)), points, distances);
    for (auto _ : state) {
        QPointF p = solvePosition(points, distances);
        benchmark::DoNotOptimize(p);
    }
}

}

BENCHMARK(BM_SolvePosition)->Arg(3)->Arg(4)->Arg(8);
