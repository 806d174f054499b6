#ifndef CHARTZONE_H
#define CHARTZONE_H

#include "chartgeometry.h"

#include <QColor>
#include <QFont>
#include <QPolygonF>
#include <QString>
#include <QVector>

class QPainter;

// A zone as the chart's grid layer shows it: a translucent fill, its outline
// and a label (the name with the occupancy, "Lager (2)").
struct ChartZone
{
    QPolygonF corners;   // world cm
    QColor color;
    QString label;
    bool operator==(const ChartZone& o) const { return corners == o.corners && color == o.color && label == o.label; }
    bool operator!=(const ChartZone& o) const { return !(*this == o); }
};

// The pixmap pixel of a world point (cm).
QPointF worldToPixel(const ChartGeometry& geo, const QPointF& world);

// Paints the zones in pixmap pixels (the painter's default window), over the
// floor plan and the shading, with the label in `font` at each zone's middle.
void drawChartZones(QPainter* painter, const ChartGeometry& geo, const QVector<ChartZone>& zones, const QFont& font);

#endif
