#ifndef CHARTDRAWING_H
#define CHARTDRAWING_H

#include <QColor>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QString>

#include "anchor.h"
#include "chartgeometry.h"
#include "chartpens.h"
#include "tag.h"

// The cached grid layer: optional background image, grid lines with their
// labels, half-step lines and the axes, on a transparent pixmap of the chart's
// size. background null means no image; its top-left corner lies at world
// (bgOffsetX, bgOffsetY) and each image pixel covers bgFactor cm.
QPixmap renderGridLayer(const ChartGeometry& geo, bool drawGridLines, const QImage* background,
                        int bgOffsetX, int bgOffsetY, double bgFactor);

// Scale bar of one grid step in the lower-left corner; the painter's window
// must be the pixmap's pixels.
void drawScaleBar(QPainter* painter, const ChartGeometry& geo);

// The functions below expect the painter's window to be (0, 0, gridW, gridH).

// Dots, names and the ring around the master.
void drawAnchorItems(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                     const QList<Anchor>& anchors);

// Circle of the given radius (cm) around an anchor, drawn with pen in color.
void drawDistanceCircle(QPainter* painter, const ChartGeometry& geo, QPen& pen,
                        const Anchor& anchor, int radius, const QColor& color);

// Dot and name at the unrounded solver result (x, y).
void drawRawPosition(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                     const Tag& tag, float x, float y);

// Text beside the averaged position: the name, followed by the coordinates,
// speed and rate in brackets as the tag's flags ask.
QString averagedLabel(const Tag& tag, double rate);

// Dot at (avgX, avgY) and averagedLabel beside it.
void drawAveragedPosition(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                          const Tag& tag, double rate);

#endif
