#ifndef CHARTFIT_H
#define CHARTFIT_H

#include <QList>
#include <QPoint>
#include <QSize>
#include <QVector>

#include "anchor.h"

// A grid rectangle in world centimetres as the grid edits take it: (x, y) is
// the lower-left corner.
struct GridRect
{
    int x = 0, y = 0, w = 0, h = 0;
    bool isEmpty() const { return w <= 0 || h <= 0; }
};

// The grid that shows every anchor and every point of alsoShow (the tags):
// their bounding box with a margin of 10 % of its extent, at least 100 cm, on
// each side, widened about its centre to the aspect of a chart of chartSize
// pixels and rounded outwards to whole 10 cm; empty when there are no anchors.
GridRect fitViewRect(const QList<Anchor>& anchors, const QSize& chartSize,
                     const QVector<QPoint>& alsoShow = QVector<QPoint>());

// How many anchors lie outside the grid; one on its edge counts as shown.
int anchorsOutside(const QList<Anchor>& anchors, const GridRect& grid);

#endif
