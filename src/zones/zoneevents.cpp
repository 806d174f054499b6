#include "zoneevents.h"

#include "zonegeometry.h"

#include <algorithm>

namespace {

// Events nobody took (no list, no export) are dropped beyond this, oldest first.
constexpr int MaxPending = 10000;

} // namespace

void ZoneEvents::setZones(const QVector<Zone>& zones)
{
    for (auto& tag : tags) {
        auto& states = tag.second.zones;
        for (auto it = states.begin(); it != states.end();) {
            const auto kept = std::find_if(zones.begin(), zones.end(), [&](const Zone& z) { return z.name == it->first; });
            if (kept == zones.end()) {
                it = states.erase(it);
                continue;
            }
            const auto old = std::find_if(zoneList.begin(), zoneList.end(), [&](const Zone& z) { return z.name == it->first; });
            // A streak counted against the old shape says nothing about the new one.
            if (old == zoneList.end() || old->corners != kept->corners)
                it->second.streak = 0;
            ++it;
        }
    }
    zoneList = zones;
    shapes.clear();
    for (const Zone& z : zones)
        shapes.append(ZoneShape(z.corners));
}

void ZoneEvents::emitEvent(ZoneEvent::Kind kind, ZoneEvent::Reason reason, const QString& tagId, const TagState& tag,
                           const QString& zone, qint64 ms, const QPointF& position, const State& state)
{
    ZoneEvent e;
    e.kind = kind;
    e.reason = reason;
    e.tagId = tagId;
    e.tagName = tag.name;
    e.zone = zone;
    e.ms = ms;
    e.position = position;
    if (kind != ZoneEvent::Enter) {
        e.entryMs = state.entryMs;
        e.dwellSeconds = double(ms - state.entryMs) / 1000.0;
    }
    e.seq = ++seq;
    if (pending.size() >= MaxPending)
        pending.removeFirst();
    pending.append(e);
}

void ZoneEvents::addFix(const QString& tagId, const QString& tagName, const QPointF& position, qint64 ms)
{
    TagState& tag = tags[tagId];
    tag.name = tagName;
    tag.lastFixMs = ms;
    tag.lastPosition = position;
    // Beyond this outside the bounding box every rule decides alike.
    const double exactWithin = qMax(rules_.enterMargin, rules_.exitTolerance) + 1;
    for (int z = 0; z < zoneList.size(); ++z) {
        const Zone& zone = zoneList.at(z);
        const double d = shapes.at(z).signedDistance(position, exactWithin);
        State& s = tag.zones[zone.name];
        if (!s.inside) {
            s.streak = d >= rules_.enterMargin ? s.streak + 1 : 0;
            if (s.streak == 1) {
                s.streakStartMs = ms;
                s.streakStartPosition = position;
            }
            if (s.streak >= qMax(1, rules_.enterFixes)) {
                // The crossing lies after the last fix outside; a tag first
                // seen inside entered with the first fix of its streak.
                const bool seenOutside = s.oldSideMs >= 0;
                s.inside = true;
                s.streak = 0;
                s.entryMs = seenOutside ? s.oldSideMs : s.streakStartMs;
                s.dwellSent = false;
                emitEvent(ZoneEvent::Enter, ZoneEvent::Boundary, tagId, tag, zone.name, s.entryMs,
                          seenOutside ? s.oldSidePosition : s.streakStartPosition, s);
                s.oldSideMs = ms;
                s.oldSidePosition = position;
            } else if (d < 0) {
                s.oldSideMs = ms;
                s.oldSidePosition = position;
            }
        } else {
            s.streak = d <= -rules_.exitTolerance ? s.streak + 1 : 0;
            if (s.streak >= qMax(1, rules_.exitFixes)) {
                s.streak = 0;
                s.inside = false;
                emitEvent(ZoneEvent::Exit, ZoneEvent::Boundary, tagId, tag, zone.name, s.oldSideMs, s.oldSidePosition, s);
                s.entryMs = -1;
                s.oldSideMs = ms;
                s.oldSidePosition = position;
            } else if (d >= 0) {
                s.oldSideMs = ms;
                s.oldSidePosition = position;
            }
        }
    }
}

void ZoneEvents::advance(qint64 ms)
{
    for (auto it = tags.begin(); it != tags.end();) {
        TagState& tag = it->second;
        if (rules_.timeoutSeconds > 0 && tag.lastFixMs >= 0 && ms - tag.lastFixMs >= qint64(rules_.timeoutSeconds) * 1000) {
            // Gone quiet: it leaves every zone it was in, as of its last fix.
            for (const Zone& zone : qAsConst(zoneList)) {
                const auto s = tag.zones.find(zone.name);
                if (s != tag.zones.end() && s->second.inside)
                    emitEvent(ZoneEvent::Exit, ZoneEvent::Timeout, it->first, tag, zone.name, tag.lastFixMs,
                              tag.lastPosition, s->second);
            }
            it = tags.erase(it);
            continue;
        }
        for (const Zone& zone : qAsConst(zoneList)) {
            const auto found = tag.zones.find(zone.name);
            if (zone.dwellSeconds <= 0 || found == tag.zones.end())
                continue;
            State& s = found->second;
            const qint64 due = s.entryMs + qint64(zone.dwellSeconds) * 1000;
            if (s.inside && !s.dwellSent && ms >= due) {
                s.dwellSent = true;
                emitEvent(ZoneEvent::Dwell, ZoneEvent::Boundary, it->first, tag, zone.name, due, tag.lastPosition, s);
            }
        }
        ++it;
    }
}

QVector<ZoneEvent> ZoneEvents::takeEvents()
{
    QVector<ZoneEvent> taken;
    taken.swap(pending);
    return taken;
}

QStringList ZoneEvents::occupants(int index) const
{
    QStringList ids;
    if (index < 0 || index >= zoneList.size())
        return ids;
    for (const auto& tag : tags) {
        const auto s = tag.second.zones.find(zoneList.at(index).name);
        if (s != tag.second.zones.end() && s->second.inside)
            ids.append(tag.first);
    }
    return ids;   // the map keeps them sorted
}

void ZoneEvents::clear()
{
    tags.clear();
    pending.clear();
}
