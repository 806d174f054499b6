#ifndef LABELPLACEMENT_H
#define LABELPLACEMENT_H

#include <QFontMetricsF>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QVector>

#include "chartgeometry.h"

// Rectangle of a text beside a dot, in the units of area: gap to the right
// of the dot with its base line at the dot's height; where that leaves the
// area or meets one of the avoid rectangles, left of the dot, below it or
// above it (centred), then right or left a line lower or higher, the first
// that is inside and clear, else the first inside; where none is inside, pulled inside below or above the dot. A dot
// outside the area keeps the first place.
QRectF placeLabel(const QRectF& area, const QPointF& dot, double gap, const QFontMetricsF& fm,
                  const QString& text, const QVector<QRectF>& avoid = QVector<QRectF>());

// The same for a text whose advance width in fm's font is already known.
QRectF placeLabel(const QRectF& area, const QPointF& dot, double gap, const QFontMetricsF& fm,
                  double textWidth, const QVector<QRectF>& avoid);

// Base line start of a text placed in rect.
QPointF labelBaseline(const QRectF& rect, const QFontMetricsF& fm);

// One grid label: its text and rectangle in chart units.
struct AxisLabel
{
    QString text;
    QRectF rect;
};

// The grid labels of the chart in chart units, for a font with metrics fm:
// "0" below and left of the axes' crossing, values below the x axis beside
// their vertical lines and right of the y axis above their horizontal lines,
// all kept inside the chart. Only every k-th
// grid step is labelled (k = 1, 2, 5, 10, 20, ...), the smallest k at which
// neighbours keep apart. A label that would still touch one already placed,
// or one of the keepClear rectangles, is left out.
QVector<AxisLabel> axisLabels(const ChartGeometry& geo, const QFontMetricsF& fm,
                              const QVector<QRectF>& keepClear = QVector<QRectF>());

#endif
