#include "chartviewflow.h"

#include "chartfit.h"
#include "chartgeometry.h"
#include "calibrationflow.h"
#include "chartbackground.h"
#include "modulesetup.h"
#include "qlabelex.h"
#include "solver.h"
#include "viewpanel.h"

#include <QAction>
#include <QLabel>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTimer>

ChartViewFlow::ChartViewFlow(QObject* parent, ModuleSetup& modules, const ChartGeometry& geometry,
                             ChartBackground& background, CalibrationFlow& calibration, ViewPanel* view, QWidget* chart,
                             const Readouts& readouts, QAction* undoAction)
    : QObject(parent), modules(modules), geo(geometry), bg(background), calibration(calibration), view(view),
      chart(chart), labels(readouts), undoAction(undoAction)
{
    for (QLabel* l : {labels.x, labels.y, labels.d, labels.dx, labels.dy}) {
        l->setText(QStringLiteral("-"));
        // Room for the usual read-outs, so the window need not grow as they change.
        l->setMinimumWidth(l->fontMetrics().horizontalAdvance(tr("%1 cm").arg(-9999)));
    }
}

void ChartViewFlow::fitView()
{
    // The tags where they were last seen count as well as the anchors.
    QVector<QPoint> tags;
    for (const Tag& t : qAsConst(modules.tags))
        if (t.avgX != Tag::NoPosition && t.avgY != Tag::NoPosition)
            tags.append(QPoint(t.avgX, t.avgY));
    const GridRect r = fitViewRect(modules.anchors, chart->size(), tags);
    if (r.isEmpty()) {
        emit statusMessage(tr("Keine Anker – nichts anzupassen"), 5000);
        return;
    }
    view->setGridRect(r.x, r.y, r.w, r.h);
    outsideNote.clear();
    emit statusCleared();
}

// Tells the user, once for the same anchors and grid, that the grid hides
// some anchors; the grid itself changes only when the user asks.
void ChartViewFlow::noteAnchorsOutside()
{
    GridRect grid;
    if (!view->gridRect(grid.x, grid.y, grid.w, grid.h))
        return;
    // What the chart shows: the asked grid and the floor that fills the rest of its area.
    ChartGeometry shown;
    if (computeChartGeometry(grid.x, grid.y, grid.w, grid.h, chart->width(), chart->height(), shown, true))
        grid = {shown.gridX, shown.gridY, shown.gridW, shown.gridH};
    if (anchorsOutside(modules.anchors, grid) == 0) {
        outsideNote.clear();
        return;
    }
    QString key = QStringLiteral("%1 %2 %3 %4").arg(grid.x).arg(grid.y).arg(grid.w).arg(grid.h);
    for (const Anchor& a : qAsConst(modules.anchors))
        key += QStringLiteral(";%1 %2 %3").arg(a.id).arg(a.x).arg(a.y);
    if (key == outsideNote)
        return;
    outsideNote = key;
    emit statusMessage(tr("Anker außerhalb der Ansicht – „Ansicht anpassen“ zeigt alle"), 15000);
}

void ChartViewFlow::resetGrid()
{
    if (bg.imageGridW <= 10)
        bg.imageGridW = 100;
    if (bg.imageGridH <= 100)
        bg.imageGridH = 100;
    view->setGridRect(bg.imageGridX, bg.imageGridY, bg.imageGridW, bg.imageGridH);
}

void ChartViewFlow::showReadouts(const QPoint& world)
{
    labels.x->setText(tr("%1 cm").arg(world.x()));
    labels.y->setText(tr("%1 cm").arg(world.y()));
    const float d = pressPos.distanceToPoint(QVector2D(world));
    labels.d->setText(tr("%1 cm").arg(truncCm(d)));
    labels.dx->setText(tr("%1 cm").arg(qint64(world.x()) - truncCm(pressPos.x())));
    labels.dy->setText(tr("%1 cm").arg(qint64(world.y()) - truncCm(pressPos.y())));
}

void ChartViewFlow::zoom(QPointF point, int angleDelta)
{
    int x = 0, y = 0, w = 0, h = 0;
    if (angleDelta == 0 || !view->gridRect(x, y, w, h) || w <= 0 || h <= 0)
        return;
    // One notch: a fifth closer, or back out. The world point under the
    // pointer stays under it.
    const double f = angleDelta > 0 ? 0.8 : 1.25;
    const double nw = qBound(10.0, w * f, 1e7), nh = qBound(10.0, h * f, 1e7);
    const QPoint p = pixelToWorld(geo, point);
    const double sx = nw / w, sy = nh / h;
    view->setGridRect(truncToInt(p.x() - (p.x() - double(x)) * sx), truncToInt(p.y() - (p.y() - double(y)) * sy),
                      truncToInt(nw), truncToInt(nh));
}

