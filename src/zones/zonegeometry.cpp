#include "zonegeometry.h"

#include <QStringList>

#include <boost/geometry.hpp>
#include <boost/geometry/geometries/point_xy.hpp>
#include <boost/geometry/geometries/polygon.hpp>
#include <boost/geometry/geometries/ring.hpp>

#include <algorithm>
#include <cmath>

namespace bg = boost::geometry;

namespace {

using Point = bg::model::d2::point_xy<double>;
using Ring = bg::model::ring<Point>;   // clockwise, closed
using Polygon = bg::model::polygon<Point>;

Polygon toPolygon(const QPolygonF& corners)
{
    Polygon polygon;
    for (const QPointF& c : corners)
        polygon.outer().push_back(Point(c.x(), c.y()));
    bg::correct(polygon);   // closes it and turns it the way Boost expects
    return polygon;
}

} // namespace

ZoneShapeFault zoneShapeFault(const QPolygonF& corners)
{
    int distinct = 0;
    for (int i = 0; i < corners.size(); ++i) {
        if (!std::isfinite(corners.at(i).x()) || !std::isfinite(corners.at(i).y()))
            return ZoneShapeFault::TooFewCorners;
        if (corners.at(i) != corners.at((i + 1) % corners.size()))
            ++distinct;
    }
    if (distinct < 3)
        return ZoneShapeFault::TooFewCorners;
    // Corners on one line enclose nothing: as good as too few.
    const QPointF a = corners.first();
    QPointF b = a;
    for (const QPointF& c : corners)
        if (c != a) {
            b = c;
            break;
        }
    const bool onOneLine = std::all_of(corners.begin(), corners.end(), [&](const QPointF& c) {
        return std::abs((b.x() - a.x()) * (c.y() - a.y()) - (b.y() - a.y()) * (c.x() - a.x())) < 1e-9;
    });
    if (onOneLine)
        return ZoneShapeFault::TooFewCorners;
    const Polygon polygon = toPolygon(corners);
    bg::validity_failure_type failure;
    if (bg::is_valid(polygon, failure))
        return ZoneShapeFault::None;
    if (failure == bg::failure_few_points || failure == bg::failure_wrong_topological_dimension)
        return ZoneShapeFault::TooFewCorners;
    return ZoneShapeFault::SelfCrossing;
}

QString zoneShapeFaultText(ZoneShapeFault fault)
{
    switch (fault) {
    case ZoneShapeFault::TooFewCorners:
        return QStringLiteral("Eine Zone braucht mindestens 3 Ecken, die eine Fläche umschließen.");
    case ZoneShapeFault::SelfCrossing:
        return QStringLiteral("Die Zone kreuzt sich selbst.");
    case ZoneShapeFault::None:
        break;
    }
    return QString();
}

bool zoneContains(const QPolygonF& corners, const QPointF& point)
{
    return bg::covered_by(Point(point.x(), point.y()), toPolygon(corners));
}

struct ZoneShape::Data
{
    Polygon polygon;
    bg::model::linestring<Point> boundary;
};

ZoneShape::ZoneShape(const QPolygonF& corners)
    : box(corners.boundingRect())
{
    auto data = std::make_shared<Data>();
    data->polygon = toPolygon(corners);
    data->boundary.assign(data->polygon.outer().begin(), data->polygon.outer().end());
    d = data;
}

double ZoneShape::signedDistance(const QPointF& point, double exactWithin) const
{
    if (exactWithin >= 0) {
        const double dx = qMax(qMax(box.left() - point.x(), point.x() - box.right()), 0.0);
        const double dy = qMax(qMax(box.top() - point.y(), point.y() - box.bottom()), 0.0);
        const double outside = std::hypot(dx, dy);
        if (outside > exactWithin)
            return -outside;
    }
    const Point p(point.x(), point.y());
    const double distance = bg::distance(p, d->boundary);
    return bg::within(p, d->polygon) ? distance : -distance;
}

double zoneSignedDistance(const QPolygonF& corners, const QPointF& point)
{
    return ZoneShape(corners).signedDistance(point);
}

bool zoneCornersFromText(const QString& text, QPolygonF* corners)
{
    QPolygonF read;
    const QStringList pairs = text.trimmed().split(QLatin1Char(';'));
    for (QString pair : pairs) {
        pair = pair.trimmed();
        if (pair.isEmpty())
            continue;   // a trailing ';'
        const QStringList xy = pair.split(QLatin1Char(','));
        if (xy.size() != 2)
            return false;
        bool okX = false, okY = false;
        const double x = xy.at(0).trimmed().toDouble(&okX);
        const double y = xy.at(1).trimmed().toDouble(&okY);
        if (!okX || !okY || !std::isfinite(x) || !std::isfinite(y) || std::abs(x) > 1e7 || std::abs(y) > 1e7)
            return false;
        read.append(QPointF(x, y));
    }
    *corners = read;
    return true;
}

QString zoneCornersText(const QPolygonF& corners)
{
    QStringList pairs;
    for (const QPointF& c : corners)
        pairs.append(QStringLiteral("%1,%2").arg(c.x(), 0, 'g', 10).arg(c.y(), 0, 'g', 10));
    return pairs.join(QLatin1Char(';'));
}
