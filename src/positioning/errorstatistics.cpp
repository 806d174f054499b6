#include "errorstatistics.h"

#include "offsetproposal.h"

#include <algorithm>
#include <cmath>

ErrorStatistics errorStatistics(const QVector<QPointF>& positions, const QPointF& truth)
{
    ErrorStatistics s;
    s.n = positions.size();
    if (s.n == 0)
        return s;
    QVector<double> radial;
    radial.reserve(s.n);
    for (const QPointF& p : positions) {
        const QPointF d = p - truth;
        s.meanDx += d.x();
        s.meanDy += d.y();
        radial.append(std::hypot(d.x(), d.y()));
    }
    s.meanDx /= s.n;
    s.meanDy /= s.n;
    double vx = 0, vy = 0;
    for (const QPointF& p : positions) {
        vx += std::pow(p.x() - truth.x() - s.meanDx, 2);
        vy += std::pow(p.y() - truth.y() - s.meanDy, 2);
    }
    // Sample deviation: a handful of fixes should not look steadier than they are.
    s.sigmaX = s.n > 1 ? std::sqrt(vx / (s.n - 1)) : 0.0;
    s.sigmaY = s.n > 1 ? std::sqrt(vy / (s.n - 1)) : 0.0;
    s.cep50 = quantile(radial, 0.5);
    s.r95 = quantile(radial, 0.95);
    s.max = *std::max_element(radial.begin(), radial.end());
    return s;
}
