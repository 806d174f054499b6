#include "zoneeditflow.h"

#include "chartgeometry.h"
#include "zonegeometry.h"
#include "settingsfile.h"
#include "zoneevents.h"

#include <QMouseEvent>

namespace {

// Colours of new zones, in turn: light enough to read a name over.
const char* const Palette[] = {"#2f80ed", "#27ae60", "#f2994a", "#9b51e0", "#eb5757", "#00a3a3", "#b08800", "#e052a8"};

constexpr double GrabPixels = 6;

} // namespace

ZoneEditFlow::ZoneEditFlow(QObject* parent, ZoneEvents& engine, const ChartGeometry& geometry)
    : QObject(parent), engine(engine), geo(geometry)
{
}

QPointF ZoneEditFlow::world(QPointF pixel) const
{
    return QPointF(pixelToWorld(geo, pixel));
}

void ZoneEditFlow::startDrawing(const QString& name)
{
    drawing = true;
    newName = name;
    newColor = QColor(QLatin1String(Palette[engine.zones().size() % 8]));
    corners.clear();
    havePointer = false;
    rectangle = false;
    emit drawingChanged(true);
    emit sketchChanged();
    emit statusMessage(tr("Zone „%1“: Ecken anklicken, Doppelklick oder Enter schließt, Esc bricht ab").arg(name), 0);
}

void ZoneEditFlow::cancelDrawing()
{
    if (!drawing)
        return;
    drawing = false;
    corners.clear();
    rectangle = false;
    emit drawingChanged(false);
    emit sketchChanged();
    emit statusMessage(QString(), 1);
}

QPolygonF ZoneEditFlow::sketch() const
{
    if (rectangle && havePointer)
        return QPolygonF({rectStart, QPointF(pointer.x(), rectStart.y()), pointer, QPointF(rectStart.x(), pointer.y())});
    QPolygonF out = corners;
    if (havePointer && !corners.isEmpty())
        out << pointer;
    return out;
}

bool ZoneEditFlow::pressed(QMouseEvent* event, QPointF point)
{
    if (event->button() != Qt::LeftButton)
        return drawing;
    const QPointF at = world(point);
    if (drawing) {
        if (event->modifiers() & Qt::ShiftModifier) {
            rectangle = true;
            rectStart = at;
        } else if (corners.isEmpty() || corners.last() != at) {
            corners << at;
        }
        pointer = at;
        havePointer = true;
        emit sketchChanged();
        return true;
    }
    // A corner of a shown zone under the pointer is taken for a drag.
    const double grab = GrabPixels * geo.cmPerPixel;
    const QVector<Zone>& zones = engine.zones();
    for (int z = zones.size() - 1; z >= 0; --z) {
        if (!zones.at(z).shown)
            continue;
        for (int c = 0; c < zones.at(z).corners.size(); ++c) {
            const QPointF d = zones.at(z).corners.at(c) - at;
            if (qAbs(d.x()) <= grab && qAbs(d.y()) <= grab) {
                dragZone = z;
                dragCorner = c;
                beforeDrag = zones;
                return true;
            }
        }
    }
    return false;
}

bool ZoneEditFlow::moved(QMouseEvent* event, QPointF point)
{
    const QPointF at = world(point);
    if (drawing) {
        pointer = at;
        havePointer = true;
        emit sketchChanged();
        return false;   // the read-outs still follow the pointer
    }
    if (dragZone >= 0 && (event->buttons() & Qt::LeftButton) && dragZone < engine.zones().size()) {
        QVector<Zone> zones = engine.zones();
        zones[dragZone].corners[dragCorner] = at;
        engine.setZones(zones);
        emit zonesChanged();
        return true;
    }
    return false;
}

