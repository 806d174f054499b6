#include "chartfit.h"

#include <QtGlobal>

#include <cmath>
#include <limits>

namespace {

const double MinMargin = 100.0;   // cm
const double MarginShare = 0.1;

int clampedInt(double v)
{
    return int(qBound(double(std::numeric_limits<int>::min()), v,
                      double(std::numeric_limits<int>::max())));
}

} // namespace

GridRect fitViewRect(const QList<Anchor>& anchors, const QSize& chartSize, const QVector<QPoint>& alsoShow)
{
    if (anchors.isEmpty())
        return GridRect();
    double minX = anchors.first().x, maxX = minX, minY = anchors.first().y, maxY = minY;
    for (const Anchor& a : anchors) {
        minX = qMin(minX, double(a.x));
        maxX = qMax(maxX, double(a.x));
        minY = qMin(minY, double(a.y));
        maxY = qMax(maxY, double(a.y));
    }
    for (const QPoint& p : alsoShow) {
        minX = qMin(minX, double(p.x()));
        maxX = qMax(maxX, double(p.x()));
        minY = qMin(minY, double(p.y()));
        maxY = qMax(maxY, double(p.y()));
    }
    const double mx = qMax(MarginShare * (maxX - minX), MinMargin);
    const double my = qMax(MarginShare * (maxY - minY), MinMargin);
    double x = std::floor(minX - mx), y = std::floor(minY - my);
    double w = std::ceil(maxX + mx) - x, h = std::ceil(maxY + my) - y;

    if (chartSize.width() > 0 && chartSize.height() > 0) {
        const double aspect = double(chartSize.width()) / chartSize.height();
        if (w < h * aspect) {
            const double wider = std::ceil(h * aspect);
            x -= std::floor((wider - w) / 2);
            w = wider;
        } else {
            const double taller = std::ceil(w / aspect);
            y -= std::floor((taller - h) / 2);
            h = taller;
        }
    }
    // Whole ten centimetres read better in the edits; rounding outwards keeps
    // the margins.
    const double left = std::floor(x / 10) * 10, bottom = std::floor(y / 10) * 10;
    const double right = std::ceil((x + w) / 10) * 10, top = std::ceil((y + h) / 10) * 10;
    return {clampedInt(left), clampedInt(bottom), clampedInt(right - left), clampedInt(top - bottom)};
}

int anchorsOutside(const QList<Anchor>& anchors, const GridRect& grid)
{
    int outside = 0;
    const qint64 left = grid.x, bottom = grid.y;
    const qint64 right = left + grid.w, top = bottom + grid.h;
    for (const Anchor& a : anchors)
        if (a.x < left || a.x > right || a.y < bottom || a.y > top)
            ++outside;
    return outside;
}
