#ifndef TAGMEASUREMENT_H
#define TAGMEASUREMENT_H

#include <QList>
#include <QMap>
#include <QTime>

struct Anchor;
class RangingSample;

// Samples per second over the history: the n - 1 intervals between the first
// and the last arrival, (n - 1) * 1000 / ms. 0 for fewer than two samples or a
// span under 1 ms.
double historyRate(const QList<RangingSample*>& samples);

// Removes and deletes samples from the front (oldest first) while they are
// more than two whole seconds of the day older than `now`.
void expireSamples(QList<RangingSample*>& samples, const QTime& now);

// The distance (cm) a sample gives to anchor index a, the anchor's offset added;
// 0 when the sample has none or the offset leaves nothing positive. Every
// distance the positioning uses (latest, averaged, filtered) comes from here.
int usableDistance(const RangingSample* sample, int a, const Anchor& anchor);

// All usable distances of one sample, keyed by anchor index.
QMap<int, int> usableDistances(const RangingSample* sample, const QList<Anchor>& anchors);

// One tag's distances for one chart pass, keyed by anchor index, offsets
// included (cm).
struct TagDistances
{
    QMap<int, int> rawDist;   // newest sample, usable distances only
    QMap<int, int> avgDist;   // averages that are not 0
    bool hasMaster = false;   // some anchor is the master
    int masterAvg = 0;        // that anchor's average, also when 0
};

// Raw and averaged distances of a tag from its history (oldest first). The
// average runs over the newest min(averageCount, size) samples and counts
// only readings that are non-zero and stay positive after the offset.
TagDistances measureDistances(const QList<RangingSample*>& samples,
                              const QList<Anchor>& anchors, int averageCount);

#endif
