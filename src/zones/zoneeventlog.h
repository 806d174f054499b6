#ifndef ZONEEVENTLOG_H
#define ZONEEVENTLOG_H

#include "zoneevent.h"

#include <QString>
#include <QVector>

#include <deque>

// The window's event list: the last Capacity events, newest first, and the
// offset that turns their epoch ms into the recording's clock for an export.
class ZoneEventLog
{
public:
    static constexpr int Capacity = 1000;

    void add(const ZoneEvent& event, qint64 recOffsetMs);
    void clear() { events.clear(); }
    int size() const { return int(events.size()); }
    // 0 is the newest.
    const ZoneEvent& at(int index) const { return events.at(size_t(index)).event; }
    qint64 recOffsetAt(int index) const { return events.at(size_t(index)).recOffsetMs; }
    // "10:15:30  Läufer  Lager  betreten", dwell and exit with the time inside.
    static QString line(const ZoneEvent& event);
    // The list as CSV (oldest first); false when it could not be written.
    bool exportCsv(const QString& path) const;

private:
    struct Entry { ZoneEvent event; qint64 recOffsetMs; };
    std::deque<Entry> events;   // newest first
};

#endif
