#include "ranginglines.h"

#include <cmath>

OutLine RangingLines::ranging(const Scenario& sc, const QStringList& anchors, const QString& tag, qint64 ms)
{
    OutLine out;
    out.kind = 'D';
    out.hasTruth = true;
    out.tag = tag;
    out.truthMs = ms;
    sc.positionAt(tag, ms, &out.truth);
    if (const Scenario::Module* m = sc.find(tag))
        out.truthZ = m->z;
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    QByteArray line = "$PD," + tag.toLatin1();
    for (const QString& anchorId : anchors) {
        // Draw the same numbers whatever happens, so a seed gives one sequence.
        const double noise = gauss(rng) * sc.noiseSigma;
        const double outlierDraw = unit(rng);
        const double outlierSize = 100 + 700 * unit(rng);
        const double dropDraw = unit(rng);
        // Scenarios without a real radio's errors keep their old sequence.
        const bool realErrors = sc.nlos > 0 || sc.tail > 0;
        const double tailDraw = realErrors ? unit(rng) : 1.0;
        const double nlosDraw = realErrors ? unit(rng) : 0.0;
        qint64 d = 0;
        double dist = 0;
        if (sc.distanceAt(tag, anchorId, ms, &dist)) {
            dist += sc.pairBias(tag, anchorId) + (tailDraw < sc.tail ? noise * sc.tailScale : noise);
            if (sc.nlos > 0 && sc.blocked(tag, anchorId, ms))
                dist += -sc.nlos * std::log(1.0 - nlosDraw);   // exponential: always late, sometimes much
            if (outlierDraw < sc.outliers)
                dist += outlierSize;   // a reflection taken for the direct path
            if (dropDraw >= sc.dropout) {
                d = std::llround(dist);
                if (d < 1)
                    d = 1;   // 0 would mean "no distance"
                if (d > 100000)
                    d = 0;
            }
        }
        line += ',' + QByteArray::number(d, 16).toUpper();
    }
    out.bytes = line + "\r\n";
    return out;
}

OutLine RangingLines::malformed(const QByteArray& tag)
{
    OutLine out;
    out.kind = '!';
    switch (variant++ % 6) {
    case 0: out.bytes = "$PD," + tag + ",xx,,G1\r\n"; break;          // no valid distance
    case 1: out.bytes = "$PD," + tag + "\r\n"; break;                 // too short
    case 2: out.bytes = "$PQ,17,\r\n"; break;                         // unknown letter
    case 3: out.bytes = "%&\x01\x7fnoise\r\n"; break;                 // line noise without '$'
    case 4: out.bytes = "$PD," + tag + ",186A1,-5,0\r\n"; break;      // out of range
    default: out.bytes = "$P\r\n"; break;                             // no letter
    }
    return out;
}
