#ifndef ZONEGEOMETRY_H
#define ZONEGEOMETRY_H

#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QString>

#include <memory>

// Plane geometry of zones, on Boost.Geometry. Corners in cm, in either turning
// direction, the polygon open (the last corner joins the first).

enum class ZoneShapeFault { None, TooFewCorners, SelfCrossing };

// Whether the corners make a zone: at least three distinct corners enclosing
// an area, edges that neither cross nor touch each other.
ZoneShapeFault zoneShapeFault(const QPolygonF& corners);
// The German reason shown when a zone is refused ("" for None).
QString zoneShapeFaultText(ZoneShapeFault fault);

// Inside or on the boundary.
bool zoneContains(const QPolygonF& corners, const QPointF& point);

// Distance to the boundary, positive inside, negative outside, 0 on it.
double zoneSignedDistance(const QPolygonF& corners, const QPointF& point);

// A zone's polygon made ready for many distance queries (the events engine
// asks one per fix and zone).
class ZoneShape
{
public:
    explicit ZoneShape(const QPolygonF& corners = QPolygonF());
    // As zoneSignedDistance(); a point farther than `exactWithin` outside the
    // corners' bounding box gets minus its distance to the box instead (an
    // upper bound of the true value, which a caller deciding "at least that
    // far outside" needs no more precisely).
    double signedDistance(const QPointF& point, double exactWithin = -1) const;

private:
    struct Data;
    std::shared_ptr<const Data> d;
    QRectF box;
};

// Reads "x,y;x,y;..." (cm); false on anything else, with *corners unchanged.
bool zoneCornersFromText(const QString& text, QPolygonF* corners);
QString zoneCornersText(const QPolygonF& corners);

#endif
