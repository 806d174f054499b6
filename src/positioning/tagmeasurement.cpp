#include "tagmeasurement.h"

#include "anchor.h"
#include "rangingsample.h"
#include "timeofday.h"

#include <climits>
#include <cmath>

namespace {

// Offsets come from settings files and may be anything an int holds, so the
// corrected distances are summed in 64 bits and clamped when stored.
int clampToInt(qint64 v)
{
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return int(v);
}

}

double historyRate(const QList<RangingSample*>& samples)
{
    if (samples.size() < 2)
        return 0.0;
    const qint64 ms = msecsBetween(samples.first()->received, samples.last()->received);
    if (ms < 1)
        return 0.0;
    return double(samples.size() - 1) * 1000.0 / double(ms);
}

void expireSamples(QList<RangingSample*>& samples, const QTime& now)
{
    if (!now.isValid())
        return;
    while (!samples.isEmpty()) {
        const RangingSample* s = samples.first();
        // A sample without an arrival time cannot be aged; left in front it
        // would keep every later sample from expiring.
        if (s->received.isValid() && secsBetween(s->received, now) <= 2)
            break;
        delete samples.takeFirst();
    }
}

namespace {

// In 64 bits, so that sums of hostile offsets do not overflow.
qint64 correctedDistance(const RangingSample* sample, int a, const Anchor& anchor, std::optional<int> tagHeight,
                         bool* belowHeight = nullptr)
{
    const int d = sample->distanceAt(a);
    const qint64 corrected = qint64(d) + anchor.offset;
    if (d == 0 || corrected <= 0)
        return 0;
    return tagHeight ? planeDistance(corrected, anchor.z, *tagHeight, belowHeight) : corrected;
}

}

qint64 planeDistance(qint64 d, int anchorZ, int tagZ, bool* belowHeight)
{
    const double dz = double(anchorZ) - double(tagZ);
    const double squared = double(d) * double(d) - dz * dz;
    if (belowHeight)
        *belowHeight = squared < 0;
    return qMax<qint64>(1, std::llround(std::sqrt(qMax(0.0, squared))));
}

int usableDistance(const RangingSample* sample, int a, const Anchor& anchor, std::optional<int> tagHeight)
{
    return clampToInt(correctedDistance(sample, a, anchor, tagHeight));
}

QMap<int, int> usableDistances(const RangingSample* sample, const QList<Anchor>& anchors,
                               std::optional<int> tagHeight)
{
    QMap<int, int> out;
    for (int a = 0; a < anchors.size(); ++a) {
        const int d = usableDistance(sample, a, anchors.at(a), tagHeight);
        if (d > 0)
            out.insert(a, d);
    }
    return out;
}

int distancesBelowHeight(const RangingSample* sample, const QList<Anchor>& anchors, std::optional<int> tagHeight)
{
    int count = 0;
    for (int a = 0; tagHeight && a < anchors.size(); ++a) {
        bool below = false;
        correctedDistance(sample, a, anchors.at(a), tagHeight, &below);
        count += below ? 1 : 0;
    }
    return count;
}

TagDistances measureDistances(const QList<RangingSample*>& samples,
                              const QList<Anchor>& anchors, int averageCount, std::optional<int> tagHeight)
{
    TagDistances result;
    if (samples.isEmpty())
        return result;

    const RangingSample* last = samples.last();
    const int size = samples.size();
    const int n = qBound(0, averageCount, size);

    for (int a = 0; a < anchors.size(); ++a) {
        const Anchor& anchor = anchors.at(a);
        // The latest distance counts only when positive as received, as before.
        const int d = last->distanceAt(a) > 0 ? usableDistance(last, a, anchor, tagHeight) : 0;
        if (d > 0)
            result.rawDist.insert(a, d);

        qint64 sum = 0;
        int valid = 0;
        for (int i = size - n; i < size; ++i) {
            const qint64 v = correctedDistance(samples.at(i), a, anchor, tagHeight);
            if (v > 0) {
                sum += v;
                ++valid;
            }
        }
        const int avg = valid > 0 ? clampToInt(sum / valid) : 0;

        if (!result.hasMaster && anchor.master) {
            result.hasMaster = true;
            result.masterAvg = avg;
        }
        if (avg != 0)
            result.avgDist.insert(a, avg);
    }
    return result;
}
