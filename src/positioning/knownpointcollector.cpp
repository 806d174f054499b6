#include "knownpointcollector.h"

#include "modulesetup.h"
#include "positioningstep.h"
#include "rangingsample.h"
#include "solver.h"
#include "tagmeasurement.h"

#include <algorithm>

bool sameTagId(const QString& a, const QString& b)
{
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

void KnownPointCollector::begin(const QString& tagId, const QPointF& truth)
{
    const int previous = activeIndex(tagId);
    if (previous >= 0)
        active.removeAll(previous);
    KnownPointRanges r;
    r.tagId = tagId.trimmed();
    r.truth = truth;
    rangeSets.append(r);
    positionSets.append(Positions{r.tagId, truth, {}, {}});
    active.append(rangeSets.size() - 1);
}

void KnownPointCollector::clear()
{
    rangeSets.clear();
    positionSets.clear();
    active.clear();
}

void KnownPointCollector::discard()
{
    std::sort(active.begin(), active.end());
    for (int k = active.size() - 1; k >= 0; --k) {
        rangeSets.remove(active.at(k));
        positionSets.remove(active.at(k));
    }
    active.clear();
}

int KnownPointCollector::activeIndex(const QString& tagId) const
{
    for (const int i : active)
        if (sameTagId(rangeSets.at(i).tagId, tagId))
            return i;
    return -1;
}

void KnownPointCollector::addSample(const RangingSample& sample, const QList<Anchor>& anchors,
                                    std::optional<int> tagHeight)
{
    if (sample.tagId.isEmpty())
        return;
    const int i = activeIndex(sample.tagId);
    if (i < 0)
        return;
    for (int a = 0; a < sample.distances.size(); ++a)
        if (sample.distances.at(a) > 0)
            rangeSets[i].ranges[a].append(sample.distances.at(a));
    const QMap<int, int> usable = usableDistances(&sample, anchors, tagHeight);
    if (usable.size() >= 3)
        positionSets[i].raw.append(solveFromDistances(usable, anchors));
}

void KnownPointCollector::addPass(const PositioningPass& pass, const ModuleSetup& modules)
{
    for (const TagResult& r : pass.tags) {
        if (!r.rowDue || r.tag < 0 || r.tag >= modules.tags.size())
            continue;
        const int i = activeIndex(modules.tags.at(r.tag).id);
        if (i < 0)
            continue;
        if (r.avgValid)
            positionSets[i].shown.append(r.avg);
    }
}

int KnownPointCollector::activeRangeCount() const
{
    int n = 0;
    for (const int i : active)
        for (const QVector<int>& v : rangeSets.at(i).ranges)
            n += v.size();
    return n;
}
