#ifndef COVERAGEMAP_H
#define COVERAGEMAP_H

#include "anchor.h"
#include "chartgeometry.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QPointF>
#include <QVector>

class QFont;

// How well the anchors' layout fixes a position anywhere on the chart: the
// horizontal dilution of precision (HDOP) of the anchors seen from each cell,
// as a translucent shading of the chart and its legend. It is rebuilt only
// when the geometry, the anchors or the range limit change, so the chart
// layer that carries it is drawn as rarely as before.
class CoverageMap
{
public:
    enum Grade { Good, Fair, Poor, OutOfRange };   // HDOP <= 1.5, <= 3, beyond; under three anchors
    static constexpr double GoodHdop = 1.5;
    static constexpr double FairHdop = 3.0;
    // Pixels per cell side: fine enough to follow the boundaries, coarse
    // enough that a rebuild keeps up with an anchor being dragged.
    static constexpr int CellPx = 4;

    // HDOP at world point p (cm) for the anchors at the given points;
    // infinite where they fix no position (fewer than two directions).
    static double horizontalDop(const QPointF& p, const QVector<QPointF>& anchors);
    // The grade at p: anchors farther than rangeLimit cm (0: no limit) do
    // not count, and under three that count there is OutOfRange.
    static Grade gradeAt(const QPointF& p, const QVector<QPointF>& anchors, int rangeLimit);
    static QColor gradeColor(Grade g);

    // Rebuilds the shading when its inputs changed; true when it did.
    bool update(const ChartGeometry& geo, const QList<Anchor>& anchors, int rangeLimit);
    // One pixel per cell, from the chart's top-left corner; drawn over the
    // rectangle shadingRect() (chart units).
    const QImage& shading() const { return image; }
    QRectF shadingRect() const { return rect; }

    // The legend box for the given font; the grey line only where grey can
    // show (a range limit, or fewer than three anchors).
    QPixmap legend(const QFont& font, bool withOutOfRange);

private:
    QByteArray key;      // the inputs of the shading that stands
    QImage image;
    QRectF rect;
    QByteArray legendKey;
    QPixmap legendBox;
};

#endif
