#include "linkquality.h"

#include "timeofday.h"

#include <cmath>

void LinkQuality::clear()
{
    tags.clear();
    clockTime = QTime();
    clockAt = 0;
}

qint64 LinkQuality::clockMs(const QTime& at)
{
    if (!clockTime.isValid()) {
        clockTime = at;
        return clockAt;
    }
    clockAt += signedMsecsBetween(clockTime, at);
    clockTime = at;
    return clockAt;
}

LinkQuality::Bucket& LinkQuality::bucket(TagState& tag, qint64 ms)
{
    // The whole recording: one bucket that never slides.
    const qint64 start = windowMs > 0 ? ms - ((ms % BucketMs) + BucketMs) % BucketMs : 0;
    if (tag.buckets.empty() || tag.buckets.back().start < start) {
        tag.buckets.push_back(Bucket{start, 0, 0, {}});
        while (windowMs > 0 && tag.buckets.front().start + BucketMs <= ms - windowMs)
            tag.buckets.pop_front();
    }
    // A line a little behind the newest (clocks re-based by a few ms) counts with the newest.
    return tag.buckets.back();
}

LinkQuality::Counts& LinkQuality::counts(const QString& key, qint64 ms, int anchor)
{
    Bucket& b = bucket(tags[key], ms);
    if (b.anchors.size() <= anchor)
        b.anchors.resize(anchor + 1);
    return b.anchors[anchor];
}

void LinkQuality::addLine(const QString& key, const QTime& at, const QList<int>& received, const QMap<int, int>& usable,
                          int anchorCount)
{
    const qint64 ms = clockMs(at);
    const bool fresh = tags.find(key) == tags.end();
    TagState& tag = tags[key];
    if (fresh)
        tag.firstMs = ms;
    tag.lastMs = ms;
    Bucket& b = bucket(tag, ms);
    ++b.lines;
    if (usable.size() >= 3)
        ++b.fixes;
    if (b.anchors.size() < anchorCount)
        b.anchors.resize(anchorCount);
    if (tag.lastDistance.size() < anchorCount)
        tag.lastDistance.resize(anchorCount);
    for (int a = 0; a < anchorCount; ++a) {
        const int d = a < received.size() ? received.at(a) : 0;
        Counts& c = b.anchors[a];
        if (d == 0) {
            ++c.missing;
            continue;
        }
        ++c.present;
        tag.lastDistance[a] = d;
        // Received but unusable: an offset that leaves nothing, a distance beyond reach.
        if (!usable.contains(a))
            ++c.leftOut;
    }
}

void LinkQuality::addLeftOut(const QString& key, const QTime& at, const QList<int>& anchors)
{
    const qint64 ms = clockMs(at);
    for (int a : anchors)
        if (a >= 0)
            ++counts(key, ms, a).leftOut;
}

void LinkQuality::addResiduals(const QString& key, const QTime& at, const QMap<int, double>& residuals)
{
    const qint64 ms = clockMs(at);
    for (auto it = residuals.constBegin(); it != residuals.constEnd(); ++it) {
        if (it.key() < 0 || !std::isfinite(it.value()))
            continue;
        Counts& c = counts(key, ms, it.key());
        ++c.residuals;
        c.sum += it.value();
        c.sumSquares += it.value() * it.value();
    }
}

QVector<LinkQuality::TagFigures> LinkQuality::figures(const QTime& now) const
{
    const qint64 nowMs = clockTime.isValid() ? clockAt + signedMsecsBetween(clockTime, now) : clockAt;
    QVector<TagFigures> out;
    for (const auto& entry : tags) {
        const TagState& tag = entry.second;
        Bucket sum;
        for (const Bucket& b : tag.buckets) {
            if (windowMs > 0 && b.start + BucketMs <= nowMs - windowMs)
                continue;
            sum.lines += b.lines;
            sum.fixes += b.fixes;
            if (sum.anchors.size() < b.anchors.size())
                sum.anchors.resize(b.anchors.size());
            for (int a = 0; a < b.anchors.size(); ++a) {
                Counts& s = sum.anchors[a];
                const Counts& c = b.anchors.at(a);
                s.present += c.present;
                s.missing += c.missing;
                s.leftOut += c.leftOut;
                s.residuals += c.residuals;
                s.sum += c.sum;
                s.sumSquares += c.sumSquares;
            }
        }
        if (sum.lines == 0)
            continue;   // silent for the whole window
        TagFigures f;
        f.key = entry.first;
        // Over the window, or over the time heard when that is shorter (but
        // at least a second, so the first lines do not read as a flood).
        const qint64 spanMs = windowMs > 0 ? qBound(qint64(1000), qint64(nowMs - tag.firstMs), qint64(windowMs))
                                           : qMax<qint64>(1000, tag.lastMs - tag.firstMs);
        const double seconds = spanMs / 1000.0;
        f.linesPerSecond = sum.lines / seconds;
        f.updateRate = sum.fixes / seconds;
        f.sinceLastMs = qMax<qint64>(0, nowMs - tag.lastMs);
        for (int a = 0; a < sum.anchors.size(); ++a) {
            const Counts& c = sum.anchors.at(a);
            AnchorFigures af;
            af.linesPerSecond = c.present / seconds;
            af.missingShare = double(c.missing) / sum.lines;
            af.leftOutShare = c.present > 0 ? qMin(1.0, double(c.leftOut) / c.present) : 0.0;
            if (c.residuals >= 2) {
                const double mean = c.sum / c.residuals;
                af.spread = std::sqrt(qMax(0.0, (c.sumSquares - c.residuals * mean * mean) / (c.residuals - 1)));
            }
            af.lastDistance = a < tag.lastDistance.size() ? tag.lastDistance.at(a) : 0;
            f.anchors.append(af);
        }
        out.append(f);
    }
    return out;
}

QStringList LinkQuality::table(const QVector<TagFigures>& figures, const QStringList& anchorIds)
{
    QStringList lines;
    lines << QStringLiteral("tag      anchor  lines/s  missing  left out  spread cm  last cm  fixes/s");
    for (const TagFigures& f : figures) {
        lines << QStringLiteral("%1  %2  %3  %4  %5  %6  %7  %8")
                     .arg(f.key, -7).arg(QStringLiteral("all"), -6).arg(f.linesPerSecond, 7, 'f', 1)
                     .arg(QString(), 7).arg(QString(), 8).arg(QString(), 9).arg(QString(), 7)
                     .arg(f.updateRate, 7, 'f', 1);
        for (int a = 0; a < f.anchors.size(); ++a) {
            const AnchorFigures& af = f.anchors.at(a);
            lines << QStringLiteral("%1  %2  %3  %4  %5  %6  %7")
                         .arg(f.key, -7).arg(a < anchorIds.size() ? anchorIds.at(a) : QString::number(a), -6)
                         .arg(af.linesPerSecond, 7, 'f', 1)
                         .arg(QString::number(100 * af.missingShare, 'f', 1) + '%', 7)
                         .arg(QString::number(100 * af.leftOutShare, 'f', 1) + '%', 8)
                         .arg(af.spread < 0 ? QStringLiteral("-") : QString::number(af.spread, 'f', 1), 9)
                         .arg(af.lastDistance, 7);
        }
    }
    return lines;
}
