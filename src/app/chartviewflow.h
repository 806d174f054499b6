#ifndef CHARTVIEWFLOW_H
#define CHARTVIEWFLOW_H

#include "anchormoves.h"

#include <QPoint>
#include <QPointF>
#include <QString>

class MainWin;
class QMouseEvent;

// What the user does on and around the chart: the mouse read-outs, dragging
// an anchor and taking the move back, fitting and resetting the view, and the
// note that anchors lie outside it.
class ChartViewFlow
{
public:
    explicit ChartViewFlow(MainWin& window) : w(window) {}

    void pressed(QMouseEvent* event, QPointF point);
    void moved(QMouseEvent* event, QPointF point);
    void released(QMouseEvent* event, QPointF point);
    void undoMove();
    // Offsets a measurement replaced: Ctrl+Z puts them back like a drag.
    void recordOffsets(const QList<QPair<QString, int>>& before);
    void fitView();
    void resetGrid();
    // Once for the same anchors and grid.
    void noteAnchorsOutside();

private:
    void showReadouts(const QPoint& world);
    void showMeasureLine(QPointF to, const QPoint& world);
    MainWin& w;
    AnchorMoves moves;
    QPoint dragStart;       // where the dragged anchor stood before the drag
    QPointF pressPixel;     // where a measuring drag began, in the chart label's pixels
    bool measuring = false;
    QString outsideNote;    // the anchors and grid of the last note
};

#endif
