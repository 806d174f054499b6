#ifndef ZONEEDITFLOW_H
#define ZONEEDITFLOW_H

#include "zone.h"

#include <QObject>
#include <QPointF>
#include <QPolygonF>
#include <QString>
#include <QVector>

struct ChartGeometry;
class ZoneEvents;
class QMouseEvent;

// Drawing and editing zones on the chart: corners clicked one by one (a
// double-click or Enter closes, Escape cancels), a rectangle dragged with
// Shift, a corner dragged afterwards, each change undoable. The zones live in
// the positioning step's engine, which re-decides its tags with every change.
class ZoneEditFlow : public QObject
{
    Q_OBJECT
public:
    ZoneEditFlow(QObject* parent, ZoneEvents& engine, const ChartGeometry& geometry);

    void startDrawing(const QString& name);
    void cancelDrawing();
    bool isDrawing() const { return drawing; }
    // The polygon being drawn (world cm), with the pointer's corner last.
    QPolygonF sketch() const;
    QColor sketchColor() const { return newColor; }

    // The mouse on the chart (pixmap pixels); true when the flow took it.
    bool pressed(QMouseEvent* event, QPointF point);
    bool moved(QMouseEvent* event, QPointF point);
    bool released(QMouseEvent* event, QPointF point);
    bool doubleClicked(QPointF point);
    // Enter closes the polygon being drawn.
    void finishDrawing();

    // False, with the reason in the status bar, when the zone cannot join.
    bool addZone(const Zone& zone);
    void deleteZone(int index);
    void setShown(int index, bool shown);
    // Replaces every zone (a loaded setup): no undo across it.
    void replaceAll(const QVector<Zone>& zones);

    bool canUndo() const { return !undoStack.isEmpty(); }
    void undo();

signals:
    // The zones changed (added, deleted, moved, shown, undone): chart, list,
    // publisher follow; edits by the user also mark the setup changed.
    void zonesChanged();
    void edited();
    void drawingChanged(bool on);
    void sketchChanged();
    void statusMessage(const QString& text, int timeoutMs);

private:
    void change(const QVector<Zone>& zones, const QString& message);
    void finishWith(const QPolygonF& corners);
    QPointF world(QPointF pixel) const;

    ZoneEvents& engine;
    const ChartGeometry& geo;
    QVector<QVector<Zone>> undoStack;   // the zones before each edit
    bool drawing = false;
    QString newName;
    QColor newColor;
    QPolygonF corners;        // clicked so far
    QPointF pointer;          // world point under the mouse while drawing
    bool havePointer = false;
    bool rectangle = false;   // a Shift-drag in progress
    QPointF rectStart;
    int dragZone = -1, dragCorner = -1;
    QVector<Zone> beforeDrag;
};

#endif
