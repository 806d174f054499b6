#ifndef ZONEEVENTS_H
#define ZONEEVENTS_H

#include "zone.h"
#include "zoneevent.h"
#include "zonegeometry.h"

#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVector>

#include <map>

// Which tags are in which zone, and the events when that changes: enter and
// exit with hysteresis (ZoneRules), a timeout for a tag that falls silent, one
// dwell event per stay. Fed by the positioning step with every new shown
// position, so the live chart, a replay and the batch mode give the same
// events. Window-free.
class ZoneEvents
{
public:
    // Replaces the zones. A zone kept under its name keeps its tags' states:
    // the new shape decides with the next fixes, so a tag that stays inside
    // gives no exit and enter. Zones gone take their states along, silently.
    void setZones(const QVector<Zone>& zones);
    const QVector<Zone>& zones() const { return zoneList; }
    void setRules(const ZoneRules& rules) { rules_ = rules; }
    const ZoneRules& rules() const { return rules_; }

    // A new shown position of a tag at ms (cm).
    void addFix(const QString& tagId, const QString& tagName, const QPointF& position, qint64 ms);
    // The clock moved on to ms: timeouts and dwell times fall due.
    void advance(qint64 ms);

    // The events since the last call, oldest first.
    QVector<ZoneEvent> takeEvents();
    bool hasEvents() const { return !pending.isEmpty(); }
    // The ids of the tags inside zone `index`, sorted.
    QStringList occupants(int index) const;
    // Forgets every state (a new recording, a cleared history); no events.
    void clear();

private:
    struct State
    {
        bool inside = false;
        int streak = 0;             // fixes in a row beyond the margin on the other side
        qint64 streakStartMs = -1;
        QPointF streakStartPosition;
        qint64 oldSideMs = -1;      // the last fix on the current side
        QPointF oldSidePosition;
        qint64 entryMs = -1;
        bool dwellSent = false;
    };
    struct TagState
    {
        QString name;
        qint64 lastFixMs = -1;
        QPointF lastPosition;
        std::map<QString, State> zones;   // by zone name
    };

    void emitEvent(ZoneEvent::Kind kind, ZoneEvent::Reason reason, const QString& tagId, const TagState& tag,
                   const QString& zone, qint64 ms, const QPointF& position, const State& state);
    void checkDwell(const QString& tagId, TagState& tag, qint64 ms);

    QVector<Zone> zoneList;
    QVector<ZoneShape> shapes;   // of zoneList, ready for the distances
    ZoneRules rules_;
    std::map<QString, TagState> tags;   // by tag id
    QVector<ZoneEvent> pending;
    quint64 seq = 0;
};

#endif
