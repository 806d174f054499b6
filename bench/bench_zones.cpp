// The zone engine's share of a chart pass: at the full link rate (about 2000
// lines a second over 4 tags, a pass every 10 ms) every pass brings each tag
// one new position. One iteration is one pass: 4 fixes against 32 zones (odd
// polygons of 4 to 12 corners spread over 10 m x 8 m) and the clock advanced.
#include "zoneevents.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

QVector<Zone> zones32()
{
    QVector<Zone> zones;
    for (int i = 0; i < 32; ++i) {
        Zone z;
        z.name = QStringLiteral("Zone %1").arg(i);
        z.dwellSeconds = i % 3 == 0 ? 5 : 0;
        const QPointF centre(150 + 230 * (i % 4) + 20 * (i % 3), 120 + 90 * (i / 4));
        const int corners = 4 + i % 9;
        for (int c = 0; c < corners; ++c) {
            const double a = 2 * M_PI * c / corners, r = c % 2 ? 90 : 130;
            z.corners << centre + QPointF(r * std::cos(a), r * 0.8 * std::sin(a));
        }
        zones << z;
    }
    return zones;
}

void BM_ZonePass(benchmark::State& state)
{
    ZoneEvents engine;
    engine.setZones(zones32());
    const QStringList ids = {"2B01", "2B02", "2B03", "2B04"};
    qint64 ms = 0;
    quint64 events = 0;
    for (auto _ : state) {
        ms += 10;
        for (int t = 0; t < ids.size(); ++t) {
            // Each tag walks its own ellipse through the zones at about 1 m/s.
            const double a = ms / 5000.0 + t;
            engine.addFix(ids.at(t), ids.at(t), QPointF(500 + 420 * std::cos(a), 400 + 330 * std::sin(a * 1.3)), ms);
        }
        engine.advance(ms);
        events += quint64(engine.takeEvents().size());
    }
    state.counters["events"] = double(events);
}
BENCHMARK(BM_ZonePass)->Unit(benchmark::kMicrosecond);

} // namespace
