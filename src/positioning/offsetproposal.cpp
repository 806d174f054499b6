#include "offsetproposal.h"

#include "anchor.h"

#include <algorithm>
#include <cmath>
#include <limits>

bool OffsetProposal::doubtful() const
{
    return spread > MaxSpreadCm || count < MinRanges;
}

double trueDistance(const Anchor& anchor, const QPointF& truth, std::optional<int> tagHeight)
{
    const double dx = truth.x() - anchor.x, dy = truth.y() - anchor.y;
    const double dz = tagHeight ? double(anchor.z - *tagHeight) : 0.0;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

double quantile(QVector<double> values, double p)
{
    if (values.isEmpty())
        return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    const double at = qBound(0.0, p, 1.0) * double(values.size() - 1);
    const int below = int(std::floor(at));
    const int above = qMin(below + 1, values.size() - 1);
    return values.at(below) + (values.at(above) - values.at(below)) * (at - below);
}

double fixWander(const QVector<QPointF>& fixes)
{
    QVector<QPointF> medians;
    for (int from = 0; from + WanderRun <= fixes.size(); from += WanderRun) {
        QVector<double> xs, ys;
        for (int i = from; i < from + WanderRun; ++i) {
            xs.append(fixes.at(i).x());
            ys.append(fixes.at(i).y());
        }
        medians.append(QPointF(quantile(xs, 0.5), quantile(ys, 0.5)));
    }
    double widest = 0.0;
    for (int i = 0; i < medians.size(); ++i)
        for (int j = i + 1; j < medians.size(); ++j) {
            const QPointF d = medians.at(i) - medians.at(j);
            widest = qMax(widest, std::hypot(d.x(), d.y()));
        }
    return widest;
}

QVector<OffsetProposal> proposeOffsets(const QVector<KnownPointRanges>& points, const QList<Anchor>& anchors,
                                       std::optional<int> tagHeight)
{
    QVector<OffsetProposal> result;
    for (int a = 0; a < anchors.size(); ++a) {
        QVector<double> errors;        // measured - true, per range
        QVector<double> truths;        // per range, so the shown distance weighs points as the median does
        for (const KnownPointRanges& point : points) {
            const double truth = trueDistance(anchors.at(a), point.truth, tagHeight);
            for (const int range : point.ranges.value(a)) {
                if (range <= 0)
                    continue;
                errors.append(range - truth);
                truths.append(truth);
            }
        }
        if (errors.isEmpty())
            continue;
        OffsetProposal p;
        p.anchor = a;
        p.count = errors.size();
        p.trueDistance = quantile(truths, 0.5);
        const double error = quantile(errors, 0.5);
        p.measuredMedian = p.trueDistance + error;
        p.offset = int(std::lround(-error));
        p.spread = quantile(errors, 0.75) - quantile(errors, 0.25);
        result.append(p);
    }
    return result;
}
