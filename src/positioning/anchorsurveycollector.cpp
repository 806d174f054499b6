#include "anchorsurveycollector.h"

#include "knownpointcollector.h"
#include "rangingsample.h"

void AnchorSurveyCollector::clear()
{
    taken.clear();
    tagIds.clear();
    lastMs.clear();
    usable = 0;
}

bool AnchorSurveyCollector::add(const RangingSample& sample, qint64 ms, int anchorCount)
{
    if (sample.tagId.isEmpty() || (!onlyTag.isEmpty() && !sameTagId(sample.tagId, onlyTag)))
        return false;
    int tag = -1;
    for (int i = 0; i < tagIds.size() && tag < 0; ++i)
        if (sameTagId(tagIds.at(i), sample.tagId))
            tag = i;
    if (tag < 0) {
        tag = tagIds.size();
        tagIds.append(sample.tagId.trimmed());
    }
    const auto last = lastMs.constFind(tag);
    if (last != lastMs.constEnd() && ms >= *last && ms - *last < SurveySampleIntervalMs)
        return false;
    SurveySample s;
    s.ms = ms;
    s.tag = tag;
    int ranges = 0;
    for (int a = 0; a < anchorCount; ++a) {
        const int d = sample.distanceAt(a);
        const bool valid = d > 0 && d <= RangingSample::MaxDistance;
        s.ranges.append(valid ? d : 0);
        ranges += valid ? 1 : 0;
    }
    lastMs.insert(tag, ms);
    taken.append(s);
    usable += ranges >= SurveyMinRanges ? 1 : 0;
    return true;
}
