#include "stoppedtags.h"

QVector<TagResult> stoppedResults(const QVector<TagResult>& last)
{
    QVector<TagResult> out;
    for (const TagResult& r : last) {
        if (!r.avgValid)
            continue;
        TagResult s;
        s.key = r.key;
        s.tag = r.tag;
        s.avgValid = true;
        s.avg = r.avg;
        out.append(s);
    }
    return out;
}

QColor stoppedColor(const QColor& c)
{
    const int grey = qGray(c.rgb());
    // Two parts light grey, one part the tag's own grey.
    const int v = (2 * 190 + grey) / 3;
    return QColor(v, v, v);
}

QList<Tag> stoppedLook(QList<Tag> tags)
{
    for (Tag& t : tags) {
        t.color = stoppedColor(t.color);
        // Its last place is shown if any of its places was.
        t.showPosAvg = t.showPosAvg || t.showPosRaw;
        t.showRate = t.showSpeed = t.showTrail = t.showUncertainty = false;
        t.showDistRaw = t.showDistAvg = t.showPosRaw = false;
    }
    return tags;
}
