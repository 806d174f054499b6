#ifndef OFFSETPROPOSAL_H
#define OFFSETPROPOSAL_H

#include <QList>
#include <QMap>
#include <QPointF>
#include <QString>
#include <QVector>

#include <optional>

struct Anchor;

// One tag's raw ranges (as received, no offset applied) collected while it
// stood at a known point.
struct KnownPointRanges
{
    QString tagId;
    QPointF truth;                       // cm, in the anchors' plane
    QMap<int, QVector<int>> ranges;      // anchor index -> ranges (cm)
};

// What the ranges say about one anchor's offset.
struct OffsetProposal
{
    int anchor = -1;                     // index into the anchors
    double trueDistance = 0.0;           // cm; the median over the points when there are several
    double measuredMedian = 0.0;         // cm
    int offset = 0;                      // true - measured, whole cm
    double spread = 0.0;                 // interquartile range of the errors (cm)
    int count = 0;                       // ranges that went in
    bool doubtful() const;               // spread over MaxSpreadCm or fewer than MinRanges
};

constexpr double MaxSpreadCm = 15.0;
constexpr int MinRanges = 50;
// A tag whose fixes wander further than this did not stand still while its
// ranges were collected, and its ranges say nothing about the offsets.
constexpr double MaxWanderCm = 60.0;
// Fixes per run whose median is one step of the wander.
constexpr int WanderRun = 10;

// How far a tag's raw fixes (in the order they came) wander: the largest
// distance between the medians of runs of WanderRun fixes, in cm; 0 for fewer
// than two runs. Medians, because single fixes of a standing tag jump by tens
// of centimetres on real radios, while a moving tag's medians move with it.
double fixWander(const QVector<QPointF>& fixes);

// The distance (cm) a perfect radio would report between the anchor and a tag
// at `truth`: in space when the tags' height is known, else in the plane.
double trueDistance(const Anchor& anchor, const QPointF& truth, std::optional<int> tagHeight);

// Per anchor with at least one range: the offset that makes the median range
// error vanish. Several points (several tags, or one tag placed one after the
// other) are pooled as errors against each point's true distance, so the
// median per anchor is taken over all of them. The proposal replaces the
// anchor's current offset (the ranges are raw).
QVector<OffsetProposal> proposeOffsets(const QVector<KnownPointRanges>& points, const QList<Anchor>& anchors,
                                       std::optional<int> tagHeight);

// The value at fraction p (0..1) of the sorted values, linearly interpolated;
// NaN for none.
double quantile(QVector<double> values, double p);

#endif
