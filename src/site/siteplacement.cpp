#include "siteplacement.h"

#include <cmath>

namespace {

void rotation(double degrees, double* c, double* s)
{
    // Exact at the quarter turns, so a kit turned by 90° lands on whole centimetres.
    const double d = normalizedDegrees(degrees);
    if (d == 0.0)
        *c = 1, *s = 0;
    else if (d == 90.0)
        *c = 0, *s = 1;
    else if (d == 180.0)
        *c = -1, *s = 0;
    else if (d == 270.0)
        *c = 0, *s = -1;
    else
        *c = std::cos(d * M_PI / 180.0), *s = std::sin(d * M_PI / 180.0);
}

} // namespace

double normalizedDegrees(double degrees)
{
    if (!std::isfinite(degrees))
        return 0.0;
    double d = std::fmod(degrees, 360.0);
    if (d < 0)
        d += 360.0;
    return d >= 360.0 ? 0.0 : d;
}

QPointF kitToSite(const KitPlacement& p, const QPointF& k)
{
    double c, s;
    rotation(p.rotationDeg, &c, &s);
    return QPointF(c * k.x() - s * k.y() + p.x, s * k.x() + c * k.y() + p.y);
}

QPointF siteToKit(const KitPlacement& p, const QPointF& site)
{
    double c, s;
    rotation(p.rotationDeg, &c, &s);
    const double dx = site.x() - p.x, dy = site.y() - p.y;
    return QPointF(c * dx + s * dy, -s * dx + c * dy);
}

QPolygonF kitOutlineOnSite(const KitPlacement& p, const QRectF& r)
{
    return QPolygonF({kitToSite(p, r.topLeft()), kitToSite(p, r.topRight()), kitToSite(p, r.bottomRight()),
                      kitToSite(p, r.bottomLeft())});
}

KitPlacement placeBeside(const QVector<QPolygonF>& taken, const QRectF& kitRect, double gapCm)
{
    KitPlacement p;
    // By hand: QRectF::united() passes over outlines of no area (a kit of one point).
    bool any = false;
    double right = 0, bottom = 0;
    for (const QPolygonF& outline : taken)
        for (const QPointF& q : outline) {
            right = any ? qMax(right, q.x()) : q.x();
            bottom = any ? qMin(bottom, q.y()) : q.y();
            any = true;
        }
    if (!any)
        return p;
    p.x = std::ceil(right + gapCm - kitRect.left());
    p.y = std::floor(bottom - kitRect.top());
    return p;
}
