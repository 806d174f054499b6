#include "chartviewflow.h"

#include "chartfit.h"
#include "chartgeometry.h"
#include "mainwin.h"
#include "solver.h"
#include "ui_mainwin.h"
#include "qlabelex.h"

#include <QAction>
#include <QLabel>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTimer>

void ChartViewFlow::fitView()
{
    const GridRect r = fitViewRect(w.modules.anchors, w.ui->chart->size());
    if (r.isEmpty()) {
        w.ui->statusBar->showMessage(MainWin::tr("Keine Anker – nichts anzupassen"), 5000);
        return;
    }
    w.setGridEdits(r.x, r.y, r.w, r.h);
    outsideNote.clear();
    w.ui->statusBar->clearMessage();
}

// Tells the user, once for the same anchors and grid, that the grid hides
// some anchors; the grid itself changes only when the user asks.
void ChartViewFlow::noteAnchorsOutside()
{
    GridRect grid;
    if (!parseInt(w.ui->edtGridX->text(), grid.x) || !parseInt(w.ui->edtGridY->text(), grid.y)
        || !parseInt(w.ui->edtGridW->text(), grid.w) || !parseInt(w.ui->edtGridH->text(), grid.h))
        return;
    if (anchorsOutside(w.modules.anchors, grid) == 0) {
        outsideNote.clear();
        return;
    }
    QString key = QStringLiteral("%1 %2 %3 %4").arg(grid.x).arg(grid.y).arg(grid.w).arg(grid.h);
    for (const Anchor& a : qAsConst(w.modules.anchors))
        key += QStringLiteral(";%1 %2 %3").arg(a.id).arg(a.x).arg(a.y);
    if (key == outsideNote)
        return;
    outsideNote = key;
    w.ui->statusBar->showMessage(MainWin::tr("Anker außerhalb der Ansicht – „Ansicht anpassen“ zeigt alle"), 15000);
}

void ChartViewFlow::resetGrid()
{
    if (w.imageGridW <= 10)
        w.imageGridW = 100;
    if (w.imageGridH <= 100)
        w.imageGridH = 100;
    w.ui->edtGridH->setText(QString::number(w.imageGridH));
    w.ui->edtGridW->setText(QString::number(w.imageGridW));
    w.ui->edtGridX->setText(QString::number(w.imageGridX));
    w.ui->edtGridY->setText(QString::number(w.imageGridY));
}

void ChartViewFlow::showReadouts(const QPoint& world)
{
    w.ui->lblMouseX->setText(MainWin::tr("%1 cm").arg(world.x()));
    w.ui->lblMouseY->setText(MainWin::tr("%1 cm").arg(world.y()));
    const float d = w.pressPos.distanceToPoint(QVector2D(world));
    w.ui->lblMouseD->setText(MainWin::tr("%1 cm").arg(truncCm(d)));
    w.ui->lblMouseXD->setText(MainWin::tr("%1 cm").arg(qint64(world.x()) - truncCm(w.pressPos.x())));
    w.ui->lblMouseYD->setText(MainWin::tr("%1 cm").arg(qint64(world.y()) - truncCm(w.pressPos.y())));
}

void ChartViewFlow::showMeasureLine(QPointF to, const QPoint& world)
{
    // A drag over the floor measures: its line and length stay on the chart
    // until the next press.
    if (!measuring || QLineF(pressPixel, to).length() < 3) {
        w.ui->lblChart->setMeasureLine(QLineF(), QString());
        return;
    }
    const int length = truncCm(w.pressPos.distanceToPoint(QVector2D(world)));
    w.ui->lblChart->setMeasureLine(QLineF(pressPixel, to), MainWin::tr("%1 cm").arg(length));
}

void ChartViewFlow::pressed(QMouseEvent* event, QPointF point)
{
    const QPoint world = pixelToWorld(w.chartGeo, point);
    w.pressPos = QVector2D(world);
    w.dragAnchor = -1;
    pressPixel = point;
    measuring = false;
    w.ui->lblChart->setMeasureLine(QLineF(), QString());
    if (event->buttons() & Qt::LeftButton) {
        // A click picks a calibration point while one is asked for, else it may grab an anchor.
        if (!w.calibrationFlow.pick(world) && w.mouseMode == 0) {
            const qint64 t = qint64(5 * w.chartGeo.cmPerPixel);
            for (int i = w.modules.anchors.size() - 1; i >= 0; --i) {
                const Anchor& a = w.modules.anchors.at(i);
                if (qAbs(qint64(a.x) - world.x()) <= t && qAbs(qint64(a.y) - world.y()) <= t) {
                    w.dragAnchor = i;
                    dragStart = QPoint(a.x, a.y);
                    break;
                }
            }
        }
    }
    measuring = (event->buttons() & Qt::LeftButton) && w.dragAnchor < 0 && w.mouseMode == 0;
    w.ui->lblMouseX->setText(MainWin::tr("%1 cm").arg(world.x()));
    w.ui->lblMouseY->setText(MainWin::tr("%1 cm").arg(world.y()));
    for (QLabel* l : {w.ui->lblMouseD, w.ui->lblMouseXD, w.ui->lblMouseYD})
        l->setText(MainWin::tr("0 cm"));
}

void ChartViewFlow::moved(QMouseEvent* event, QPointF point)
{
    const QPoint world = pixelToWorld(w.chartGeo, point);
    if ((event->buttons() & Qt::LeftButton) && w.dragAnchor >= 0 && w.dragAnchor < w.modules.anchors.size()) {
        w.modules.anchors[w.dragAnchor].x = world.x();
        w.modules.anchors[w.dragAnchor].y = world.y();
    }
    if (event->buttons() & Qt::LeftButton)
        showMeasureLine(point, world);
    showReadouts(world);
}

void ChartViewFlow::released(QMouseEvent* event, QPointF point)
{
    const QPoint world = pixelToWorld(w.chartGeo, point);
    if (!(event->buttons() & Qt::LeftButton) && w.dragAnchor >= 0) {
        if (w.dragAnchor < w.modules.anchors.size()) {
            const Anchor& a = w.modules.anchors.at(w.dragAnchor);
            if (QPoint(a.x, a.y) != dragStart) {
                moves.recordMove(a.id, dragStart);
                w.undoMoveAction->setEnabled(true);
                w.statusBar()->showMessage(MainWin::tr("Anker %1 verschoben – Strg+Z macht es rückgängig").arg(a.id), 10000);
            }
        }
        w.fillAnchorTable();
    }
    showMeasureLine(point, world);
    measuring = false;
    showReadouts(world);
}

void ChartViewFlow::recordOffsets(const QList<QPair<QString, int>>& before)
{
    moves.recordOffsets(before);
    w.undoMoveAction->setEnabled(moves.canUndo());
}

void ChartViewFlow::undoMove()
{
    const QString id = moves.undo(w.modules.anchors);
    w.undoMoveAction->setEnabled(moves.canUndo());
    if (id.isEmpty())
        return;
    w.fillAnchorTable();
    w.gridDirty = true;
    // While disconnected no chart pass runs; show the anchor back in place now.
    if (!w.redrawTimer->isActive())
        w.redrawChart();
    w.statusBar()->showMessage(MainWin::tr("Anker %1 zurückgesetzt").arg(id), 5000);
}
