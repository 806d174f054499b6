#ifndef TAGMEASUREMENT_H
#define TAGMEASUREMENT_H

#include <QList>
#include <QMap>
#include <QTime>

#include <optional>

struct Anchor;
class RangingSample;

// Samples per second over the history: the n - 1 intervals between the first
// and the last arrival, (n - 1) * 1000 / ms. 0 for fewer than two samples or a
// span under 1 ms.
double historyRate(const QList<RangingSample*>& samples);

// Removes and deletes samples from the front (oldest first) while they are
// more than two whole seconds of the day older than `now`.
void expireSamples(QList<RangingSample*>& samples, const QTime& now);

// A distance in space (cm) between an anchor at height anchorZ and a tag at
// tagZ, projected into the tag's plane: sqrt(d^2 - dz^2). A distance shorter
// than the height difference (noise near the foot of the anchor) lies at 0 in
// the plane and sets *belowHeight. Kept at least 1 cm, since 0 means "none".
qint64 planeDistance(qint64 d, int anchorZ, int tagZ, bool* belowHeight = nullptr);

// The distance (cm) a sample gives to anchor index a, the anchor's offset added
// and, with a tag height, projected into the tag's plane; 0 when the sample has
// none or the offset leaves nothing positive. Every distance the positioning
// uses (latest, averaged, filtered) comes from here.
int usableDistance(const RangingSample* sample, int a, const Anchor& anchor,
                   std::optional<int> tagHeight = std::nullopt);

// All usable distances of one sample, keyed by anchor index.
QMap<int, int> usableDistances(const RangingSample* sample, const QList<Anchor>& anchors,
                               std::optional<int> tagHeight = std::nullopt);

// How many distances of one sample are shorter than the height difference to
// their anchor (0 without a tag height).
int distancesBelowHeight(const RangingSample* sample, const QList<Anchor>& anchors, std::optional<int> tagHeight);

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
                              const QList<Anchor>& anchors, int averageCount,
                              std::optional<int> tagHeight = std::nullopt);

#endif
