#ifndef CHARTDRAWING_H
#define CHARTDRAWING_H

#include <QColor>
#include <QFontMetrics>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QRectF>
#include <QString>
#include <QVector>

#include "anchor.h"
#include "chartgeometry.h"
#include "chartpens.h"
#include "errorellipse.h"
#include "positioningstep.h"
#include "tag.h"

// The white box under one grid label: in pixmap pixels, and the same box in
// chart units.
struct GridLabelBox
{
    QRect pixels;
    QRectF units;
};

// The cached grid layer: optional background image, grid lines with their
// labels on white boxes, half-step lines and the axes, on a transparent
// pixmap of the chart's size. background null means no image; its top-left
// corner lies at world (bgOffsetX, bgOffsetY) and each image pixel covers
// bgFactor cm. No grid label is drawn over the keepClear rectangles (chart
// units); labelBoxes, when given, receives the boxes of the labels drawn.
// The labels are drawn in font, or without one in axisFontPixelSize; with
// drawLabels false they are placed but not drawn (the layer a frame takes
// the pixels from where a label gives way).
QPixmap renderGridLayer(const ChartGeometry& geo, bool drawGridLines, const QImage* background,
                        int bgOffsetX, int bgOffsetY, double bgFactor,
                        const QVector<QRectF>& keepClear = QVector<QRectF>(),
                        QVector<GridLabelBox>* labelBoxes = nullptr, const QFont* font = nullptr,
                        bool drawLabels = true,
                        const QImage* shading = nullptr, const QRectF& shadingRect = QRectF());

enum class ScaleBarCorner { BottomLeft, BottomRight, TopRight, TopLeft };

// The white box of the scale bar in a corner of the chart, in pixmap pixels,
// for the painter's font with metrics fm.
QRect scaleBarRect(const ChartGeometry& geo, const QFontMetrics& fm, ScaleBarCorner corner);

// The corner for the scale bar: the first of bottom left, bottom right, top
// right, top left that none of the obstacles (chart units) and none of the
// circles (their bounding squares, chart units) crosses, else the least
// covered. It depends on nothing but its arguments, so a frame painted from
// the same state always puts the bar in the same place.
ScaleBarCorner chooseScaleBarCorner(const ChartGeometry& geo, const QFontMetrics& fm,
                                    const QVector<QRectF>& obstacles,
                                    const QVector<QRectF>& circles = QVector<QRectF>());

// A box of the given size (pixels) in a corner, as far from the edges as
// the scale bar's.
QRect cornerBox(const ChartGeometry& geo, const QSize& size, ScaleBarCorner corner);

// The corner of `order` for a box of the given size that the obstacles and
// circles (chart units, as for the scale bar) cover least, the first free one.
ScaleBarCorner chooseFreeCorner(const ChartGeometry& geo, const QSize& size, const QVector<QRectF>& obstacles,
                                const QVector<QRectF>& circles, const QVector<ScaleBarCorner>& order);

// Chart-unit rectangles of the anchors' dots, then of their names, as
// drawAnchorItems places them.
QVector<QRectF> anchorItemRects(const ChartGeometry& geo, const ChartPens& pens,
                                const QList<Anchor>& anchors);

// Scale bar of one grid step on a white box in the given corner; the
// painter's window must be the pixmap's pixels.
void drawScaleBar(QPainter* painter, const ChartGeometry& geo,
                  ScaleBarCorner corner = ScaleBarCorner::BottomLeft);

// The functions below expect the painter's window to be (0, 0, gridW, gridH).

// Module labels sit 10 px right of their dot; where that would leave the
// chart or cover what this pass drew before (pens.placed), left of it, below
// or above it, or pulled inside. A label wider than the chart gets a smaller
// font. drawAnchorItems starts the pass's record in pens.placed.
// With a null painter they only place: pens.placed is filled as painting
// would fill it, and nothing is drawn.

// Squares, names and the ring around the master.
void drawAnchorItems(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                     const QList<Anchor>& anchors);

// Circle of the given radius (cm) around an anchor, drawn with pen in color.
void drawDistanceCircle(QPainter* painter, const ChartGeometry& geo, QPen& pen,
                        const Anchor& anchor, int radius, const QColor& color);

// A small ring at the unrounded solver result (x, y), without a name: the
// name belongs to the position shown (the averaged or filtered one).
void drawRawPosition(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                     const Tag& tag, float x, float y);

// Text beside the averaged position: the name, followed by the coordinates
// (with "±N cm" when plusMinusCm is 0 or more), speed and rate in brackets as
// the tag's flags ask.
QString averagedLabel(const Tag& tag, double rate, int plusMinusCm = -1);

// Disc at (avgX, avgY) and averagedLabel beside it.
void drawAveragedPosition(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                          const Tag& tag, double rate, int plusMinusCm = -1);

// The 95 % ellipse around (avgX, avgY), thin and translucent in the tag's colour.
void drawUncertaintyEllipse(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                            const Tag& tag, const ErrorEllipse& ellipse);

// The trail as a line in the tag's colour that fades with its points' age.
void drawTrail(QPainter* painter, const ChartGeometry& geo, ChartPens& pens, const QColor& color,
               const QVector<TrailPoint>& trail);

#endif
