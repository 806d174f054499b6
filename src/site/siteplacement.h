#ifndef SITEPLACEMENT_H
#define SITEPLACEMENT_H

#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QVector>

// Where a kit lies on the site: its point p lands at R(rotation)·p + (x, y),
// the rotation in degrees counter-clockwise, all lengths in cm.
struct KitPlacement
{
    double x = 0.0;
    double y = 0.0;
    double rotationDeg = 0.0;

    bool operator==(const KitPlacement& o) const { return x == o.x && y == o.y && rotationDeg == o.rotationDeg; }
};

// Kit coordinates to site coordinates, and back.
QPointF kitToSite(const KitPlacement& placement, const QPointF& kitPoint);
QPointF siteToKit(const KitPlacement& placement, const QPointF& sitePoint);
// The kit's rectangle (kit coordinates) as it lies on the site: four corners.
QPolygonF kitOutlineOnSite(const KitPlacement& placement, const QRectF& kitRect);
// An angle brought into [0, 360).
double normalizedDegrees(double degrees);

// The placement of a kit seen for the first time: unturned, right of every
// kit already placed (their outlines on the site, `taken`) with a gap, its
// lower edge on theirs; the first kit keeps its own coordinates.
KitPlacement placeBeside(const QVector<QPolygonF>& taken, const QRectF& kitRect, double gapCm = 200.0);

#endif
