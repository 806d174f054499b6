#ifndef CHARTVIEWFLOW_H
#define CHARTVIEWFLOW_H

#include "anchormoves.h"

#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QString>
#include <QVector2D>

struct ChartBackground;
struct ChartGeometry;
class CalibrationFlow;
class ModuleSetup;
class ViewPanel;
class QLabelEx;
class QAction;
class QLabel;
class QMouseEvent;
class QWidget;

// What the user does on and around the chart: the mouse read-outs, dragging
// an anchor and taking the move back, fitting and resetting the view, and the
// note that anchors lie outside it.
class ChartViewFlow : public QObject
{
    Q_OBJECT
public:
    // The chart area's read-outs: x, y, and the differences to the pressed point.
    struct Readouts
    {
        QLabel *x, *y, *d, *dx, *dy;
        QLabelEx* chart;   // the picture a measuring drag draws its line over
    };
    ChartViewFlow(QObject* parent, ModuleSetup& modules, const ChartGeometry& geometry, ChartBackground& background,
                  CalibrationFlow& calibration, ViewPanel* view, QWidget* chart, const Readouts& readouts, QAction* undoAction);

    void pressed(QMouseEvent* event, QPointF point);
    void moved(QMouseEvent* event, QPointF point);
    void released(QMouseEvent* event, QPointF point);
    void undoMove();
    // Offsets a measurement replaced: Ctrl+Z puts them back like a drag.
    void recordOffsets(const QList<QPair<QString, int>>& before);
    // Positions a survey replaced: Ctrl+Z puts them all back at once.
    void recordPositions(const QList<QPair<QString, QPoint>>& before);
    // The wheel zooms about the pointer: the grid edits follow.
    void zoom(QPointF point, int angleDelta);
    void fitView();
    void resetGrid();
    // Once for the same anchors and grid.
    void noteAnchorsOutside();

    QVector2D pressPos;
    int dragAnchor = -1;

signals:
    void statusMessage(const QString& text, int timeoutMs);
    void statusCleared();
    // An anchor was moved on the chart, or moved back: the table and the chart follow.
    void anchorsMoved(bool redrawNow);
    // A move or an offset change went onto the undo list.
    void moveRecorded();

private:
    void showReadouts(const QPoint& world);
    void showMeasureLine(QPointF to, const QPoint& world);
    ModuleSetup& modules;
    const ChartGeometry& geo;
    ChartBackground& bg;
    CalibrationFlow& calibration;
    ViewPanel* view;
    QWidget* chart;
    Readouts labels;
    QAction* undoAction;
    AnchorMoves moves;
    QPoint dragStart;       // where the dragged anchor stood before the drag
    QPointF pressPixel;     // where a measuring drag began, in the chart label's pixels
    bool measuring = false;
    QString outsideNote;    // the anchors and grid of the last note
    // A drag with the middle button pans: where it began, the grid then and its scale.
    bool panning = false;
    QPointF panStart;
    int panGridX = 0, panGridY = 0;
    double panCmPerPixel = 1.0;
};

#endif
