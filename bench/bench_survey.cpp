#include "anchorsurvey.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

namespace {

// A two-minute walk sampled every 0.2 s per tag, in a 7 m x 6 m room with
// four anchors, ranges with 5 cm noise, 1 % outliers and a common bias of
// 18 cm pinned by the master-to-next distance: the survey's usual case.
AnchorSurveyInput twoMinuteWalk(int tags)
{
    const QPointF anchors[] = {{-342, 301}, {361, 298}, {357, -301}, {-347, -296}};
    AnchorSurveyInput in;
    for (const QPointF& a : anchors) {
        SurveyAnchor s;
        s.table = a + QPointF(40, -30);
        s.z = 104;
        s.master = in.anchors.isEmpty();
        in.anchors.append(s);
    }
    in.tagHeight = 96;
    in.known = SurveyKnownDistance{0, 1, std::hypot(361.0 + 342.0, 298.0 - 301.0)};
    std::mt19937 random(1);
    std::normal_distribution<double> noise(0.0, 5.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int t = 0; t < tags; ++t)
        for (int i = 0; i < 600; ++i) {
            // A loop along the walls with a figure through the middle.
            const double phase = 2 * M_PI * i / 300.0 + t;
            const QPointF p(270 * std::cos(phase), 230 * std::sin(phase) * std::cos(phase / 2));
            SurveySample s;
            s.ms = i * 200;
            s.tag = t;
            for (const QPointF& a : anchors) {
                const double d = std::sqrt(std::pow(p.x() - a.x(), 2) + std::pow(p.y() - a.y(), 2) + 64.0);
                s.ranges.append(d + 18.0 + noise(random) + (unit(random) < 0.01 ? 200.0 : 0.0));
            }
            in.samples.append(s);
        }
    return in;
}

void BM_SurveyTwoMinuteWalk(benchmark::State& state)
{
    const AnchorSurveyInput in = twoMinuteWalk(int(state.range(0)));
    for (auto _ : state) {
        AnchorSurveyResult r = surveyAnchors(in);
        if (r.status != AnchorSurveyResult::Solved)
            state.SkipWithError("not solved");
        benchmark::DoNotOptimize(r);
    }
}

} // namespace

// One tag, and all three tags walking at once (goal: at most 2 s).
BENCHMARK(BM_SurveyTwoMinuteWalk)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