bool ZoneEditFlow::released(QMouseEvent* event, QPointF point)
{
    if (drawing && rectangle) {
        rectangle = false;
        const QPointF end = world(point);
        finishWith(QPolygonF({rectStart, QPointF(end.x(), rectStart.y()), end, QPointF(rectStart.x(), end.y())}));
        return true;
    }
    if (drawing)
        return true;
    if (dragZone < 0)
        return false;
    Q_UNUSED(event);
    const int z = dragZone;
    dragZone = -1;
    if (z >= engine.zones().size() || beforeDrag.value(z).corners == engine.zones().at(z).corners)
        return true;
    QVector<Zone> others = engine.zones();
    const Zone moved = others.takeAt(z);
    const QString refusal = zoneRefusal(moved, others);
    if (!refusal.isEmpty()) {
        engine.setZones(beforeDrag);
        emit zonesChanged();
        emit statusMessage(tr("Ecke nicht verschoben: %1").arg(refusal), 10000);
        return true;
    }
    undoStack.append(beforeDrag);
    emit edited();
    emit statusMessage(tr("Zone „%1“ geändert – Strg+Z macht es rückgängig").arg(moved.name), 10000);
    return true;
}

bool ZoneEditFlow::doubleClicked(QPointF point)
{
    if (!drawing)
        return false;
    const QPointF at = world(point);
    if (corners.isEmpty() || corners.last() != at)
        corners << at;
    finishDrawing();
    return true;
}

void ZoneEditFlow::finishDrawing()
{
    if (drawing)
        finishWith(corners);
}

void ZoneEditFlow::finishWith(const QPolygonF& drawn)
{
    Zone zone;
    zone.name = newName;
    zone.color = newColor;
    zone.corners = drawn;
    const QString refusal = zoneRefusal(zone, engine.zones());
    if (!refusal.isEmpty()) {
        // Too few corners yet: the drawing goes on; anything else ends it.
        if (zoneShapeFault(drawn) == ZoneShapeFault::TooFewCorners && !drawn.isEmpty() && drawn.size() < 3) {
            emit statusMessage(tr("Zone nicht angelegt: %1").arg(refusal), 10000);
            return;
        }
        cancelDrawing();
        emit statusMessage(tr("Zone nicht angelegt: %1").arg(refusal), 10000);
        return;
    }
    drawing = false;
    corners.clear();
    emit drawingChanged(false);
    emit sketchChanged();
    addZone(zone);
}

bool ZoneEditFlow::addZone(const Zone& zone)
{
    const QString refusal = zoneRefusal(zone, engine.zones());
    if (!refusal.isEmpty()) {
        emit statusMessage(tr("Zone nicht angelegt: %1").arg(refusal), 10000);
        return false;
    }
    change(engine.zones() + QVector<Zone>{zone}, tr("Zone „%1“ angelegt – Strg+Z macht es rückgängig").arg(zone.name));
    return true;
}

void ZoneEditFlow::deleteZone(int index)
{
    if (index < 0 || index >= engine.zones().size())
        return;
    QVector<Zone> zones = engine.zones();
    const QString name = zones.takeAt(index).name;
    change(zones, tr("Zone „%1“ gelöscht – Strg+Z macht es rückgängig").arg(name));
}

void ZoneEditFlow::setShown(int index, bool shown)
{
    if (index < 0 || index >= engine.zones().size() || engine.zones().at(index).shown == shown)
        return;
    QVector<Zone> zones = engine.zones();
    zones[index].shown = shown;
    change(zones, QString());
}

void ZoneEditFlow::replaceAll(const QVector<Zone>& zones)
{
    cancelDrawing();
    undoStack.clear();
    engine.setZones(zones);
    emit zonesChanged();
}

void ZoneEditFlow::change(const QVector<Zone>& zones, const QString& message)
{
    undoStack.append(engine.zones());
    engine.setZones(zones);
    emit zonesChanged();
    emit edited();
    if (!message.isEmpty())
        emit statusMessage(message, 10000);
}

void ZoneEditFlow::undo()
{
    if (undoStack.isEmpty())
        return;
    engine.setZones(undoStack.takeLast());
    emit zonesChanged();
    emit edited();
    emit statusMessage(tr("Zonenänderung zurückgenommen"), 5000);
}