void ChartViewFlow::pressed(QMouseEvent* event, QPointF point)
{
    if (event->button() == Qt::MiddleButton) {
        int w = 0, h = 0;
        panning = view->gridRect(panGridX, panGridY, w, h);
        panStart = point;
        panCmPerPixel = geo.cmPerPixel;
        return;
    }
    const QPoint world = pixelToWorld(geo, point);
    pressPos = QVector2D(world);
    dragAnchor = -1;
    pressPixel = point;
    measuring = false;
    labels.chart->setMeasureLine(QLineF(), QString());
    if (event->buttons() & Qt::LeftButton) {
        // A click picks a calibration point while one is asked for, else it may
        // grab an anchor, unless the anchors are locked.
        if (!calibration.pick(world) && bg.mouseMode == 0 && !view->anchorsLocked()) {
            const qint64 t = qint64(5 * geo.cmPerPixel);
            for (int i = modules.anchors.size() - 1; i >= 0; --i) {
                const Anchor& a = modules.anchors.at(i);
                if (qAbs(qint64(a.x) - world.x()) <= t && qAbs(qint64(a.y) - world.y()) <= t) {
                    dragAnchor = i;
                    dragStart = QPoint(a.x, a.y);
                    break;
                }
            }
        }
    }
    measuring = (event->buttons() & Qt::LeftButton) && dragAnchor < 0 && bg.mouseMode == 0;
    labels.x->setText(tr("%1 cm").arg(world.x()));
    labels.y->setText(tr("%1 cm").arg(world.y()));
    for (QLabel* l : {labels.d, labels.dx, labels.dy})
        l->setText(tr("0 cm"));
}

void ChartViewFlow::moved(QMouseEvent* event, QPointF point)
{
    if (panning && (event->buttons() & Qt::MiddleButton)) {
        // The world follows the pointer; y grows upwards.
        int x = 0, y = 0, w = 0, h = 0;
        if (view->gridRect(x, y, w, h))
            view->setGridRect(truncToInt(panGridX - (point.x() - panStart.x()) * panCmPerPixel),
                              truncToInt(panGridY + (point.y() - panStart.y()) * panCmPerPixel), w, h);
        return;
    }
    const QPoint world = pixelToWorld(geo, point);
    if ((event->buttons() & Qt::LeftButton) && dragAnchor >= 0 && dragAnchor < modules.anchors.size()) {
        modules.anchors[dragAnchor].x = world.x();
        modules.anchors[dragAnchor].y = world.y();
    }
    if (event->buttons() & Qt::LeftButton)
        showMeasureLine(point, world);
    showReadouts(world);
}

void ChartViewFlow::released(QMouseEvent* event, QPointF point)
{
    if (event->button() == Qt::MiddleButton) {
        panning = false;
        return;
    }
    const QPoint world = pixelToWorld(geo, point);
    if (!(event->buttons() & Qt::LeftButton) && dragAnchor >= 0) {
        if (dragAnchor < modules.anchors.size()) {
            const Anchor& a = modules.anchors.at(dragAnchor);
            if (QPoint(a.x, a.y) != dragStart) {
                moves.recordMove(a.id, dragStart);
                undoAction->setEnabled(true);
                emit moveRecorded();
                emit statusMessage(tr("Anker %1 verschoben – Strg+Z macht es rückgängig").arg(a.id), 10000);
            }
        }
        emit anchorsMoved(false);
    }
    showMeasureLine(point, world);
    measuring = false;
    showReadouts(world);
}

void ChartViewFlow::showMeasureLine(QPointF to, const QPoint& world)
{
    // A drag over the floor measures: its line and length stay on the chart
    // until the next press.
    if (!measuring || QLineF(pressPixel, to).length() < 3) {
        labels.chart->setMeasureLine(QLineF(), QString());
        return;
    }
    const int length = truncCm(pressPos.distanceToPoint(QVector2D(world)));
    labels.chart->setMeasureLine(QLineF(pressPixel, to), tr("%1 cm").arg(length));
}

void ChartViewFlow::recordOffsets(const QList<QPair<QString, int>>& before)
{
    moves.recordOffsets(before);
    undoAction->setEnabled(moves.canUndo());
    emit moveRecorded();
}

void ChartViewFlow::recordPositions(const QList<QPair<QString, QPoint>>& before)
{
    moves.recordPositions(before);
    undoAction->setEnabled(moves.canUndo());
}

void ChartViewFlow::undoMove()
{
    const QString id = moves.undo(modules.anchors);
    undoAction->setEnabled(moves.canUndo());
    if (id.isEmpty())
        return;
    // While disconnected no chart pass runs; the anchor is shown back in place now.
    emit anchorsMoved(true);
    emit statusMessage(tr("Anker %1 zurückgesetzt").arg(id), 5000);
}
