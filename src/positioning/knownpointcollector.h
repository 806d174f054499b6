#ifndef KNOWNPOINTCOLLECTOR_H
#define KNOWNPOINTCOLLECTOR_H

#include "errorstatistics.h"
#include "offsetproposal.h"

#include <QPointF>
#include <QString>
#include <QList>
#include <QVector>

#include <optional>

struct Anchor;
class ModuleSetup;
class RangingSample;
struct PositioningPass;

// Gathers what tags standing at known points yield: their raw ranges (for the
// offsets) and the raw fixes and shown positions of every pass that had a new
// sample (for the accuracy). A point is collected from until the next point
// for the same tag begins, so one tag can be placed at several points in turn.
class KnownPointCollector
{
public:
    // The positions one tag gave at one point.
    struct Positions
    {
        QString tagId;
        QPointF truth;
        QVector<QPointF> raw;     // raw fixes, one per sample with three distances
        QVector<QPointF> shown;   // averaged or filtered, as the chart shows them
    };

    // Starts collecting for `tagId` at `truth` (cm); an earlier point of the
    // same tag is kept but receives nothing more.
    void begin(const QString& tagId, const QPointF& truth);
    // Stops collecting for every point; what was collected stays.
    void finish() { active.clear(); }
    // Drops the points under way with what they collected (a cancelled collection).
    void discard();
    void clear();

    // A ranging line of any tag: its raw ranges, and its raw fix with the
    // offsets and the tags' height as the positioning applies them.
    void addSample(const RangingSample& sample, const QList<Anchor>& anchors, std::optional<int> tagHeight);
    // The shown positions of the tags with a new sample in this pass.
    void addPass(const PositioningPass& pass, const ModuleSetup& modules);

    const QVector<KnownPointRanges>& ranges() const { return rangeSets; }
    const QVector<Positions>& positions() const { return positionSets; }
    // Ranges collected for the points under way (all anchors together).
    int activeRangeCount() const;

private:
    int activeIndex(const QString& tagId) const;

    QVector<KnownPointRanges> rangeSets;
    QVector<Positions> positionSets;   // parallel to rangeSets
    QVector<int> active;               // indices of the points collecting now
};

// Tag identifiers as the records compare them: trimmed, any letter case.
bool sameTagId(const QString& a, const QString& b);

#endif
